// A pair of Float32 GeoTIFFs of any size, made in bounded memory, for the benchmark of a
// frame beyond the machine's memory: STEM1.tif and STEM2.tif, SIDE x SIDE cells of 1 m in
// UTM zone 31N, tiled 256 x 256, Deflate with the floating-point predictor (BigTIFF when
// the samples pass 4 GB), as GIS tools deliver lidar mosaics.
// The surface is smooth (a few sines of kilometres' wavelength) and its heights whole
// eighths of a metre, so that the predictor leaves Deflate little to store: a 60000 x
// 60000 epoch of 14.4 GB of samples takes a small share of that on disk. The second epoch
// is the first but for a few discs of metres of deposition and erosion; its tiles that no
// disc touches are the first's bytes, compressed once.
// One row of tiles is held at a time (256 lines of doubles, 123 MB at 60000 columns),
// compressed by two threads.
// Usage: make_large_pair STEM SIDE
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "gridfiles/geokey_directory.h"
#include "gridfiles/tiff_stream.h"
#include "treatment/geotiff_writer.h"

namespace {

const double PI = 3.14159265358979323846;
// The lower-left corner of the frame, in UTM zone 31N, as the other bench grids'.
const double XLL = 512000.0, YLL = 4100000.0;

[[noreturn]] void fail(const std::string &what)
{
    std::fprintf(stderr, "make_large_pair: %s\n", what.c_str());
    std::exit(1);
}

// A disc of change on the second epoch: its centre and radius as shares of the side, its
// height at the centre in metres (a paraboloid down to 0 at the rim).
struct disc {
    double x, y, radius, height;
};
const disc DISCS[] = {
    {0.23, 0.31, 0.012, 4.5}, {0.71, 0.18, 0.008, -3.0}, {0.52, 0.64, 0.015, 2.5},
    {0.15, 0.82, 0.006, -5.5}, {0.86, 0.77, 0.010, 3.5}, {0.40, 0.47, 0.004, -2.0},
};

// A disc in cells of a frame of this side.
struct placed_disc {
    double column, line, radius, height;
};

std::vector<placed_disc> place_discs(int32_t side)
{
    std::vector<placed_disc> placed;
    for (const disc &d : DISCS)
        placed.push_back({d.x * side, d.y * side, std::max(2.0, d.radius * side), d.height});
    return placed;
}

double to_eighths(double metres)
{
    return std::round(metres * 8.0) / 8.0;
}

// The surface: per column and per line terms, the sines of sums spelt as sums of
// products, so that a cell costs a few multiplications.
struct surface {
    std::vector<double> base, c1, s1, s2, c3, s3;  // per column

    explicit surface(int32_t columns)
        : base(columns), c1(columns), s1(columns), s2(columns), c3(columns), s3(columns)
    {
        for (int32_t j = 0; j < columns; j++) {
            const double x = j + 0.5;
            base[j] = 60.0 * std::sin(2 * PI * x / 9000.0 + 0.3);
            c1[j] = std::cos(2 * PI * x / 4100.0);
            s1[j] = std::sin(2 * PI * x / 4100.0);
            s2[j] = std::sin(2 * PI * x / 1700.0);
            c3[j] = std::cos(2 * PI * x / 1300.0);
            s3[j] = std::sin(2 * PI * x / 1300.0);
        }
    }

