#include "treatment/geotiff_writer.h"

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <functional>

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
#include "treatment/output_space.h"

namespace {

const size_t TILE_CELLS = static_cast<size_t>(GEOTIFF_TILE_SIDE) * GEOTIFF_TILE_SIDE;
const size_t TILE_BYTES = TILE_CELLS * sizeof(float);
// Tiles compressed in one round by the two threads, while the round before is written:
// about 16 MiB of buffers, whatever the width of the grid. The first round is the first
// row of tiles, whose compression tells the size of the file before any tile is written.
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

uint32_t sample_bits(double value)
{
    return float_bits(value);
}

// A cell already gathered as its sample.
uint32_t sample_bits(uint32_t bits)
{
    return bits;
}

// One line of a tile through the floating-point predictor: the bytes of its samples in
// planes, most significant first, then each byte less the one before it.
template <typename Cell>
void predict_line(const Cell *cells, int32_t count, uint8_t *planes, uint8_t *out)
{
    const size_t side = GEOTIFF_TILE_SIDE;
    for (size_t j = 0; j < side; j++) {
        const uint32_t bits = static_cast<int32_t>(j) < count ? sample_bits(cells[j]) : 0;
        planes[j] = static_cast<uint8_t>(bits >> 24);
        planes[side + j] = static_cast<uint8_t>(bits >> 16);
        planes[2 * side + j] = static_cast<uint8_t>(bits >> 8);
        planes[3 * side + j] = static_cast<uint8_t>(bits);
    }
    out[0] = planes[0];
    for (size_t k = 1; k < 4 * side; k++)
        out[k] = static_cast<uint8_t>(planes[k] - planes[k - 1]);
}

// Where the lines of the tiles to compress are: a row of tiles gathered as samples, or
// the band of lines at hand.
struct tile_source {
    double *const *rows;  // lines [rows_first, ...) of the grid
    int32_t rows_first;
    const uint32_t *gathered;  // the samples of the row of tiles from line gathered_top, or null
    int32_t gathered_top;
    int32_t lines, columns;
    uint32_t across;
};

// The tile whose top-left cell is (top, left), as Float32 (NaN as the no-data value, cells
// beyond the grid as 0) through the floating-point predictor, compressed with Deflate into
// *out. scratch holds the tile before compression. False only when Deflate finds no
// memory.
bool encode_tile(const tile_source &source, int32_t top, int32_t left, std::vector<uint8_t> *scratch,
                 std::vector<uint8_t> *out)
{
    const size_t line_bytes = 4 * static_cast<size_t>(GEOTIFF_TILE_SIDE);
    scratch->resize(TILE_BYTES + line_bytes);
    uint8_t *planes = scratch->data() + TILE_BYTES;
    const int32_t count = std::max(0, std::min(GEOTIFF_TILE_SIDE, source.columns - left));
    const bool gathered = source.gathered != nullptr && top == source.gathered_top;
    for (int32_t r = 0; r < GEOTIFF_TILE_SIDE; r++) {
        uint8_t *line = scratch->data() + static_cast<size_t>(r) * line_bytes;
        const int32_t i = top + r;
        if (i >= source.lines)
            std::memset(line, 0, line_bytes);
        else if (gathered)
            predict_line(source.gathered + static_cast<size_t>(r) * static_cast<size_t>(source.columns) + left, count,
                         planes, line);
        else
            predict_line(source.rows[i - source.rows_first] + left, count, planes, line);
    }
    return compress_tile(scratch->data(), out);
}

struct tile_round {
    uint32_t first = 0, count = 0;
    std::vector<std::vector<uint8_t>> tiles;
    std::atomic<uint32_t> next{0};
    std::atomic<bool> failed{false};
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
        if (!encode_tile(source, top, left, scratch, &round->tiles[k]))
            round->failed = true;
    }
}

bool write_round(TIFF *tif, const tile_round &round)
{
    for (uint32_t k = 0; k < round.count; k++) {
        const std::vector<uint8_t> &tile = round.tiles[k];
        if (TIFFWriteRawTile(tif, round.first + k, const_cast<uint8_t *>(tile.data()),
                             static_cast<tmsize_t>(tile.size())) < 0)
            return false;
    }
    return true;
}

void start_round(tile_round *round, uint32_t first, uint32_t count)
{
    round->first = first;
    round->count = count;
    // The first round's extra tiles, a wide grid's row, are not kept.
    round->tiles.resize(std::max(count, ROUND_TILES));
    round->next = 0;
    round->failed = false;
}

