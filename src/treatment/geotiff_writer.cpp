#include "treatment/geotiff_writer.h"

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstring>

#if ORMELIX_LIBDEFLATE
#include <libdeflate.h>
#endif
#include <zlib.h>

#include "console/console.h"
#include "console/progress.h"
#include "coordinates/coordinate_system.h"
#include "coordinates/geotiff_keys.h"
#include "gridfiles/geokey_directory.h"
#include "gridfiles/tiff_stream.h"
#include "platform/worker_thread.h"
#include "treatment/ascii_writer.h"

namespace {

const size_t TILE_CELLS = static_cast<size_t>(GEOTIFF_TILE_SIDE) * GEOTIFF_TILE_SIDE;
const size_t TILE_BYTES = TILE_CELLS * sizeof(float);
// Tiles compressed in one round by the two threads, while the round before is written:
// about 16 MiB of buffers, whatever the width of the grid.
const uint32_t ROUND_TILES = 32;

#if ORMELIX_LIBDEFLATE
// A compressor per thread, kept for all its tiles.
struct deflate_compressor {
    libdeflate_compressor *compressor = libdeflate_alloc_compressor(GEOTIFF_DEFLATE_LEVEL);
    ~deflate_compressor() { libdeflate_free_compressor(compressor); }
};
#endif

// Deflate in the zlib format, which TIFF's Deflate compression is. The tile is
// compressed into room the thread keeps for all its tiles, then only its bytes are
// kept: a tile of the usual grid takes a small part of its bound, and a small grid
// written, as by the fuzzing harness thousands of times a second, takes no fresh
// memory for it.
bool compress_tile(const uint8_t *tile, std::vector<uint8_t> *out)
{
    thread_local std::vector<uint8_t> room;
#if ORMELIX_LIBDEFLATE
    thread_local deflate_compressor mine;
    if (mine.compressor == nullptr)
        return false;
    room.resize(libdeflate_zlib_compress_bound(mine.compressor, TILE_BYTES));
    const size_t size = libdeflate_zlib_compress(mine.compressor, tile, TILE_BYTES, room.data(), room.size());
#else
    uLongf size = compressBound(TILE_BYTES);
    room.resize(size);
    if (compress2(room.data(), &size, tile, TILE_BYTES, GEOTIFF_DEFLATE_LEVEL) != Z_OK)
        size = 0;
#endif
    out->assign(room.data(), room.data() + size);
    return size > 0;
}

uint32_t float_bits(double value)
{
    float sample = GEOTIFF_OUTPUT_NODATA;
    if (value == value)
        sample = std::fabs(value) > FLT_MAX ? (value > 0 ? INFINITY : -INFINITY) : static_cast<float>(value);
    uint32_t bits;
    std::memcpy(&bits, &sample, sizeof bits);
    return bits;
}

// One line of a tile through the floating-point predictor: the bytes of its samples in
// planes, most significant first, then each byte less the one before it.
void predict_line(const double *cells, int32_t count, uint8_t *planes, uint8_t *out)
{
    const size_t side = GEOTIFF_TILE_SIDE;
    for (size_t j = 0; j < side; j++) {
        const uint32_t bits = static_cast<int32_t>(j) < count ? float_bits(cells[j]) : 0;
        planes[j] = static_cast<uint8_t>(bits >> 24);
        planes[side + j] = static_cast<uint8_t>(bits >> 16);
        planes[2 * side + j] = static_cast<uint8_t>(bits >> 8);
        planes[3 * side + j] = static_cast<uint8_t>(bits);
    }
    out[0] = planes[0];
    for (size_t k = 1; k < 4 * side; k++)
        out[k] = static_cast<uint8_t>(planes[k] - planes[k - 1]);
}

struct tile_round {
    uint32_t first = 0, count = 0;
    std::vector<std::vector<uint8_t>> tiles;
    std::atomic<uint32_t> next{0};
    std::atomic<bool> failed{false};
};

struct tile_source {
    double *const *grid;
    int32_t lines, columns;
    uint32_t across;
};

void compress_share(const tile_source &source, tile_round *round, std::vector<uint8_t> *scratch)
{
    for (;;) {
        const uint32_t k = round->next.fetch_add(1);
        if (k >= round->count)
            return;
        const uint32_t tile = round->first + k;
        const int32_t top = static_cast<int32_t>(tile / source.across) * GEOTIFF_TILE_SIDE;
        const int32_t left = static_cast<int32_t>(tile % source.across) * GEOTIFF_TILE_SIDE;
        if (!encode_geotiff_tile(source.grid, source.lines, source.columns, top, left, scratch, &round->tiles[k]))
            round->failed = true;
    }
}

bool write_round(TIFF *tif, tile_round *round)
{
    for (uint32_t k = 0; k < round->count; k++) {
        std::vector<uint8_t> &tile = round->tiles[k];
        if (TIFFWriteRawTile(tif, round->first + k, tile.data(), static_cast<tmsize_t>(tile.size())) < 0)
            return false;
    }
    return true;
}

void start_round(tile_round *round, uint32_t first, uint32_t total)
{
    round->first = first;
    round->count = std::min(ROUND_TILES, total - first);
    round->tiles.resize(ROUND_TILES);
    round->next = 0;
}

// Every tile, in rounds: while both threads compress a round, this one first writes the
// round before. False when a tile cannot be compressed or written.
bool write_tiles(TIFF *tif, const tile_source &source, uint32_t total, std::string *failure)
{
    tile_round rounds[2];
    // This thread's scratch tile is kept from one grid written to the next.
    thread_local std::vector<uint8_t> own_scratch;
    std::vector<uint8_t> helper_scratch;
    worker_thread worker;
    const bool helped = total > 1 && worker_start(&worker);
    tile_round *pending = nullptr;
    bool written = true;
    for (uint32_t first = 0; first < total && written; first += ROUND_TILES) {
        tile_round *round = &rounds[(first / ROUND_TILES) % 2];
        start_round(round, first, total);
        if (helped)
            worker_post(&worker, [&, round] { compress_share(source, round, &helper_scratch); });
        if (pending != nullptr)
            written = write_round(tif, pending);
        progress_to(static_cast<double>(first) / total);
        compress_share(source, round, &own_scratch);
        if (helped)
            worker_wait(&worker);
        if (round->failed) {
            *failure = "no memory to compress its tiles";
            worker_stop(&worker);
            return false;
        }
        pending = round;
    }
    worker_stop(&worker);
    return written && (pending == nullptr || write_round(tif, pending));
}

template <typename Value>
bool set_array(TIFF *tif, uint32_t tag, const std::vector<Value> &values)
{
    return values.empty() || TIFFSetField(tif, tag, static_cast<uint32_t>(values.size()), values.data()) == 1;
}

bool describe_image(TIFF *tif, int32_t lines, int32_t columns, double xll, double yll, double cellsize,
                    double cellsize_y, const geo_keys &keys)
{
    const std::vector<double> scale = {cellsize, cellsize_y, 0.0};
    // The tiepoint is the top-left corner of the first cell.
    const std::vector<double> tiepoint = {0.0, 0.0, 0.0, xll, yll + lines * cellsize_y, 0.0};
    return TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(columns)) == 1 &&
           TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(lines)) == 1 &&
           TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 32) == 1 && TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1) == 1 &&
           TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP) == 1 &&
           TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK) == 1 &&
           TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == 1 &&
           TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) == 1 &&
           TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_FLOATINGPOINT) == 1 &&
           TIFFSetField(tif, TIFFTAG_TILEWIDTH, GEOTIFF_TILE_SIDE) == 1 &&
           TIFFSetField(tif, TIFFTAG_TILELENGTH, GEOTIFF_TILE_SIDE) == 1 &&
           set_array(tif, TAG_MODEL_PIXEL_SCALE, scale) && set_array(tif, TAG_MODEL_TIEPOINT, tiepoint) &&
           write_geo_keys(tif, output_geo_keys(keys)) &&
           TIFFSetField(tif, TAG_GDAL_NODATA, "-9999") == 1;
}

} // namespace