    // Line i of the first epoch, in whole eighths of a metre (275 m to 565 m).
    void line(int32_t i, double *out) const
    {
        const double y = i + 0.5;
        const double row = 420.0 + 45.0 * std::sin(2 * PI * y / 7000.0 + 1.1);
        const double a1 = 25.0 * std::sin(2 * PI * y / 4100.0), b1 = 25.0 * std::cos(2 * PI * y / 4100.0);
        const double a2 = 12.0 * std::cos(2 * PI * y / 2300.0);
        const double a3 = 3.0 * std::cos(2 * PI * y / 1300.0), b3 = -3.0 * std::sin(2 * PI * y / 1300.0);
        const size_t columns = base.size();
        for (size_t j = 0; j < columns; j++) {
            const double z = row + base[j] + a1 * c1[j] + b1 * s1[j] + a2 * s2[j] + a3 * s3[j] + b3 * c3[j];
            // z is positive: truncation of z * 8 + 0.5 rounds it.
            out[j] = static_cast<double>(static_cast<int64_t>(z * 8.0 + 0.5)) * 0.125;
        }
    }
};

// Runs work(k, thread) for k in [0, count) on this thread (0) and one more (1).
void on_two_threads(size_t count, const std::function<void(size_t, int)> &work)
{
    std::atomic<size_t> next{0};
    auto share = [&](int thread) {
        for (size_t k = next.fetch_add(1); k < count; k = next.fetch_add(1))
            work(k, thread);
    };
    std::thread helper(share, 1);
    share(0);
    helper.join();
}

struct output {
    FILE *fp = nullptr;
    tiff_stream stream;
    std::string name;
};

void open_output(output *out, const std::string &name, int32_t side, const geo_keys &keys)
{
    out->name = name;
    out->fp = std::fopen(name.c_str(), "wb");
    if (out->fp == nullptr)
        fail("cannot create " + name + ": " + std::strerror(errno));
    const bool big = static_cast<double>(side) * side * sizeof(float) > 4294967295.0;
    if (!tiff_open(&out->stream, out->fp, name, big ? "w8" : "w"))
        fail("cannot write " + name + ": " + tiff_failure_reason(out->stream));
    TIFF *tif = out->stream.tif;
    const std::vector<double> scale = {1.0, 1.0, 0.0};
    const std::vector<double> tiepoint = {0.0, 0.0, 0.0, XLL, YLL + side, 0.0};
    const uint32_t count = static_cast<uint32_t>(side);
    if (TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, count) != 1 || TIFFSetField(tif, TIFFTAG_IMAGELENGTH, count) != 1 ||
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 32) != 1 || TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1) != 1 ||
        TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP) != 1 ||
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK) != 1 ||
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) != 1 ||
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) != 1 ||
        TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_FLOATINGPOINT) != 1 ||
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, GEOTIFF_TILE_SIDE) != 1 ||
        TIFFSetField(tif, TIFFTAG_TILELENGTH, GEOTIFF_TILE_SIDE) != 1 ||
        TIFFSetField(tif, TAG_MODEL_PIXEL_SCALE, 3u, scale.data()) != 1 ||
        TIFFSetField(tif, TAG_MODEL_TIEPOINT, 6u, tiepoint.data()) != 1 || !write_geo_keys(tif, output_geo_keys(keys)))
        fail("cannot describe " + name + ": " + tiff_failure_reason(out->stream));
}

void write_tile(output *out, uint32_t index, const std::vector<uint8_t> &bytes)
{
    if (TIFFWriteRawTile(out->stream.tif, index, const_cast<uint8_t *>(bytes.data()),
                         static_cast<tmsize_t>(bytes.size())) < 0 ||
        out->stream.io_failed)
        fail("cannot write " + out->name + ": " + tiff_failure_reason(out->stream));
}

