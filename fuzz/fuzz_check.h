// What the harnesses share: a broken promise is a crash, so that libFuzzer keeps the
// input and the replay test fails on it.
#ifndef ORMELIX_FUZZ_CHECK_H
#define ORMELIX_FUZZ_CHECK_H

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "%s:%d: promise broken: %s\n", __FILE__, __LINE__, #condition);             \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (0)

namespace fuzz {

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

// Two doubles that are the same bits, or both not a number.
inline bool same_double(double a, double b)
{
    if (a != a || b != b)
        return a != a && b != b;
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace fuzz

#endif
