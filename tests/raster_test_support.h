// Small helpers shared by the raster reader and writer tests.
#ifndef ORMELIX_TESTS_RASTER_TEST_SUPPORT_H
#define ORMELIX_TESTS_RASTER_TEST_SUPPORT_H

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace raster_test {

inline std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void spill(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

// Samples as a sample file holds them: width bytes each, low byte first.
inline std::string little_endian(const std::vector<int64_t> &samples, int width)
{
    std::string bytes;
    for (int64_t v : samples)
        for (int k = 0; k < width; ++k)
            bytes.push_back(static_cast<char>((static_cast<uint64_t>(v) >> (8 * k)) & 0xFF));
    return bytes;
}

inline size_t occurrences(const std::string &text, const std::string &piece)
{
    size_t count = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++count;
    return count;
}

}  // namespace raster_test

#endif
