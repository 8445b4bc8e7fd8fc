// The floors a whole session is measured against, on one core.
//
//   floor_probe ascii NORTH.asc SOUTH.asc
//     The least an ASCII to ASCII session must spend: the three grids of doubles
//     allocated and first touched, every value of both files parsed, every cell of
//     the result formatted (into memory, never written). Files are read outside the
//     timed parts. Prints parse and format speeds and their sum, floor_s.
//
//   floor_probe raw-io IN1 IN2 OUT_BYTES OUT_PATH
//     Reading two sample files and writing OUT_BYTES bytes: the floor of a raster
//     to raster session. Prints io_s.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gridfiles/ascii_grid.h"
#include "nrutil.h"
#include "treatment/ascii_writer.h"
#include "treatment/difference.h"

namespace {

using probe_clock = std::chrono::steady_clock;

double since(probe_clock::time_point start)
{
    return std::chrono::duration<double>(probe_clock::now() - start).count();
}

FILE *open_or_die(const char *path, const char *mode)
{
    FILE *fp = std::fopen(path, mode);
    if (fp == nullptr) {
        std::perror(path);
        std::exit(2);
    }
    return fp;
}

struct parse_figures {
    double seconds = 0.0;
    double body_bytes = 0.0;
    int64_t values = 0;
};

// Parses the body of an ASCII grid in blocks on one thread, timing the parsing only.
void parse_file(const char *path, double **grid, int32_t ncols, int32_t nrows, parse_figures *figures)
{
    FILE *fp = open_or_die(path, "rb");
    text_source src;
    text_source_start(&src, fp, ASCII_BLOCK_SIZE);
    ascii_header header;
    if (!parse_ascii_header(&src, &header) || header.ncols != ncols || header.nrows != nrows) {
        std::fprintf(stderr, "floor_probe: %s is not a grid of the expected frame\n", path);
        std::exit(2);
    }
    const double nodata_value = header.nodata_present ? header.nodata_value : 0.0;
    const int64_t total = static_cast<int64_t>(ncols) * nrows;
    int64_t cell = 0;
    while (cell < total) {
        size_t cut = src.end;
        if (!src.at_end)
            while (cut > src.begin && src.text[cut - 1] != ' ' && src.text[cut - 1] != '\n')
                cut--;
        if (cut == src.begin) {
            if (src.at_end)
                break;
            text_source_refill(&src);
            continue;
        }
        const char *text = src.text.data();
        const auto start = probe_clock::now();
        cells_parse done =
            parse_cells(text + src.begin, text + cut, grid, ncols, cell, total - cell, nodata_value);
        figures->seconds += since(start);
        figures->body_bytes += static_cast<double>(done.stop - (text + src.begin));
        src.begin = static_cast<size_t>(done.stop - text);
        cell += done.cells;
        if (done.bad_word)
            break;
    }
    figures->values += cell;
    if (cell != total) {
        std::fprintf(stderr, "floor_probe: %s does not hold its grid\n", path);
        std::exit(2);
    }
    std::fclose(fp);
}

int probe_ascii(const char *north, const char *south)
{
    FILE *fp = open_or_die(north, "rb");
    text_source src;
    text_source_start(&src, fp);
    ascii_header header;
    if (!parse_ascii_header(&src, &header)) {
        std::fprintf(stderr, "floor_probe: %s has no grid header\n", north);
        return 2;
    }
    std::fclose(fp);
    const int32_t ncols = header.ncols, nrows = header.nrows;

    // The three grids, as the program gets them, every page written once.
    auto start = probe_clock::now();
    double **grids[3];
    for (double **&grid : grids) {
        grid = dmatrice(ncols, nrows);
        if (grid == nullptr) {
            std::fprintf(stderr, "floor_probe: no memory for the grids\n");
            return 2;
        }
        for (int32_t i = 0; i < nrows; i++)
            for (int32_t j = 0; j < ncols; j += 512)
                grid[i][j] = 1.0;
    }
    const double fault_seconds = since(start);

    parse_figures parse;
    parse_file(north, grids[0], ncols, nrows, &parse);
    parse_file(south, grids[1], ncols, nrows, &parse);

    start = probe_clock::now();
    double d_min = 0.0, d_max = 0.0;
    compute_difference(grids[0], grids[1], grids[2], nrows, ncols, TREAT_ABSOLUTE, 1, 0.0, &d_min, &d_max);
    const double difference_seconds = since(start);

    std::vector<char> block(ASCII_OUTPUT_BLOCK_SIZE);
    double format_seconds = 0.0, text_bytes = 0.0;
    start = probe_clock::now();
    for (int32_t i = 0; i < nrows; i++) {
        size_t done = 0;
        while (done < static_cast<size_t>(ncols)) {
            char *end = nullptr;
            done += format_ascii_cells(grids[2][i] + done, static_cast<size_t>(ncols) - done, block.data(),
                                       block.data() + block.size(), &end);
            text_bytes += static_cast<double>(end - block.data());
        }
    }
    format_seconds = since(start);

    const double cells = static_cast<double>(ncols) * nrows;
    std::printf("faults_s=%.3f parse_s=%.3f parse_mb_s=%.0f parse_ns=%.2f difference_s=%.3f format_s=%.3f "
                "format_mb_s=%.0f format_ns=%.2f floor_s=%.3f\n",
                fault_seconds, parse.seconds, parse.body_bytes / parse.seconds / 1e6,
                parse.seconds * 1e9 / static_cast<double>(parse.values), difference_seconds, format_seconds,
                text_bytes / format_seconds / 1e6, format_seconds * 1e9 / cells,
                fault_seconds + parse.seconds + format_seconds);
    for (double **grid : grids)
        frdmatrice(grid, nrows);
    return 0;
}

int probe_raw_io(const char *in1, const char *in2, const char *out_bytes_text, const char *out_path)
{
    const size_t chunk = size_t(1) << 20;
    std::vector<char> buffer(chunk, 1);
    const auto start = probe_clock::now();
    for (const char *path : {in1, in2}) {
        FILE *fp = open_or_die(path, "rb");
        while (std::fread(buffer.data(), 1, chunk, fp) == chunk) {
        }
        std::fclose(fp);
    }
    unsigned long long left = std::strtoull(out_bytes_text, nullptr, 10);
    FILE *out = open_or_die(out_path, "wb");
    while (left > 0) {
        const size_t size = left < chunk ? static_cast<size_t>(left) : chunk;
        if (std::fwrite(buffer.data(), 1, size, out) != size) {
            std::perror(out_path);
            return 2;
        }
        left -= size;
    }
    if (std::fclose(out) != 0) {
        std::perror(out_path);
        return 2;
    }
    std::printf("io_s=%.3f\n", since(start));
    std::remove(out_path);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "ascii") == 0)
        return probe_ascii(argv[2], argv[3]);
    if (argc == 6 && std::strcmp(argv[1], "raw-io") == 0)
        return probe_raw_io(argv[2], argv[3], argv[4], argv[5]);
    std::fprintf(stderr, "usage: floor_probe ascii NORTH.asc SOUTH.asc\n"
                         "       floor_probe raw-io IN1 IN2 OUT_BYTES OUT_PATH\n");
    return 2;
}
