// What the harnesses share: a broken promise is a crash, so that libFuzzer keeps the
// input and the replay test fails on it.
#ifndef ORMELIX_FUZZ_CHECK_H
#define ORMELIX_FUZZ_CHECK_H

#ifndef _WIN32
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "gridfiles/line_reader.h"

#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "%s:%d: promise broken: %s\n", __FILE__, __LINE__, #condition);             \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (0)

namespace fuzz {

// A cell a reader never wrote still holds this signalling NaN: the readers store quiet
// ones for cells without data.
inline double untouched_cell()
{
    const uint64_t bits = 0x7ff4000000dead01ULL;
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

inline bool is_untouched(double value)
{
    const double marker = untouched_cell();
    return std::memcmp(&value, &marker, sizeof value) == 0;
}

#ifdef _WIN32
// Windows has neither fmemopen nor memfd: the bytes go to a temporary file.
inline FILE *disk_file(const uint8_t *data, size_t size)
{
    FILE *fp = std::tmpfile();
    FUZZ_CHECK(fp != nullptr);
    FUZZ_CHECK(std::fwrite(data, 1, size, fp) == size);
    std::rewind(fp);
    return fp;
}

inline FILE *memory_file(const uint8_t *data, size_t size)
{
    return disk_file(data, size);
}
#else
// The bytes as a file read through the C library. fmemopen needs a buffer even for
// nothing; a real file (memfd) gives the readers a size to check, as a disk file does.
inline FILE *memory_file(const uint8_t *data, size_t size)
{
    static char nothing[1];
    void *buffer = size > 0 ? const_cast<uint8_t *>(data) : static_cast<void *>(nothing);
    FILE *fp = fmemopen(buffer, size, "rb");
    FUZZ_CHECK(fp != nullptr);
    return fp;
}

inline FILE *disk_file(const uint8_t *data, size_t size)
{
    int fd = memfd_create("fuzz-input", 0);
    FUZZ_CHECK(fd >= 0);
    size_t done = 0;
    while (done < size) {
        ssize_t put = write(fd, data + done, size - done);
        FUZZ_CHECK(put > 0);
        done += static_cast<size_t>(put);
    }
    FUZZ_CHECK(lseek(fd, 0, SEEK_SET) == 0);
    FILE *fp = fdopen(fd, "rb");
    FUZZ_CHECK(fp != nullptr);
    return fp;
}

#endif

// Bytes written through the C library, had whole once the file is closed: what
// open_memstream gives, through a temporary file on Windows.
inline FILE *open_output(char **text, size_t *length)
{
#ifdef _WIN32
    *text = nullptr;
    *length = 0;
    return std::tmpfile();
#else
    return open_memstream(text, length);
#endif
}

inline int close_output(FILE *fp, char **text, size_t *length)
{
#ifdef _WIN32
    if (std::fflush(fp) != 0 || std::fseek(fp, 0, SEEK_END) != 0)
        return EOF;
    const long size = std::ftell(fp);
    FUZZ_CHECK(size >= 0);
    *length = static_cast<size_t>(size);
    *text = static_cast<char *>(std::malloc(*length + 1));
    FUZZ_CHECK(*text != nullptr);
    std::rewind(fp);
    FUZZ_CHECK(std::fread(*text, 1, *length, fp) == *length);
    (*text)[*length] = '\0';
#else
    (void)text;
    (void)length;
#endif
    return std::fclose(fp);
}

// Two doubles that are the same bits, or both not a number.
inline bool same_double(double a, double b)
{
    if (a != a || b != b)
        return a != a && b != b;
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// A grid of lines x columns read by bands of each height in turn, each pass from line 0:
// the cells (line after line) of its whole reading, or, when that failed (read false),
// the same failure with its message.
inline void check_band_reading(line_reader *reader, int32_t lines, int32_t columns,
                               std::initializer_list<int32_t> heights, const std::vector<double> &cells, bool read,
                               const std::string &message)
{
    std::vector<double> band(static_cast<size_t>(lines) * static_cast<size_t>(columns));
    std::vector<double *> rows;
    for (int32_t i = 0; i < lines; i++)
        rows.push_back(&band[static_cast<size_t>(i) * columns]);
    for (int32_t height : heights) {
        std::string fault;
        bool band_read = true;
        for (int32_t first = 0; first < lines && band_read; first += height) {
            const int32_t end = first + height < lines ? first + height : lines;
            band_read = reader->read_lines(first, end, rows.data(), &fault);
            for (int32_t i = first; band_read && i < end; i++)
                for (int32_t j = 0; j < columns; j++)
                    FUZZ_CHECK(same_double(rows[i - first][j], cells[static_cast<size_t>(i) * columns + j]));
        }
        FUZZ_CHECK(band_read == read);
        FUZZ_CHECK(band_read || fault == message);
    }
}

} // namespace fuzz

#endif