size_t round_bytes(const tile_round &round)
{
    size_t bytes = 0;
    for (uint32_t k = 0; k < round.count; k++)
        bytes += round.tiles[k].size();
    return bytes;
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

bool encode_geotiff_tile(double *const *grid, int32_t lines, int32_t columns, int32_t top, int32_t left,
                         std::vector<uint8_t> *scratch, std::vector<uint8_t> *out)
{
    const tile_source source = {grid, 0, nullptr, 0, lines, columns,
                                static_cast<uint32_t>((columns + GEOTIFF_TILE_SIDE - 1) / GEOTIFF_TILE_SIDE)};
    return encode_tile(source, top, left, scratch, out);
}

struct geotiff_grid_writer {
    tiff_stream stream;
    int32_t lines = 0, columns = 0;
    uint32_t across = 0, total = 0;
    bool bigtiff = false;
    uint32_t next_tile = 0;  // the first tile not yet compressed
    // Rounds compressed in turn; the one compressed last waits to be written while the
    // next is compressed.
    tile_round rounds[2];
    int turn = 0;
    tile_round *pending = nullptr;
    worker_thread worker;
    bool helped = false;
    std::vector<uint8_t> helper_scratch;
    // The lines of a row of tiles no band held whole, as samples, gathered until it is
    // complete.
    std::vector<uint32_t> gathered;
    int32_t gathered_top = -1, gathered_end = 0;
    std::function<bool(double)> room;
    bool failed = false;
    std::string failure;
};

namespace {

// This thread's scratch tile is kept from one grid written to the next.
thread_local std::vector<uint8_t> own_scratch;

// Compresses tiles up to end_tile, whose lines the source holds, round after round:
// while both threads compress a round, this one first hands libtiff the round before.
bool compress_tiles(geotiff_grid_writer *writer, const tile_source &source, uint32_t end_tile)
{
    if (writer->next_tile == 0)
        writer->helped = writer->total > 1 && worker_start(&writer->worker);
    while (writer->next_tile < end_tile) {
        const uint32_t count = std::min(writer->next_tile == 0 ? writer->across : ROUND_TILES,
                                        end_tile - writer->next_tile);
        tile_round *round = &writer->rounds[writer->turn];
        writer->turn ^= 1;
        start_round(round, writer->next_tile, count);
        if (writer->helped)
            worker_post(&writer->worker, [writer, &source, round] {
                compress_share(source, round, &writer->helper_scratch);
            });
        const bool written = writer->pending == nullptr || write_round(writer->stream.tif, *writer->pending);
        writer->pending = nullptr;
        progress_to(static_cast<double>(writer->next_tile) / writer->total);
        compress_share(source, round, &own_scratch);
        if (writer->helped)
            worker_wait(&writer->worker);
        if (round->failed) {
            writer->failure = "no memory to compress its tiles";
            return false;
        }
        if (!written)
            return false;
        if (writer->next_tile == 0 && writer->room &&
            !writer->room(geotiff_output_estimate(writer->lines, writer->columns,
                                                  static_cast<double>(round_bytes(*round)), writer->bigtiff)))
            return false;
        writer->pending = round;
        writer->next_tile += count;
    }
    return true;
}

// The first tile of the row of tiles after line i (the tiles' end at the last line).
uint32_t tiles_before_line(const geotiff_grid_writer &writer, int32_t i)
{
    return static_cast<uint32_t>((i + GEOTIFF_TILE_SIDE - 1) / GEOTIFF_TILE_SIDE) * writer.across;
}

bool write_lines(geotiff_grid_writer *writer, int32_t first, int32_t end, double *const *rows)
{
    const size_t columns = static_cast<size_t>(writer->columns);
    int32_t i = first;
    while (i < end) {
        const int32_t top = i / GEOTIFF_TILE_SIDE * GEOTIFF_TILE_SIDE;
        const int32_t row_end = std::min(top + GEOTIFF_TILE_SIDE, writer->lines);
        if (i == top && end >= row_end) {
            // Rows of tiles the band holds whole are compressed from it.
            const int32_t whole_end = end == writer->lines ? end : end / GEOTIFF_TILE_SIDE * GEOTIFF_TILE_SIDE;
            const tile_source source{rows, first, nullptr, -1, writer->lines, writer->columns, writer->across};
            if (!compress_tiles(writer, source, tiles_before_line(*writer, whole_end)))
                return false;
            i = whole_end;
            continue;
        }
        if (writer->gathered_top != top) {
            writer->gathered.resize(static_cast<size_t>(GEOTIFF_TILE_SIDE) * columns);
            writer->gathered_top = top;
        }
        const int32_t stop = std::min(end, row_end);
        for (; i < stop; i++) {
            const double *line = rows[i - first];
            uint32_t *samples = writer->gathered.data() + static_cast<size_t>(i - top) * columns;
            for (size_t j = 0; j < columns; j++)
                samples[j] = float_bits(line[j]);
        }
        if (i == row_end) {
            const tile_source source{nullptr, 0, writer->gathered.data(), top, writer->lines, writer->columns,
                                     writer->across};
            if (!compress_tiles(writer, source, tiles_before_line(*writer, row_end)))
                return false;
            writer->gathered_top = -1;
        }
    }
    return true;
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

geotiff_grid_writer *start_geotiff(FILE *fp, const std::string &name, int32_t lines, int32_t columns, double xll,
                                   double yll, double cellsize, double cellsize_y, const geo_keys &keys)
{
    geotiff_grid_writer *writer = new geotiff_grid_writer;
    writer->lines = lines;
    writer->columns = columns;
    writer->across = static_cast<uint32_t>((columns + GEOTIFF_TILE_SIDE - 1) / GEOTIFF_TILE_SIDE);
    writer->total = writer->across * static_cast<uint32_t>((lines + GEOTIFF_TILE_SIDE - 1) / GEOTIFF_TILE_SIDE);
    writer->bigtiff = geotiff_needs_bigtiff(lines, columns);
    if (!tiff_open(&writer->stream, fp, name, writer->bigtiff ? "w8" : "w")) {
        writer->failed = true;
        writer->failure = tiff_failure_reason(writer->stream);
        return writer;
    }
    writer->failed = !describe_image(writer->stream.tif, lines, columns, xll, yll, cellsize, cellsize_y, keys);
    return writer;
}

void geotiff_before_first_tile(geotiff_grid_writer *writer, std::function<bool(double)> room)
{
    writer->room = std::move(room);
}

bool write_geotiff_lines(geotiff_grid_writer *writer, int32_t first, int32_t end, double *const *rows)
{
    if (!writer->failed && !write_lines(writer, first, end, rows))
        writer->failed = true;
    return !writer->failed;
}

bool finish_geotiff(geotiff_grid_writer *writer, std::string *failure)
{
    worker_stop(&writer->worker);
    tiff_stream &stream = writer->stream;
    bool written = !writer->failed && writer->next_tile == writer->total &&
                   (writer->pending == nullptr || write_round(stream.tif, *writer->pending)) &&
                   TIFFWriteDirectory(stream.tif) == 1;
    if (!writer->failed && writer->next_tile < writer->total)
        writer->failure = "not every line of the grid was given";
    written = written && !stream.io_failed;
    *failure = writer->failure;
    if (!written && stream.tif != nullptr && (failure->empty() || stream.io_failed))
        *failure = tiff_failure_reason(stream);
    tiff_close(&stream);
    written = written && !stream.io_failed;
    delete writer;
    return written;
}

bool write_geotiff(FILE *fp, const std::string &name, double *const *grid, int32_t lines, int32_t columns,
                   double xll, double yll, double cellsize, double cellsize_y, const geo_keys &keys,
                   std::string *failure)
{
    geotiff_grid_writer *writer = start_geotiff(fp, name, lines, columns, xll, yll, cellsize, cellsize_y, keys);
    write_geotiff_lines(writer, 0, lines, grid);
    return finish_geotiff(writer, failure);
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

namespace {

// The output of the run, from its start to its finish.
geotiff_grid_writer *run_writer = nullptr;
// The stop's message when the file will not fit its disk.
std::string run_refusal;

[[noreturn]] void stop_run_output()
{
    const int error = errno;
    std::string failure;
    finish_geotiff(run_writer, &failure);
    run_writer = nullptr;
    if (!run_refusal.empty())
        stop_with_message("%s", run_refusal.c_str());
    errno = error;
    stop_output_failed_because(f3, failure);
}

} // namespace

void geotiff_start_output(double, double)
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
    run_writer = start_geotiff(f3, nomim3, nb_lig, nb_col, X_min, Y_min, cellsize, cellsize_y, keys);
    run_refusal.clear();
    geotiff_before_first_tile(run_writer, [](double need) {
        run_refusal = output_space_refusal(f3, need);
        return run_refusal.empty();
    });
}

void geotiff_output_lines(int32_t first, int32_t end, double *const *rows)
{
    if (!write_geotiff_lines(run_writer, first, end, rows))
        stop_run_output();
}

void geotiff_finish_output()
{
    std::string failure;
    const bool written = finish_geotiff(run_writer, &failure);
    run_writer = nullptr;
    if (!written)
        stop_output_failed_because(f3, failure);
    finish_output(f3);
    f3 = nullptr;
}

void geotiff_output(double d_min, double d_max)
{
    geotiff_start_output(d_min, d_max);
    geotiff_output_lines(0, nb_lig, dtab_out);
    geotiff_finish_output();
}