bool geotiff_needs_bigtiff(int32_t lines, int32_t columns)
{
    const double across = std::ceil(static_cast<double>(columns) / GEOTIFF_TILE_SIDE);
    const double down = std::ceil(static_cast<double>(lines) / GEOTIFF_TILE_SIDE);
    // The tiles at their largest, their offsets and sizes, the tags.
    const double most = across * down * (static_cast<double>(compressBound(TILE_BYTES)) + 8.0) + 65536.0;
    return most > 4294967295.0;
}


bool encode_geotiff_tile(double *const *grid, int32_t lines, int32_t columns, int32_t top, int32_t left,
                         std::vector<uint8_t> *scratch, std::vector<uint8_t> *out)
{
    const size_t line_bytes = 4 * static_cast<size_t>(GEOTIFF_TILE_SIDE);
    scratch->resize(TILE_BYTES + line_bytes);
    uint8_t *planes = scratch->data() + TILE_BYTES;
    const int32_t count = std::max(0, std::min(GEOTIFF_TILE_SIDE, columns - left));
    for (int32_t r = 0; r < GEOTIFF_TILE_SIDE; r++) {
        uint8_t *line = scratch->data() + static_cast<size_t>(r) * line_bytes;
        const int32_t i = top + r;
        if (i < lines)
            predict_line(grid[i] + left, count, planes, line);
        else
            std::memset(line, 0, line_bytes);
    }
    return compress_tile(scratch->data(), out);
}

