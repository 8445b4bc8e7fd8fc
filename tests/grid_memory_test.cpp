// The memory of a run's grids: what the heap gives them, the verdict against the
// machine's memory, and the heap readied so that they sit in large pages.
#include <gtest/gtest.h>

#ifdef __linux__
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "gridfiles/grid_memory.h"
#include "nrutil.h"
#include "platform/memory.h"

namespace {

const double GIB = 1073741824.0;

#ifdef __linux__
#if defined(__SANITIZE_ADDRESS__)
const bool SANITIZED = true;  // the sanitizer's allocator is not the C library's
#else
const bool SANITIZED = false;
#endif

// The C library's heap block for a request: an 8-byte header, 16-byte granules, 32
// bytes at least.
double heap_block(size_t request)
{
    return static_cast<double>(std::max<size_t>(32, (request + 8 + 15) / 16 * 16));
}

// The need counted for a grid is what the heap really hands out.
TEST(GridMemory, GridBytesAreWhatTheHeapGives)
{
    if (SANITIZED)
        GTEST_SKIP() << "the sanitizer keeps its own heap";
    struct shape {
        int32_t lines, columns;
    } shapes[] = {{200, 300}, {1000, 1}, {7, 5001}};
    for (const shape &s : shapes) {
        const double line = heap_block(static_cast<size_t>(s.columns) * 8);
        EXPECT_EQ(grid_heap_bytes(s.lines, s.columns, 8),
                  heap_block(static_cast<size_t>(s.lines) * 8) + s.lines * line);
        double **grid = dmatrice(s.columns, s.lines);
        ASSERT_NE(grid, nullptr);
        // A used heap may hand out a free block 16 bytes larger whole: most lines match.
        int32_t exact = 0;
        for (int32_t i = 0; i < s.lines; i++) {
            const double given = static_cast<double>(malloc_usable_size(grid[i]) + 8);
            EXPECT_GE(given, line);
            exact += given == line;
        }
        frdmatrice(grid, s.lines);
        EXPECT_GE(exact * 10, s.lines * 8) << s.lines << " x " << s.columns;
    }
    EXPECT_EQ(grid_heap_bytes(0, 5, 8), 0.0);
    // 2^31 - 1 lines of 2^31 - 1 doubles, each line block 2^34 bytes: exact in a double.
    EXPECT_EQ(run_grid_bytes(2147483647, 2147483647), 3.0 * 17179869184.0 * 2147483648.0);
}

#endif // __linux__

TEST(GridMemory, VerdictAgainstTheMachine)
{
    struct verdict_case {
        double need;
        machine_memory machine;
        memory_verdict expected;
    } cases[] = {
        {10 * GIB, {24ull << 30, 0}, memory_fits},
        {24 * GIB, {24ull << 30, 0}, memory_fits},
        {24 * GIB + 1, {24ull << 30, 0}, memory_too_small},
        {30 * GIB, {24ull << 30, 8ull << 30}, memory_swaps},
        {32 * GIB, {24ull << 30, 8ull << 30}, memory_swaps},
        {33 * GIB, {24ull << 30, 8ull << 30}, memory_too_small},
        {1e20, {0, 0}, memory_fits},  // a system that does not tell: no refusal
    };
    for (const verdict_case &c : cases)
        EXPECT_EQ(judge_memory(c.need, c.machine), c.expected) << c.need / GIB << " GiB";
}

TEST(GridMemory, FiguresShownNeverFlatterTheMachine)
{
    EXPECT_EQ(gib_text(1.5 * GIB, true), "1.5 GiB");
    EXPECT_EQ(gib_text(1.5 * GIB, false), "1.5 GiB");
    EXPECT_EQ(gib_text(23.41 * GIB, true), "23.5 GiB");
    EXPECT_EQ(gib_text(23.49 * GIB, false), "23.4 GiB");
    EXPECT_EQ(gib_text(0, false), "0.0 GiB");
}

// The C library's heap and large pages are Linux's.
#ifdef __linux__
bool large_pages_offered()
{
    std::ifstream in("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string setting;
    std::getline(in, setting);
    return setting.find("[always]") != std::string::npos || setting.find("[madvise]") != std::string::npos;
}

long anon_huge_kib()
{
    std::ifstream in("/proc/self/smaps_rollup");
    std::string key;
    long value = 0;
    while (in >> key) {
        if (key == "AnonHugePages:" && in >> value)
            return value;
        in.ignore(1 << 20, '\n');
    }
    return -1;
}

int grid_lands_in_large_pages()
{
    const int32_t lines = 2048, columns = 4096;  // 64 MiB of doubles
    if (!grid_memory_hint(static_cast<size_t>(run_heap_bytes(lines, columns))))
        return 1;
    double **grid = dmatrice(columns, lines);
    if (grid == nullptr)
        return 2;
    for (int32_t i = 0; i < lines; i++)
        grid[i][columns - 1] = 1.0;
    return anon_huge_kib() >= 32 * 1024 ? 0 : 3;
}

// A refused hint leaves a block larger than any mapping threshold of the C library
// (32 MiB at most) mapped on its own, as it would be without the hint.
int refused_hint_changes_nothing()
{
    std::ifstream statm("/proc/self/statm");
    rlim_t pages = 0;
    if (!(statm >> pages))
        return 4;
    const rlim_t limit = pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (rlim_t(256) << 20);
    const struct rlimit rl = {limit, limit};
    if (setrlimit(RLIMIT_AS, &rl) != 0)
        return 4;
    if (grid_memory_hint(size_t(1) << 30))
        return 5;
    void *block = std::malloc(size_t(64) << 20);
    return block != nullptr && static_cast<char *>(block) > static_cast<char *>(sbrk(0)) ? 0 : 6;
}

// Each check runs in a fresh process: the hint changes the allocator for good, and a
// heap that other tests have used may already hold touched pages.
TEST(GridMemoryDeathTest, HintPutsTheGridsInLargePagesOrLeavesTheHeapAlone)
{
    if (SANITIZED || !ORMELIX_MEMORY_HINT || !large_pages_offered()) {
        EXPECT_FALSE(grid_memory_hint(size_t(64) << 20));
        return;
    }
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(grid_lands_in_large_pages()), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(std::exit(refused_hint_changes_nothing()), ::testing::ExitedWithCode(0), "");
}
#endif // __linux__

} // namespace
