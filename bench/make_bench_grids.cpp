// Writes the two epochs of a synthetic hillside for the benchmarks, SIDE x SIDE cells of
// 5 m, under FOLDER/images/bench/:
//   north.asc, south.asc            ASCII grids, one row per line (three and two decimals)
//   north_m2.*, south_m2.*          16-bit raster pairs in centimetres
//   north_m4.*, south_m4.*          32-bit raster pairs in millimetres
// With ONLY m2, just the 16-bit pairs (the large session: its ASCII grids would be
// tens of gigabytes).
// The terrain is smooth, 100 to 600 m high; the second epoch carries a landslide (a scar
// up to 9 m deep and its deposit downslope) and centimetre noise everywhere.
// Usage: make_bench_grids FOLDER SIDE [m2]
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

// Samples are written as the machine holds them; the files are little-endian.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "raster samples are little-endian on disk");

namespace {

const double PI = 3.14159265358979323846;

struct output_file {
    FILE *fp = nullptr;
    std::string path;
};

output_file open_output(const std::string &path)
{
    output_file out;
    out.path = path;
    out.fp = std::fopen(path.c_str(), "wb");
    if (out.fp == nullptr) {
        std::fprintf(stderr, "make_bench_grids: cannot create %s: %s\n", path.c_str(), std::strerror(errno));
        std::exit(1);
    }
    return out;
}

void put(output_file *out, const void *data, size_t size)
{
    if (std::fwrite(data, 1, size, out->fp) != size) {
        std::fprintf(stderr, "make_bench_grids: cannot write %s: %s\n", out->path.c_str(), std::strerror(errno));
        std::exit(1);
    }
}

void close_output(output_file *out)
{
    if (std::fclose(out->fp) != 0) {
        std::fprintf(stderr, "make_bench_grids: cannot write %s: %s\n", out->path.c_str(), std::strerror(errno));
        std::exit(1);
    }
}

// A value in thousandths (or hundredths) as text with that many decimals and a blank.
char *put_fixed(char *out, int64_t scaled, int decimals)
{
    if (scaled < 0) {
        *out++ = '-';
        scaled = -scaled;
    }
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + scaled % 10);
        scaled /= 10;
    } while (scaled > 0 || n <= decimals);
    while (n > decimals)
        *out++ = digits[--n];
    *out++ = '.';
    while (n > 0)
        *out++ = digits[--n];
    *out++ = ' ';
    return out;
}

// One term of the terrain, a sin(kx x + ky y + phase), split so that a cell costs two
// products: sin(a + b) = sin a cos b + cos a sin b.
struct wave {
    double amplitude, kx, ky, phase;
    std::vector<double> sin_x, cos_x, sin_y, cos_y;
};

void tabulate(wave *w, int32_t side)
{
    w->sin_x.resize(side);
    w->cos_x.resize(side);
    w->sin_y.resize(side);
    w->cos_y.resize(side);
    for (int32_t k = 0; k < side; k++) {
        const double t = static_cast<double>(k) / side;
        w->sin_x[k] = w->amplitude * std::sin(2 * PI * w->kx * t + w->phase);
        w->cos_x[k] = w->amplitude * std::cos(2 * PI * w->kx * t + w->phase);
        w->sin_y[k] = std::sin(2 * PI * w->ky * t);
        w->cos_y[k] = std::cos(2 * PI * w->ky * t);
    }
}

// A small fast generator for the noise; its quality does not matter here.
uint64_t next_random(uint64_t *state)
{
    uint64_t x = *state;
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    *state = x;
    return x;
}

// Change of the second epoch at a cell, in metres: a bowl-shaped scar and, below it,
// a lobe of the material that slid.
double landslide(double x, double y)
{
    double scar = 0.0;
    const double sx = (x - 0.42) / 0.07, sy = (y - 0.35) / 0.10;
    const double rs = sx * sx + sy * sy;
    if (rs < 1.0)
        scar = -9.0 * (1.0 - rs);
    const double dx = (x - 0.45) / 0.09, dy = (y - 0.55) / 0.08;
    const double rd = dx * dx + dy * dy;
    if (rd < 1.0)
        scar += 6.0 * (1.0 - rd) * (1.0 - rd);
    return scar;
}

struct sample_range {
    int64_t min = INT64_MAX, max = INT64_MIN;
    void take(int64_t v)
    {
        if (v < min)
            min = v;
        if (v > max)
            max = v;
    }
};

void write_descriptor(const std::string &path, int32_t side, int bytes, const sample_range &range)
{
    output_file out = open_output(path);
    std::string text = std::to_string(side) + "\n" + std::to_string(side) + "\n" + std::to_string(bytes) + "\n" +
                       std::to_string(range.min) + "\n" + std::to_string(range.max) + "\n5\n";
    put(&out, text.data(), text.size());
    close_output(&out);
}

} // namespace

