// A 10000 x 10000 16-bit raster pair read and written by the program, against plain
// reading and writing of the same bytes. "ratio" is program time over plain time.
// Most of the difference is the zero-filled grids themselves (doubles, and the integer
// grids of a raster), first touched page by page: "storage_s" times their allocation
// and release alone, and "ratio_beyond_storage" leaves it out.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "gridfiles/raster_pair.h"
#include "gridfiles/raster_reader.h"
#include "nrutil.h"
#include "globals/globals.h"
#include "platform/platform.h"
#include "treatment/raster_writer.h"

namespace {

const int32_t LINES = 10000;
const int32_t COLUMNS = 10000;

// A scratch folder with the sample file and enough unit answers for every iteration.
struct bench_files {
    std::string folder;
    std::string samples;
    std::string answers;

    bench_files()
    {
        const char *base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/ormelix-raster-bench-XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr) std::abort();
        folder = pattern;
        samples = folder + "/north_m2.raw";
        answers = folder + "/answers";
        FILE *fp = std::fopen(samples.c_str(), "wb");
        std::vector<uint16_t> line(COLUMNS);
        for (int32_t i = 0; i < LINES; ++i) {
            for (int32_t j = 0; j < COLUMNS; ++j) line[j] = static_cast<uint16_t>(40000 + (i * 7 + j * 3) % 20000);
            write_sample_line(fp, line.data(), line.size());
        }
        std::fclose(fp);
        fp = std::fopen(answers.c_str(), "w");
        for (int k = 0; k < 100000; ++k) std::fputs("2\n", fp);
        std::fclose(fp);
        std::freopen(answers.c_str(), "r", stdin);
    }
    ~bench_files() { std::system(("rm -rf " + folder).c_str()); }
};

bench_files &files()
{
    static bench_files shared;
    return shared;
}

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The program's menus and ranges would drown the report.
struct quiet_console {
    int saved;
    quiet_console()
    {
        std::fflush(stdout);
        saved = dup(STDOUT_FILENO);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    ~quiet_console()
    {
        std::fflush(stdout);
        dup2(saved, STDOUT_FILENO);
        close(saved);
    }
};

// The bytes alone: one block read per line into memory already in use.
double plain_read(std::vector<uint16_t> *buffer)
{
    const auto start = std::chrono::steady_clock::now();
    FILE *fp = std::fopen(files().samples.c_str(), "rb");
    for (int32_t i = 0; i < LINES; ++i)
        if (std::fread(buffer->data() + static_cast<size_t>(i) * COLUMNS, 2, COLUMNS, fp) != COLUMNS) std::abort();
    std::fclose(fp);
    return seconds_since(start);
}

// The grids a 16-bit reader must hold, zero-filled and released.
double reader_storage()
{
    const auto start = std::chrono::steady_clock::now();
    double **dtab = dmatrice(COLUMNS, LINES);
    uint16_t **jtab = usmatrice(COLUMNS, LINES);
    int32_t **itab = imatrice(COLUMNS, LINES);
    benchmark::DoNotOptimize(dtab[LINES - 1]);
    frusmatrice(jtab, LINES);
    frimatrice(itab, LINES);
    frdmatrice(dtab, LINES);
    return seconds_since(start);
}

void report(benchmark::State &state, double plain_total, double storage_total, double program_total)
{
    const double n = static_cast<double>(state.iterations());
    state.counters["plain_s"] = plain_total / n;
    state.counters["storage_s"] = storage_total / n;
    state.counters["ratio"] = program_total / plain_total;
    state.counters["ratio_beyond_storage"] = (program_total - storage_total) / plain_total;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * LINES * COLUMNS * 2);
}

void BM_RasterRead16(benchmark::State &state)
{
    std::vector<uint16_t> buffer(static_cast<size_t>(LINES) * COLUMNS, 1);
    double plain_total = 0.0, storage_total = 0.0, program_total = 0.0;
    for (auto _ : state) {
        plain_total += plain_read(&buffer);
        storage_total += reader_storage();
        nb_lig = LINES;
        nb_col = COLUMNS;
        itype_dem1 = 0;
        descr_dem1_OK = 1;
        dpix_size1 = 25.0;
        nomim1 = files().samples;
        f1 = std::fopen(files().samples.c_str(), "rb");
        const auto start = std::chrono::steady_clock::now();
        {
            quiet_console quiet;
            dem1_lecture();
        }
        const double elapsed = seconds_since(start);
        program_total += elapsed;
        state.SetIterationTime(elapsed);
        benchmark::DoNotOptimize(dtab_dem1[LINES - 1][COLUMNS - 1]);
        frdmatrice(dtab_dem1, LINES);
        dtab_dem1 = nullptr;
    }
    report(state, plain_total, storage_total, program_total);
}

// The bytes alone: one block write per line from memory already in use.
double plain_write(const std::vector<uint16_t> &buffer, const std::string &path)
{
    const auto start = std::chrono::steady_clock::now();
    FILE *fp = std::fopen(path.c_str(), "wb");
    for (int32_t i = 0; i < LINES; ++i)
        if (std::fwrite(buffer.data() + static_cast<size_t>(i) * COLUMNS, 2, COLUMNS, fp) != COLUMNS) std::abort();
    std::fclose(fp);
    return seconds_since(start);
}

void BM_RasterWrite16(benchmark::State &state)
{
    std::vector<uint16_t> buffer(static_cast<size_t>(LINES) * COLUMNS, 1);
    const std::string plain_path = files().folder + "/plain_m2.raw";
    const std::string stem = files().folder + "/diff_val_abs";
    nb_lig = LINES;
    nb_col = COLUMNS;
    itype_dem_out = 0;
    dtab_out = dmatrice(COLUMNS, LINES);
    for (int32_t i = 0; i < LINES; ++i)
        for (int32_t j = 0; j < COLUMNS; ++j) dtab_out[i][j] = ((i * 7 + j * 3) % 60000) * 0.01;
    nomim1 = files().samples;
    nomim2 = files().samples;
    pix_size2 = 25;
    type_treat = 0;
    basis = 1;
    double plain_total = 0.0, storage_total = 0.0, program_total = 0.0;
    for (auto _ : state) {
        plain_total += plain_write(buffer, plain_path);
        std::remove(plain_path.c_str());
        const auto storage_start = std::chrono::steady_clock::now();
        uint16_t **jtab = usmatrice(COLUMNS, LINES);
        benchmark::DoNotOptimize(jtab[LINES - 1]);
        frusmatrice(jtab, LINES);
        storage_total += seconds_since(storage_start);
        f3 = output_create(stem + "_m2.raw", "wb");
        f3d = output_create(stem + "_m2.txt", "w");
        write_descriptor_head(f3d, LINES, COLUMNS, 2);
        const auto start = std::chrono::steady_clock::now();
        {
            quiet_console quiet;
            raster_output(0.0, 599.99);
        }
        const double elapsed = seconds_since(start);
        program_total += elapsed;
        state.SetIterationTime(elapsed);
        std::string failed;
        if (!output_commit_all(&failed)) std::abort();
        std::remove((stem + "_m2.raw").c_str());
        std::remove((stem + "_m2.txt").c_str());
    }
    frdmatrice(dtab_out, LINES);
    dtab_out = nullptr;
    report(state, plain_total, storage_total, program_total);
}

}  // namespace

BENCHMARK(BM_RasterRead16)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_RasterWrite16)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);
