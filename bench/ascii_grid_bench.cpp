// Throughput of the ASCII grid reader and writer on a 2000 x 2000 DEM in a temporary
// folder: the real file path, blocks, number parsing and printing included, on two
// threads as the program runs them; and the parsing and printing of the same grid on
// one core, from and into memory.
#include "gridfiles/ascii_grid.h"
#include "text/number_text.h"
#include "treatment/ascii_writer.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

#include "nrutil.h"

namespace {

const int32_t SIDE = 2000;

// A hilly terrain in metres: a smooth surface with centimetre noise.
double **terrain()
{
    std::mt19937_64 random(7);
    std::uniform_int_distribution<int> noise(-50, 50);
    double **grid = dmatrice(SIDE, SIDE);
    for (int32_t i = 0; i < SIDE; i++)
        for (int32_t j = 0; j < SIDE; j++)
            grid[i][j] = 800.0 + 0.15 * i - 0.08 * j + (i * j % 977) / 10.0 + noise(random) / 100.0;
    return grid;
}

std::string temp_folder()
{
    char name[] = "/tmp/ascii_grid_bench_XXXXXX";
    return mkdtemp(name) ? name : "/tmp";
}

// An export as a GIS lays it out: one row per line, blanks, two or three decimals.
std::string write_exported(const std::string &path, double **grid)
{
    FILE *fp = std::fopen(path.c_str(), "w");
    std::fprintf(fp, "ncols %d\nnrows %d\nxllcorner 512000\nyllcorner 4100000\ncellsize 5\nNODATA_value -9999\n",
                 SIDE, SIDE);
    for (int32_t i = 0; i < SIDE; i++) {
        for (int32_t j = 0; j < SIDE; j++)
            std::fprintf(fp, j % 2 ? "%.2f " : "%.3f ", grid[i][j]);
        std::fputc('\n', fp);
    }
    std::fclose(fp);
    return path;
}

int64_t file_size(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_size : 0;
}

void read_file(benchmark::State &state, const std::string &path)
{
    double **grid = dmatrice(SIDE, SIDE);
    for (auto _ : state) {
        FILE *fp = std::fopen(path.c_str(), "r");
        text_source src;
        text_source_start(&src, fp);
        ascii_header header;
        ascii_body_fault fault;
        if (!parse_ascii_header(&src, &header) || !read_ascii_body(&src, header, grid, SIDE, SIDE, nullptr, &fault))
            state.SkipWithError("the grid did not read");
        std::fclose(fp);
        benchmark::DoNotOptimize(grid[SIDE - 1][SIDE - 1]);
    }
    state.SetBytesProcessed(state.iterations() * file_size(path));
    state.counters["cells/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * SIDE * SIDE, benchmark::Counter::kIsRate);
    frdmatrice(grid, SIDE);
}

void BM_ReadExportedGrid(benchmark::State &state)
{
    const std::string folder = temp_folder();
    double **grid = terrain();
    const std::string path = write_exported(folder + "/exported.asc", grid);
    frdmatrice(grid, SIDE);
    read_file(state, path);
    std::remove(path.c_str());
    rmdir(folder.c_str());
}

void BM_ReadSavedGrid(benchmark::State &state)
{
    const std::string folder = temp_folder();
    const std::string path = folder + "/saved.asc";
    double **grid = terrain();
    FILE *fp = std::fopen(path.c_str(), "w");
    write_ascii_grid(fp, grid, SIDE, SIDE, 512000, 4100000, 5, 5, nullptr);
    std::fclose(fp);
    frdmatrice(grid, SIDE);
    read_file(state, path);
    std::remove(path.c_str());
    rmdir(folder.c_str());
}

void BM_WriteGrid(benchmark::State &state)
{
    const std::string folder = temp_folder();
    const std::string path = folder + "/difference.asc";
    double **grid = terrain();
    for (auto _ : state) {
        FILE *fp = std::fopen(path.c_str(), "w");
        if (!write_ascii_grid(fp, grid, SIDE, SIDE, 512000, 4100000, 5, 5, nullptr))
            state.SkipWithError("the grid did not write");
        std::fclose(fp);
    }
    state.SetBytesProcessed(state.iterations() * file_size(path));
    state.counters["cells/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * SIDE * SIDE, benchmark::Counter::kIsRate);
    frdmatrice(grid, SIDE);
    std::remove(path.c_str());
    rmdir(folder.c_str());
}

// The body of an exported grid parsed from memory on one thread.
void BM_ParseBodyOneCore(benchmark::State &state)
{
    const std::string folder = temp_folder();
    double **grid = terrain();
    const std::string path = write_exported(folder + "/exported.asc", grid);
    std::string text;
    {
        FILE *fp = std::fopen(path.c_str(), "rb");
        std::vector<char> block(1 << 20);
        size_t got;
        while ((got = std::fread(block.data(), 1, block.size(), fp)) > 0)
            text.append(block.data(), got);
        std::fclose(fp);
    }
    std::remove(path.c_str());
    rmdir(folder.c_str());
    // The body starts after the sixth header line.
    size_t body = 0;
    for (int k = 0; k < 6; k++)
        body = text.find('\n', body) + 1;
    for (auto _ : state) {
        cells_parse done = parse_cells(text.data() + body, text.data() + text.size(), grid, SIDE, 0,
                                       int64_t(SIDE) * SIDE, -9999.0);
        if (done.cells != int64_t(SIDE) * SIDE)
            state.SkipWithError("the body did not parse");
        benchmark::DoNotOptimize(grid[SIDE - 1][SIDE - 1]);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * (text.size() - body)));
    state.counters["values/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * SIDE * SIDE, benchmark::Counter::kIsRate);
    frdmatrice(grid, SIDE);
}

// Every cell of the grid formatted into a reused block on one thread; bytes are text.
void BM_FormatBodyOneCore(benchmark::State &state)
{
    double **grid = terrain();
    std::vector<char> block(ASCII_OUTPUT_BLOCK_SIZE);
    size_t text_bytes = 0;
    for (auto _ : state) {
        text_bytes = 0;
        for (int32_t i = 0; i < SIDE; i++) {
            size_t done = 0;
            while (done < static_cast<size_t>(SIDE)) {
                char *end = nullptr;
                done += format_ascii_cells(grid[i] + done, SIDE - done, block.data(), block.data() + block.size(),
                                           &end);
                text_bytes += static_cast<size_t>(end - block.data());
            }
        }
        benchmark::DoNotOptimize(block.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text_bytes));
    state.counters["values/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * SIDE * SIDE, benchmark::Counter::kIsRate);
    frdmatrice(grid, SIDE);
}

} // namespace

BENCHMARK(BM_ParseBodyOneCore)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FormatBodyOneCore)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadExportedGrid)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadSavedGrid)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteGrid)->Unit(benchmark::kMillisecond);