int main(int argc, char **argv)
{
    const bool only_m2 = argc == 4 && std::strcmp(argv[3], "m2") == 0;
    if (argc != 3 && !only_m2) {
        std::fprintf(stderr, "usage: make_bench_grids FOLDER SIDE [m2]\n");
        return 2;
    }
    const std::string folder = std::string(argv[1]) + "/images/bench";
    const long side_asked = std::strtol(argv[2], nullptr, 10);
    if (side_asked < 10 || side_asked > 40000) {
        std::fprintf(stderr, "make_bench_grids: SIDE must be 10 to 40000\n");
        return 2;
    }
    const int32_t side = static_cast<int32_t>(side_asked);
    mkdir(argv[1], 0777);
    mkdir((std::string(argv[1]) + "/images").c_str(), 0777);
    mkdir(folder.c_str(), 0777);

    wave waves[] = {
        {120.0, 1.3, 0.9, 0.4, {}, {}, {}, {}},
        {40.0, 3.1, 2.3, 1.1, {}, {}, {}, {}},
        {15.0, 7.7, -5.9, 2.0, {}, {}, {}, {}},
        {3.0, 23.0, 17.0, 0.3, {}, {}, {}, {}},
    };
    for (wave &w : waves)
        tabulate(&w, side);

    output_file asc[2], m4[2];
    output_file m2[2] = {open_output(folder + "/north_m2.raw"), open_output(folder + "/south_m2.raw")};
    if (!only_m2) {
        asc[0] = open_output(folder + "/north.asc");
        asc[1] = open_output(folder + "/south.asc");
        m4[0] = open_output(folder + "/north_m4.raw");
        m4[1] = open_output(folder + "/south_m4.raw");
    }
    for (output_file &out : asc) {
        if (only_m2)
            break;
        std::string header = "ncols        " + std::to_string(side) + "\nnrows        " + std::to_string(side) +
                             "\nxllcorner    512000\nyllcorner    4100000\ncellsize     5\nNODATA_value -9999\n";
        put(&out, header.data(), header.size());
    }

    std::vector<char> text(static_cast<size_t>(side) * 24 + 16);
    std::vector<uint16_t> cm(side);
    std::vector<int32_t> mm(side);
    sample_range range_m2[2], range_m4[2];
    uint64_t random = 0x9e3779b97f4a7c15ULL;
    std::vector<int64_t> north_mm(side);
    for (int32_t i = 0; i < side; i++) {
        const double y = 1.0 - static_cast<double>(i) / side;  // the top line is the north
        for (int32_t j = 0; j < side; j++) {
            double z = 300.0 + 120.0 * y;
            for (const wave &w : waves)
                z += w.sin_x[j] * w.cos_y[i] + w.cos_x[j] * w.sin_y[i];
            north_mm[j] = std::llround(z * 1000.0);
        }
        for (int epoch = 0; epoch < 2; epoch++) {
            char *p = text.data();
            for (int32_t j = 0; j < side; j++) {
                int64_t v = north_mm[j];
                if (epoch == 1) {
                    const double x = static_cast<double>(j) / side;
                    const int64_t noise = static_cast<int64_t>(next_random(&random) % 61) - 30;
                    v += std::llround(landslide(x, y) * 1000.0) + noise;
                }
                // The second epoch was exported to the centimetre.
                const int64_t v_cm = (v + 5) / 10;
                if (!only_m2)
                    p = epoch == 0 ? put_fixed(p, v, 3) : put_fixed(p, v_cm, 2);
                cm[j] = static_cast<uint16_t>(v_cm);
                mm[j] = static_cast<int32_t>(v);
                range_m2[epoch].take(v_cm);
                range_m4[epoch].take(v);
            }
            put(&m2[epoch], cm.data(), cm.size() * sizeof(uint16_t));
            if (only_m2)
                continue;
            p[-1] = '\n';
            put(&asc[epoch], text.data(), static_cast<size_t>(p - text.data()));
            put(&m4[epoch], mm.data(), mm.size() * sizeof(int32_t));
        }
    }
    for (int epoch = 0; epoch < 2; epoch++) {
        close_output(&m2[epoch]);
        if (!only_m2) {
            close_output(&asc[epoch]);
            close_output(&m4[epoch]);
        }
    }
    write_descriptor(folder + "/north_m2.txt", side, 2, range_m2[0]);
    write_descriptor(folder + "/south_m2.txt", side, 2, range_m2[1]);
    if (only_m2)
        return 0;
    write_descriptor(folder + "/north_m4.txt", side, 4, range_m4[0]);
    write_descriptor(folder + "/south_m4.txt", side, 4, range_m4[1]);
    return 0;
}