bool write_geotiff(FILE *fp, const std::string &name, double *const *grid, int32_t lines, int32_t columns,
                   double xll, double yll, double cellsize, double cellsize_y, const geo_keys &keys,
                   std::string *failure)
{
    tiff_stream stream;
    if (!tiff_open(&stream, fp, name, geotiff_needs_bigtiff(lines, columns) ? "w8" : "w")) {
        *failure = tiff_failure_reason(stream);
        return false;
    }
    const uint32_t across = static_cast<uint32_t>((columns + GEOTIFF_TILE_SIDE - 1) / GEOTIFF_TILE_SIDE);
    const uint32_t down = static_cast<uint32_t>((lines + GEOTIFF_TILE_SIDE - 1) / GEOTIFF_TILE_SIDE);
    bool written = describe_image(stream.tif, lines, columns, xll, yll, cellsize, cellsize_y, keys) &&
                   write_tiles(stream.tif, {grid, lines, columns, across}, across * down, failure) &&
                   TIFFWriteDirectory(stream.tif) == 1;
    written = written && !stream.io_failed;
    if (!written && (failure->empty() || stream.io_failed))
        *failure = tiff_failure_reason(stream);
    tiff_close(&stream);
    return written && !stream.io_failed;
}

void geotiff_output_paths(const std::string &stem, std::string *file, std::string *unused)
{
    *file = stem + ".tif";
    unused->clear();
}

void create_geotiff_output(const std::string &file, const std::string &)
{
    f3 = create_output_file(file, "wb");
}

void geotiff_output(double, double)
{
    double cellsize = 0.0, cellsize_y = 0.0;
    output_corner_and_cell_size(&cellsize, &cellsize_y);
    std::printf("\n\n\tsaving \n\n");
    std::fflush(stdout);
    // A GeoTIFF input's own keys, as they are, when its system is the result's: GDAL reads
    // them back as it read the input, names and heights included. A system from NAME.prj
    // is spelt out anew.
    const geo_keys &system = result_coordinate_system();
    const geo_keys keys = system.geotiff ? system : crs_geokeys(system.crs);
    std::string failure;
    if (!write_geotiff(f3, nomim3, dtab_out, nb_lig, nb_col, X_min, Y_min, cellsize, cellsize_y, keys, &failure))
        stop_output_failed_because(f3, failure);
    finish_output(f3);
    f3 = nullptr;
}
