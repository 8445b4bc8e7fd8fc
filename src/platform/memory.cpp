#include "platform/memory.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifndef ORMELIX_MEMORY_HINT
#define ORMELIX_MEMORY_HINT 1
#endif

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <unistd.h>
#endif

#if defined(__linux__)
#include <sys/sysinfo.h>
#endif

// A sanitizer brings its own allocator: the C library's heap is not the grids'.
#if defined(__SANITIZE_ADDRESS__)
#define ORMELIX_OWN_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer) || __has_feature(thread_sanitizer)
#define ORMELIX_OWN_ALLOCATOR 1
#endif
#endif

#if defined(__linux__) && defined(__GLIBC__) && ORMELIX_MEMORY_HINT && !defined(ORMELIX_OWN_ALLOCATOR)
#define ORMELIX_HEAP_IN_LARGE_PAGES 1
#include <malloc.h>
#include <sys/mman.h>
namespace {
// The heap holds the grids' large pages: never given back.
bool heap_kept = false;
} // namespace
#endif

machine_memory read_machine_memory()
{
    machine_memory memory = {0, 0};
#if defined(_WIN32)
    MEMORYSTATUSEX status;
    status.dwLength = sizeof status;
    if (GlobalMemoryStatusEx(&status)) {
        memory.physical = status.ullTotalPhys;
        // The commit limit is the memory plus the page files.
        if (status.ullTotalPageFile > status.ullTotalPhys)
            memory.swap = status.ullTotalPageFile - status.ullTotalPhys;
    }
#elif defined(__linux__)
    struct sysinfo info;
    if (sysinfo(&info) == 0) {
        memory.physical = static_cast<uint64_t>(info.totalram) * info.mem_unit;
        memory.swap = static_cast<uint64_t>(info.totalswap) * info.mem_unit;
    }
#elif defined(_SC_PHYS_PAGES) && defined(_SC_PAGESIZE)
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGESIZE);
    if (pages > 0 && page_size > 0)
        memory.physical = static_cast<uint64_t>(pages) * static_cast<uint64_t>(page_size);
#endif
    return memory;
}

#ifdef ORMELIX_HEAP_IN_LARGE_PAGES
namespace {

const char LARGE_PAGES_SETTING[] = "/sys/kernel/mm/transparent_hugepage/enabled";
const char LARGE_PAGE_SIZE[] = "/sys/kernel/mm/transparent_hugepage/hpage_pmd_size";
// glibc's own default, put back when the heap cannot be prepared.
const int DEFAULT_MMAP_MAX = 65536;

std::string first_line(const char *path)
{
    std::string line;
    FILE *fp = std::fopen(path, "r");
    if (fp == nullptr)
        return line;
    int c;
    while ((c = std::fgetc(fp)) != EOF && c != '\n')
        line.push_back(static_cast<char>(c));
    std::fclose(fp);
    return line;
}

// The system's choice is the bracketed word: "always [madvise] never".
bool large_pages_offered()
{
    const std::string setting = first_line(LARGE_PAGES_SETTING);
    return setting.find("[always]") != std::string::npos ||
           setting.find("[madvise]") != std::string::npos;
}

size_t large_page_size()
{
    const std::string text = first_line(LARGE_PAGE_SIZE);
    char *end = nullptr;
    const unsigned long long size = std::strtoull(text.c_str(), &end, 10);
    // A power of two, or the size of the x86-64 and arm64 (4 KiB pages) large page.
    if (end != text.c_str() && size >= 4096 && (size & (size - 1)) == 0)
        return static_cast<size_t>(size);
    return size_t(2) << 20;
}

} // namespace
#endif

void advise_large_pages(const void *start, size_t bytes)
{
#ifdef ORMELIX_HEAP_IN_LARGE_PAGES
    static const bool offered = large_pages_offered();
    static const size_t page = large_page_size();
    const uintptr_t first = reinterpret_cast<uintptr_t>(start);
    const uintptr_t from = (first + (page - 1)) & ~static_cast<uintptr_t>(page - 1);
    const uintptr_t to = (first + bytes) & ~static_cast<uintptr_t>(page - 1);
    if (offered && bytes >= 2 * page && from < to)
        madvise(reinterpret_cast<void *>(from), to - from, MADV_HUGEPAGE);
#else
    (void)start;
    (void)bytes;
#endif
}

bool grid_memory_hint(size_t bytes)
{
#ifdef ORMELIX_HEAP_IN_LARGE_PAGES
    if (bytes == 0 || !large_pages_offered())
        return false;
    const size_t page = large_page_size();
    // One heap block of the whole need, advised and given back: the grid lines then
    // come from it. Advising the lines afterwards gains nothing, since the allocator's
    // chunk headers have touched every small page by then. Large blocks must stay on
    // the heap (no mapping of their own), and the heap must never be given back to
    // the system: a trimmed block loses its advice.
    if (mallopt(M_MMAP_MAX, 0) == 0)
        return false;
    void *block = std::malloc(bytes);
    if (block == nullptr) {
        mallopt(M_MMAP_MAX, DEFAULT_MMAP_MAX);
        return false;
    }
    const uintptr_t first = reinterpret_cast<uintptr_t>(block);
    const uintptr_t start = (first + (page - 1)) & ~static_cast<uintptr_t>(page - 1);
    const uintptr_t end = first + bytes;
    // Every thread takes its blocks from this one heap too: a heap of its own would be
    // fresh memory, each small page of it a fault, while this one holds touched memory
    // that earlier steps gave back.
    bool advised = end > start &&
                   madvise(reinterpret_cast<void *>(start), end - start, MADV_HUGEPAGE) == 0 &&
                   mallopt(M_TRIM_THRESHOLD, -1) != 0 && mallopt(M_ARENA_MAX, 1) != 0;
    // With the usual threshold still in force, a refused block goes back to the system.
    std::free(block);
    heap_kept = heap_kept || advised;
    if (!advised)
        mallopt(M_MMAP_MAX, DEFAULT_MMAP_MAX);
    return advised;
#else
    (void)bytes;
    return false;
#endif
}

void give_back_free_memory()
{
#ifdef ORMELIX_HEAP_IN_LARGE_PAGES
    if (heap_kept)
        return;
    // A large block freed raises the allocator's thresholds to its size, after which the
    // next steps' blocks below it stay in the heap once freed: set back to the usual ones.
    const int usual = 128 * 1024;
    mallopt(M_MMAP_THRESHOLD, usual);
    mallopt(M_TRIM_THRESHOLD, usual);
    malloc_trim(0);
#endif
}
