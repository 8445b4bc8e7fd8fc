// The fast number text against the C library. The bytes as one word must read as
// strtod reads the whole word; their first eight bytes as a double must print as
// printf("%lf") prints it; all of them, eight by eight, as the cells of an output grid
// must print as "%lf\t" each, whatever room each block of text leaves.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "text/number_text.h"
#include "treatment/ascii_writer.h"

namespace {

void check_reading(const uint8_t *data, size_t size)
{
    const char *first = reinterpret_cast<const char *>(data);
    double value = 0.25;
    const bool taken = parse_real_word(first, first + size, &value);

    const std::string word(first, first + size);
    char *end = nullptr;
    const double parsed = std::strtod(word.c_str(), &end);
    // strtod skips leading blanks; a word has none.
    const bool whole =
        size > 0 && end == word.c_str() + size && !(data[0] == ' ' || (data[0] >= '\t' && data[0] <= '\r'));
    FUZZ_CHECK(taken == whole);
    if (taken)
        FUZZ_CHECK(fuzz::same_double(value, parsed));
    else
        FUZZ_CHECK(value == 0.25);
}

void check_writing(double value)
{
    // Exactly the room promised, on the heap, where the sanitizer sees every overrun.
    std::vector<char> room(FIXED6_MAX_CHARS);
    char *const fast = room.data();
    char *const end = format_fixed6(fast, value);
    FUZZ_CHECK(end > fast && static_cast<size_t>(end - fast) <= FIXED6_MAX_CHARS);
    char slow[FIXED6_MAX_CHARS + 8];
    const int length = std::snprintf(slow, sizeof slow, "%lf", value);
    FUZZ_CHECK(length > 0 && static_cast<size_t>(length) <= FIXED6_MAX_CHARS);
    FUZZ_CHECK(std::string(fast, end) == std::string(slow, static_cast<size_t>(length)));

    // What is written reads back as the nearest double to the text, as any reader gets.
    double back = 0.0;
    FUZZ_CHECK(parse_real_word(fast, end, &back));
    FUZZ_CHECK(fuzz::same_double(back, std::strtod(slow, nullptr)));
}

void check_cells(const uint8_t *data, size_t size)
{
    const size_t count = size / sizeof(double);
    if (count == 0)
        return;
    std::vector<double> cells(count);
    std::memcpy(cells.data(), data, count * sizeof(double));
    std::string expected;
    char text[FIXED6_MAX_CHARS + 8];
    for (double v : cells) {
        const int length = std::snprintf(text, sizeof text, "%lf\t", v != v ? ASCII_OUTPUT_NODATA : v);
        expected.append(text, static_cast<size_t>(length));
    }
    // A block of the least room a cell needs and up to about four kilobytes more.
    const size_t room = FIXED6_MAX_CHARS + 1 + static_cast<size_t>(data[0]) * 16;
    std::vector<char> block(room);
    std::string written;
    size_t done = 0;
    while (done < count) {
        char *end = nullptr;
        const size_t now = format_ascii_cells(cells.data() + done, count - done, block.data(),
                                              block.data() + block.size(), &end);
        FUZZ_CHECK(now > 0);
        FUZZ_CHECK(end >= block.data() && end <= block.data() + block.size());
        written.append(block.data(), end);
        done += now;
    }
    FUZZ_CHECK(written == expected);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    check_reading(data, size);
    if (size >= sizeof(double)) {
        double value;
        std::memcpy(&value, data, sizeof value);
        check_writing(value);
    }
    check_cells(data, size);
    return 0;
}