void close_output(output *out)
{
    const bool written = TIFFWriteDirectory(out->stream.tif) == 1 && !out->stream.io_failed;
    const std::string reason = tiff_failure_reason(out->stream);
    tiff_close(&out->stream);
    if (!written || out->stream.io_failed || std::fclose(out->fp) != 0)
        fail("cannot write " + out->name + ": " + reason);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_large_pair STEM SIDE\n");
        return 2;
    }
    const std::string stem = argv[1];
    char *end = nullptr;
    const long given = std::strtol(argv[2], &end, 10);
    if (end == argv[2] || *end != '\0' || given < 1 || given > 1000000)
        fail(std::string("the side is a number of cells, 1 to 1000000: ") + argv[2]);
    const int32_t side = static_cast<int32_t>(given);

    geo_keys utm31;
    utm31.geotiff = true;
    // Projected, PixelIsArea, EPSG 32631.
    utm31.directory = {1, 1, 0, 3, 1024, 0, 1, 1, 1025, 0, 1, 1, 3072, 0, 1, 32631};
    output first, second;
    open_output(&first, stem + "1.tif", side, utm31);
    open_output(&second, stem + "2.tif", side, utm31);

    const surface ground(side);
    const std::vector<placed_disc> discs = place_discs(side);
    const int32_t tile = GEOTIFF_TILE_SIDE;
    const size_t across = static_cast<size_t>((side + tile - 1) / tile);
    // One row of tiles of doubles, and its lines.
    std::vector<double> band(static_cast<size_t>(tile) * side);
    std::vector<double *> lines(static_cast<size_t>(tile));
    for (size_t r = 0; r < lines.size(); r++)
        lines[r] = band.data() + r * side;
    std::vector<std::vector<uint8_t>> tiles(across), changed(across);
    std::vector<size_t> touched;
    std::vector<uint8_t> scratch[2];
    std::atomic<bool> compressed{true};

    for (int32_t top = 0; top < side; top += tile) {
        const int32_t height = std::min(tile, side - top);
        on_two_threads(static_cast<size_t>(height), [&](size_t r, int) {
            ground.line(top + static_cast<int32_t>(r), lines[r]);
        });
        // Each thread compresses with its own scratch tile.
        auto encode_row = [&](const std::vector<size_t> &which, std::vector<std::vector<uint8_t>> *into) {
            on_two_threads(which.size(), [&](size_t k, int thread) {
                const int32_t left = static_cast<int32_t>(which[k]) * tile;
                if (!encode_geotiff_tile(lines.data(), height, side, 0, left, &scratch[thread], &(*into)[which[k]]))
                    compressed = false;
            });
        };
        std::vector<size_t> all(across);
        for (size_t t = 0; t < across; t++)
            all[t] = t;
        encode_row(all, &tiles);

        // The discs on this row of tiles, into the band; the tiles they touch.
        std::vector<bool> is_touched(across, false);
        for (const placed_disc &d : discs) {
            const int32_t first_line = std::max(top, static_cast<int32_t>(std::floor(d.line - d.radius)));
            const int32_t last_line = std::min(top + height - 1, static_cast<int32_t>(std::ceil(d.line + d.radius)));
            const int32_t first_column = std::max(0, static_cast<int32_t>(std::floor(d.column - d.radius)));
            const int32_t last_column = std::min(side - 1, static_cast<int32_t>(std::ceil(d.column + d.radius)));
            for (int32_t i = first_line; i <= last_line; i++)
                for (int32_t j = first_column; j <= last_column; j++) {
                    const double dx = (j + 0.5 - d.column) / d.radius, dy = (i + 0.5 - d.line) / d.radius;
                    const double share = 1.0 - dx * dx - dy * dy;
                    if (share <= 0.0)
                        continue;
                    lines[static_cast<size_t>(i - top)][j] += to_eighths(d.height * share);
                    is_touched[static_cast<size_t>(j / tile)] = true;
                }
        }
        touched.clear();
        for (size_t t = 0; t < across; t++)
            if (is_touched[t])
                touched.push_back(t);
        if (!touched.empty())
            encode_row(touched, &changed);
        if (!compressed)
            fail("no memory to compress the tiles");

        const uint32_t row_start = static_cast<uint32_t>(static_cast<size_t>(top / tile) * across);
        for (size_t t = 0; t < across; t++)
            write_tile(&first, row_start + static_cast<uint32_t>(t), tiles[t]);
        for (size_t t = 0; t < across; t++)
            write_tile(&second, row_start + static_cast<uint32_t>(t), is_touched[t] ? changed[t] : tiles[t]);
    }
    close_output(&first);
    close_output(&second);
    return 0;
}
