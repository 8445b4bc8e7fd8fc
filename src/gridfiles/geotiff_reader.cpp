#include "gridfiles/geotiff_reader.h"

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "console/console.h"
#include "console/progress.h"
#include "gridfiles/ascii_grid.h"
#include "gridfiles/block_rows.h"
#include "gridfiles/grid_memory.h"
#include "gridfiles/input_grid.h"
#include "gridfiles/raster_pair.h"
#include "platform/worker_thread.h"
#include "nrutil.h"
#include "platform/platform.h"
#include "text/number_text.h"

namespace {

const double NO_VALUE = std::numeric_limits<double>::quiet_NaN();
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
const bool NATIVE_LITTLE_ENDIAN = false;
#else
const bool NATIVE_LITTLE_ENDIAN = true;
#endif
const double GIB = 1024.0 * 1024.0 * 1024.0;
// A strip larger than this is read line by line rather than whole; a tile larger than
// TILE_BYTES_MOST is refused.
const uint64_t WHOLE_STRIP_BYTES_MOST = uint64_t(16) << 20;
const uint64_t TILE_BYTES_MOST = uint64_t(1) << 30;
// Below this many cells a second thread costs more than it saves. A band's blocks are
// handed to the second thread band after band: on a machine whose cores are all busy
// each handing over may wait for a time slice, so that only large bands gain by it
// (bands of 64 lines of 5000 cells decoded 2 to 3 times slower on two threads than on
// one, under a load of 10 on 2 cores).
const int64_t TWO_THREAD_CELLS = 256 * 256;
const int64_t BAND_TWO_THREAD_CELLS = int64_t(1) << 22;

bool refuse(geotiff_fault *fault, geotiff_fault_kind kind, const std::string &what)
{
    fault->kind = kind;
    fault->what = what;
    return false;
}

std::string exact(double value)
{
    return exact_real_text(value);
}

bool all_finite(std::initializer_list<double> values)
{
    for (double v : values)
        if (!std::isfinite(v))
            return false;
    return true;
}

// The sample types read: unsigned (1, and 4, "void", as unsigned), signed (2) integers of
// 8 to 64 bits, reals (3) of 32 and 64.
bool sample_type_read(uint16_t format, uint16_t bits)
{
    const bool whole = bits == 8 || bits == 16 || bits == 32 || bits == 64;
    return ((format == 1 || format == 2 || format == 4) && whole) || (format == 3 && (bits == 32 || bits == 64));
}

std::string sample_type_text(uint16_t format, uint16_t bits)
{
    const char *kind = format == 2   ? "signed integer"
                       : format == 3 ? "real"
                       : format == 5 ? "complex integer"
                       : format == 6 ? "complex real"
                                     : "unsigned integer";
    return text_printf("%u-bit %s", bits, kind);
}

std::string codec_name(uint16_t compression)
{
    const TIFFCodec *codec = TIFFFindCODEC(compression);
    if (codec != nullptr && codec->name != nullptr)
        return text_printf("%s (compression %u)", codec->name, compression);
    return text_printf("compression %u", compression);
}

std::vector<double> double_tag(TIFF *tif, uint32_t tag)
{
    uint32_t count = 0;
    double *values = nullptr;
    if (TIFFGetField(tif, tag, &count, &values) != 1 || values == nullptr)
        return {};
    return std::vector<double>(values, values + count);
}

std::string text_tag(TIFF *tif, uint32_t tag)
{
    char *text = nullptr;
    if (TIFFGetField(tif, tag, &text) != 1 || text == nullptr)
        return "";
    return text;
}


// The value of an XML attribute name="..." inside an element's opening text.
std::string attribute(const std::string &element, const char *name)
{
    const std::string key = std::string(name) + "=\"";
    size_t at = element.find(key);
    if (at == std::string::npos)
        return "";
    at += key.size();
    const size_t end = element.find('"', at);
    return end == std::string::npos ? "" : element.substr(at, end - at);
}

bool real_text(std::string text, double *value)
{
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return false;
    text = text.substr(first, text.find_last_not_of(" \t\r\n") + 1 - first);
    return parse_real_word(text.data(), text.data() + text.size(), value);
}

template <typename T>
void convert_samples(const uint8_t *samples, size_t stride, size_t count, const geotiff_layout &layout,
                     double *cells)
{
    const bool scaled = layout.scale != 1.0 || layout.offset != 0.0;
    if (stride == 1 && !scaled && !(layout.has_nodata && layout.nodata_near)) {
        // One band of samples as they are, the commonest: loops without a branch, which the
        // compiler makes vector code of (the same values).
        const double nodata = layout.nodata_value;
        if (layout.has_nodata)
            for (size_t k = 0; k < count; k++) {
                T sample;
                std::memcpy(&sample, samples + k * sizeof(T), sizeof(T));
                const double value = static_cast<double>(sample);
                cells[k] = value != value || value == nodata ? NO_VALUE : value;
            }
        else
            for (size_t k = 0; k < count; k++) {
                T sample;
                std::memcpy(&sample, samples + k * sizeof(T), sizeof(T));
                const double value = static_cast<double>(sample);
                cells[k] = value != value ? NO_VALUE : value;
            }
        return;
    }
    const size_t step = stride * sizeof(T);
    if (layout.has_nodata && layout.nodata_near) {
        // GDAL's equality of reals: within two float steps of their size.
        const double nodata = layout.nodata_value;
        for (size_t k = 0; k < count; k++) {
            T sample;
            std::memcpy(&sample, samples + k * step, sizeof(T));
            const double value = static_cast<double>(sample);
            if (value != value || value == nodata ||
                std::abs(value - nodata) < std::numeric_limits<float>::epsilon() * std::abs(value + nodata) * 2)
                cells[k] = NO_VALUE;
            else
                cells[k] = scaled ? value * layout.scale + layout.offset : value;
        }
        return;
    }
    for (size_t k = 0; k < count; k++) {
        T sample;
        std::memcpy(&sample, samples + k * step, sizeof(T));
        const double value = static_cast<double>(sample);
        if (value != value || (layout.has_nodata && value == layout.nodata_value))
            cells[k] = NO_VALUE;
        else
            cells[k] = scaled ? value * layout.scale + layout.offset : value;
    }
}

// The blocks of the first band in the file's order, and the cells each one covers.
struct block_cells {
    int32_t top, left, lines, columns;
};

block_cells cells_of_block(const geotiff_layout &layout, uint32_t block)
{
    const int64_t block_lines = layout.block_lines;
    if (!layout.tiled) {
        const int64_t top = block * block_lines;
        return {static_cast<int32_t>(top), 0, static_cast<int32_t>(std::min(block_lines, layout.lines - top)),
                layout.columns};
    }
    const uint32_t across = static_cast<uint32_t>((static_cast<int64_t>(layout.columns) + layout.block_columns - 1) /
                                                  layout.block_columns);
    const int64_t top = (block / across) * block_lines;
    const int64_t left = static_cast<int64_t>(block % across) * layout.block_columns;
    return {static_cast<int32_t>(top), static_cast<int32_t>(left),
            static_cast<int32_t>(std::min(block_lines, layout.lines - top)),
            static_cast<int32_t>(std::min<int64_t>(layout.block_columns, layout.columns - left))};
}

size_t sample_bytes(const geotiff_layout &layout)
{
    return layout.bits / 8;
}

size_t interleave(const geotiff_layout &layout)
{
    return layout.interleaved ? layout.bands : 1;
}

std::string block_failure(const geotiff_layout &layout, uint32_t block, const tiff_stream &stream)
{
    const block_cells cells = cells_of_block(layout, block);
    const bool told = !stream.error.empty() || stream.io_failed;
    const std::string reason = told ? tiff_failure_reason(stream) : "it holds fewer bytes than its cells need";
    return text_printf("%s %u of %u (lines %d to %d, columns %d to %d) cannot be decoded: %s",
                       layout.tiled ? "tile" : "strip", block + 1, layout.blocks, cells.top + 1,
                       cells.top + cells.lines, cells.left + 1, cells.left + cells.columns, reason.c_str());
}

// Has libtiff hand over a single band's samples with the floating-point predictor still
// on them, for undo_float_predictor to undo, where it can on this handle.
bool take_over_float_predictor(TIFF *tif, const geotiff_layout &layout)
{
    uint16_t predictor = PREDICTOR_NONE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_PREDICTOR, &predictor);
    if (predictor != PREDICTOR_FLOATINGPOINT || layout.sample_format != SAMPLEFORMAT_IEEEFP ||
        interleave(layout) != 1 || TIFFIsByteSwapped(tif))
        return false;
    // Read back: a libtiff that took the tag but kept its own undoing says so.
    uint16_t now = PREDICTOR_FLOATINGPOINT;
    return TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_NONE) == 1 &&
           TIFFGetFieldDefaulted(tif, TIFFTAG_PREDICTOR, &now) == 1 && now == PREDICTOR_NONE;
}

// The running sums of count bytes in place, from sum (mod 256); returns the last.
uint8_t running_byte_sums(uint8_t *bytes, size_t count, uint8_t sum)
{
    size_t k = 0;
#if defined(__SSE2__)
    // Sixteen at a time: each vector's own running sums, in four shifts, plus the last
    // sum of the one before, copied into every byte.
    __m128i carry = _mm_set1_epi8(static_cast<char>(sum));
    for (; k + 16 <= count; k += 16) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + k));
        x = _mm_add_epi8(x, _mm_slli_si128(x, 1));
        x = _mm_add_epi8(x, _mm_slli_si128(x, 2));
        x = _mm_add_epi8(x, _mm_slli_si128(x, 4));
        x = _mm_add_epi8(x, _mm_slli_si128(x, 8));
        x = _mm_add_epi8(x, carry);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(bytes + k), x);
        const __m128i high = _mm_unpackhi_epi16(_mm_unpackhi_epi8(x, x), _mm_unpackhi_epi8(x, x));
        carry = _mm_shuffle_epi32(high, 0xFF);
    }
    if (k > 0)
        sum = bytes[k - 1];
#endif
    for (; k < count; k++) {
        sum = static_cast<uint8_t>(sum + bytes[k]);
        bytes[k] = sum;
    }
    return sum;
}

// One row of count samples of bytes bytes each under the floating-point predictor: the
// row holds each sample's most significant byte, then every next byte, in planes of count
// bytes, and each byte of the row is its difference from the one before it. The row's
// bytes become their sums; the samples go to out in the machine's order.
void undo_float_predictor(uint8_t *row, size_t count, size_t bytes, uint8_t *out)
{
    running_byte_sums(row, count * bytes, 0);
    size_t k = 0;
#if defined(__SSE2__)
    if (bytes == 4 && NATIVE_LITTLE_ENDIAN) {
        // Sixteen samples at a time from the four planes, the least significant byte first.
        auto plane = [&](size_t p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + p * count + k)); };
        for (; k + 16 <= count; k += 16) {
            const __m128i p0 = plane(0), p1 = plane(1), p2 = plane(2), p3 = plane(3);
            const __m128i low32 = _mm_unpacklo_epi8(p3, p2), low10 = _mm_unpacklo_epi8(p1, p0);
            const __m128i high32 = _mm_unpackhi_epi8(p3, p2), high10 = _mm_unpackhi_epi8(p1, p0);
            __m128i *to = reinterpret_cast<__m128i *>(out + k * 4);
            _mm_storeu_si128(to, _mm_unpacklo_epi16(low32, low10));
            _mm_storeu_si128(to + 1, _mm_unpackhi_epi16(low32, low10));
            _mm_storeu_si128(to + 2, _mm_unpacklo_epi16(high32, high10));
            _mm_storeu_si128(to + 3, _mm_unpackhi_epi16(high32, high10));
        }
    }
#endif
    for (; k < count; k++)
        for (size_t plane = 0; plane < bytes; plane++)
            out[k * bytes + (NATIVE_LITTLE_ENDIAN ? bytes - 1 - plane : plane)] = row[plane * count + k];
}

// Where decoded lines go: as metres into grid, whose grid[0] is line top of the file,
// or as the file's samples (the predictor undone) into held, line_bytes a line, line
// top of the file first.
struct block_target {
    double *const *grid = nullptr;
    uint8_t *held = nullptr;
    size_t line_bytes = 0;
    int32_t top = 0;
};

// One block decoded through one handle into its cells. False with *failure set. scratch
// holds a row of the block.
bool decode_block(tiff_stream *stream, const geotiff_layout &layout, uint32_t block, uint8_t *buffer,
                  uint8_t *scratch, const block_target &target, std::string *failure)
{
    const block_cells cells = cells_of_block(layout, block);
    const size_t stride = interleave(layout);
    const size_t row_samples = static_cast<size_t>(layout.tiled ? layout.block_columns : layout.columns) * stride;
    const tmsize_t wanted =
        layout.tiled ? static_cast<tmsize_t>(layout.block_bytes)
                     : static_cast<tmsize_t>(static_cast<size_t>(cells.lines) * row_samples * sample_bytes(layout));
    // libtiff may call a block whole that it has not wholly written (a Deflate stream that
    // runs beyond its block, decoded by libdeflate): what it leaves is 0 on every run.
    std::memset(buffer, 0, static_cast<size_t>(wanted));
    const tmsize_t got = layout.tiled ? TIFFReadEncodedTile(stream->tif, block, buffer, wanted)
                                      : TIFFReadEncodedStrip(stream->tif, block, buffer, wanted);
    if (got != wanted) {
        *failure = block_failure(layout, block, *stream);
        return false;
    }
    const size_t cell_bytes = stride * sample_bytes(layout);
    for (int32_t r = 0; r < cells.lines; r++) {
        uint8_t *row = buffer + static_cast<size_t>(r) * row_samples * sample_bytes(layout);
        if (layout.float_predictor) {
            undo_float_predictor(row, row_samples, sample_bytes(layout), scratch);
            row = scratch;
        }
        const int32_t line = cells.top - target.top + r;
        if (target.grid != nullptr)
            samples_to_metres(row, stride, static_cast<size_t>(cells.columns), layout,
                              target.grid[line] + cells.left);
        else
            std::memcpy(target.held + static_cast<size_t>(line) * target.line_bytes +
                            static_cast<size_t>(cells.left) * cell_bytes,
                        row, static_cast<size_t>(cells.columns) * cell_bytes);
    }
    return true;
}

// Lines [first, end) of strips too large to hold whole, line after line through one
// handle, into grid (grid[0] is line first).
bool decode_by_lines(tiff_stream *stream, const geotiff_layout &layout, int32_t first, int32_t end,
                     double *const *grid, geotiff_fault *fault)
{
    const tmsize_t line_bytes = TIFFScanlineSize(stream->tif);
    const size_t bytes = static_cast<size_t>(std::max<tmsize_t>(line_bytes, 1));
    std::unique_ptr<uint8_t[]> line(new (std::nothrow) uint8_t[bytes]);
    std::unique_ptr<uint8_t[]> scratch(new (std::nothrow) uint8_t[bytes]);
    if (line == nullptr || scratch == nullptr || line_bytes <= 0)
        return refuse(fault, geotiff_no_memory, "a line of its samples");
    for (int32_t i = first; i < end; i++) {
        std::memset(line.get(), 0, static_cast<size_t>(line_bytes));
        if (TIFFReadScanline(stream->tif, line.get(), static_cast<uint32_t>(i), 0) != 1) {
            const uint32_t strip = static_cast<uint32_t>(i / static_cast<int64_t>(layout.block_lines));
            return refuse(fault, geotiff_block_unreadable,
                          text_printf("line %d of ", i + 1) + block_failure(layout, strip, *stream));
        }
        uint8_t *samples = line.get();
        if (layout.float_predictor) {
            undo_float_predictor(samples, static_cast<size_t>(layout.columns), sample_bytes(layout), scratch.get());
            samples = scratch.get();
        }
        samples_to_metres(samples, interleave(layout), static_cast<size_t>(layout.columns), layout, grid[i - first]);
    }
    return true;
}

// What one thread decodes: the next block not yet taken, until none is left before end
// or a block fails somewhere.
struct block_share {
    std::atomic<uint32_t> next{0};
    uint32_t end = 0;
    std::atomic<bool> failed{false};
};
struct thread_result {
    bool ok = true;
    uint32_t block = 0;
    std::string failure;
};

void decode_share(tiff_stream *stream, const geotiff_layout &layout, const block_target &target, bool progress,
                  block_share *share, thread_result *result)
{
    // A thread keeps its room for blocks from one grid to the next while it is small, as
    // for the thousands of small files a second of the fuzzing harness: no fresh memory,
    // each page of it a fault, for every file.
    const size_t KEPT_ROOM = size_t(1) << 20;
    thread_local std::vector<uint8_t> buffer, scratch;
    const size_t row_bytes = static_cast<size_t>(layout.block_columns) * interleave(layout) * sample_bytes(layout);
    try {
        buffer.resize(std::max(buffer.size(), static_cast<size_t>(layout.block_bytes)));
        scratch.resize(std::max(scratch.size(), row_bytes));
    } catch (const std::bad_alloc &) {
        *result = {false, 0, "no memory for one of its blocks"};
        share->failed = true;
    }
    while (!share->failed.load(std::memory_order_relaxed)) {
        const uint32_t block = share->next.fetch_add(1);
        if (block >= share->end)
            break;
        std::string failure;
        if (!decode_block(stream, layout, block, buffer.data(), scratch.data(), target, &failure)) {
            *result = {false, block, failure};
            share->failed = true;
        }
        if (progress)
            progress_to(static_cast<double>(block + 1) / layout.blocks);
    }
    if (buffer.capacity() > KEPT_ROOM)
        std::vector<uint8_t>().swap(buffer);
    if (scratch.capacity() > KEPT_ROOM)
        std::vector<uint8_t>().swap(scratch);
}

// Blocks [begin, end) in the file's order into target, through stream, and through
// second on worker as well (a second thread) when second is not null and the blocks
// hold at least least_two_cells. The fault is that of the first block in the file's order that failed.
bool decode_blocks(tiff_stream *stream, tiff_stream *second, worker_thread *worker, const geotiff_layout &layout,
                   uint32_t begin, uint32_t end, const block_target &target, bool progress, int64_t least_two_cells,
                   geotiff_fault *fault)
{
    int64_t cells = 0;
    for (uint32_t block = begin; block < end && cells < least_two_cells; block++) {
        const block_cells c = cells_of_block(layout, block);
        cells += static_cast<int64_t>(c.lines) * c.columns;
    }
    const bool two = second != nullptr && end - begin > 1 && cells >= least_two_cells;
    block_share share;
    share.next = begin;
    share.end = end;
    thread_result mine, theirs;
    const bool helped = two && (worker->running || worker_start(worker));
    if (helped)
        worker_post(worker, [&] { decode_share(second, layout, target, progress, &share, &theirs); });
    decode_share(stream, layout, target, progress, &share, &mine);
    if (helped)
        worker_wait(worker);
    const thread_result *failed = !mine.ok ? &mine : nullptr;
    if (!theirs.ok && (failed == nullptr || theirs.block < failed->block))
        failed = &theirs;
    if (failed != nullptr)
        return refuse(fault, geotiff_block_unreadable, failed->failure);
    return true;
}

// A second handle on the file for a second thread, opened on again; false when there
// is none to be had (the first thread then decodes alone).
bool open_second_handle(tiff_stream *second, FILE *again, const geotiff_file &file)
{
    return again != nullptr && tiff_open(second, again, file.stream.name, "r") &&
           take_over_float_predictor(second->tif, file.layout) == file.layout.float_predictor;
}

// The layout of the blocks of the first band; false when the file's are unusable.
bool read_block_layout(TIFF *tif, geotiff_layout *layout, geotiff_fault *fault)
{
    layout->tiled = TIFFIsTiled(tif) != 0;
    if (layout->tiled) {
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &layout->block_columns);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &layout->block_lines);
        if (layout->block_columns == 0 || layout->block_lines == 0)
            return refuse(fault, geotiff_not_readable, "its tiles have no size");
        const uint64_t tiles =
            ((static_cast<uint64_t>(layout->columns) + layout->block_columns - 1) / layout->block_columns) *
            ((static_cast<uint64_t>(layout->lines) + layout->block_lines - 1) / layout->block_lines);
        if (tiles > UINT32_MAX)
            return refuse(fault, geotiff_blocks_too_large,
                          text_printf("%llu tiles", static_cast<unsigned long long>(tiles)));
        layout->blocks = static_cast<uint32_t>(tiles);
        layout->block_bytes = TIFFTileSize64(tif);
        if (layout->block_bytes > TILE_BYTES_MOST)
            return refuse(fault, geotiff_blocks_too_large,
                          text_printf("tiles of %u x %u cells, %.1f GiB each", layout->block_columns,
                                      layout->block_lines, static_cast<double>(layout->block_bytes) / GIB));
    } else {
        uint32_t rows = 0;
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rows);
        if (rows == 0 || rows > static_cast<uint32_t>(layout->lines))
            rows = static_cast<uint32_t>(layout->lines);
        layout->block_columns = static_cast<uint32_t>(layout->columns);
        layout->block_lines = rows;
        layout->blocks = static_cast<uint32_t>((static_cast<uint64_t>(layout->lines) + rows - 1) / rows);
        layout->block_bytes = TIFFStripSize64(tif);
        layout->by_lines = layout->block_bytes > WHOLE_STRIP_BYTES_MOST;
    }
    if (layout->block_bytes == 0)
        return refuse(fault, geotiff_not_readable, "the size of its blocks cannot be known");
    return true;
}

} // namespace

std::string geotiff_fault_message(const std::string &path, const geotiff_fault &fault)
{
    const char *file = path.c_str();
    const char *what = fault.what.c_str();
    switch (fault.kind) {
    case geotiff_fine:
        return "";
    case geotiff_not_readable:
        return text_printf("\n\tFile %s cannot be read as a TIFF file: %s.\n", file, what);
    case geotiff_bad_counts:
        return text_printf("\n\tFile %s has %s: the program reads grids of 1 to 2147483647 lines and columns.\n",
                           file, what);
    case geotiff_sample_type:
        return text_printf("\n\tFile %s holds %s samples: the program reads 8-, 16-, 32- and 64-bit integers and "
                           "32- and 64-bit reals.\n",
                           file, what);
    case geotiff_codec_missing:
        return text_printf("\n\tFile %s is compressed with %s, which the TIFF library in use (%s) was built "
                           "without: convert it to Deflate, LZW or no compression first.\n",
                           file, what, tiff_library_name().c_str());
    case geotiff_no_georeference:
        return text_printf("\n\tFile %s has no georeference the program can use (%s): it needs the map "
                           "coordinates of the grid's corner and its cell size.\n",
                           file, what);
    case geotiff_control_points:
        return text_printf("\n\tFile %s is placed by %s (control points), not by a corner and a cell size: "
                           "warp it onto a regular grid first.\n",
                           file, what);
    case geotiff_not_north_up:
        return text_printf("\n\tFile %s is not a north-up grid (%s): the program needs lines that run from "
                           "north to south and columns from west to east; resample it onto such a grid first.\n",
                           file, what);
    case geotiff_blocks_too_large:
        return text_printf("\n\tFile %s has %s: more than the program decodes at once; retile it first "
                           "(256 x 256 tiles, for example).\n",
                           file, what);
    case geotiff_block_unreadable:
        return text_printf("\n\tFile %s is damaged: %s.\n", file, what);
    case geotiff_no_memory:
        return text_printf("\n\tNot enough memory to read file %s (%s).\n", file, what);
    }
    return "";
}

bool place_geotiff_cells(const std::vector<double> &pixel_scale, const std::vector<double> &tiepoints,
                         const std::vector<double> &transformation, bool pixel_is_point, int32_t lines,
                         grid_frame *placement, geotiff_fault *fault)
{
    double left, top, dx, dy;
    if (tiepoints.size() >= 12)
        return refuse(fault, geotiff_control_points, text_printf("%llu tiepoints", static_cast<unsigned long long>(tiepoints.size() / 6)));
    if (tiepoints.size() >= 6 && pixel_scale.size() >= 2) {
        dx = pixel_scale[0];
        dy = pixel_scale[1];
        left = tiepoints[3] - tiepoints[0] * dx;
        top = tiepoints[4] + tiepoints[1] * dy;
    } else if (transformation.size() >= 16) {
        if (transformation[1] != 0.0 || transformation[4] != 0.0)
            return refuse(fault, geotiff_not_north_up,
                          "a ModelTransformation that turns its grid, by the terms " + exact(transformation[1]) +
                              " and " + exact(transformation[4]));
        dx = transformation[0];
        dy = -transformation[5];
        left = transformation[3];
        top = transformation[7];
    } else {
        return refuse(fault, geotiff_no_georeference,
                      tiepoints.size() >= 6 ? "a tiepoint but no ModelPixelScale"
                                            : "neither ModelPixelScale and ModelTiepoint nor ModelTransformation");
    }
    if (!all_finite({left, top, dx, dy}) || dx == 0.0 || dy == 0.0)
        return refuse(fault, geotiff_no_georeference,
                      "a corner " + exact(left) + " " + exact(top) + " and cells of " + exact(dx) + " by " + exact(dy));
    if (dx < 0.0 || dy < 0.0)
        return refuse(fault, geotiff_not_north_up,
                      "cells " + exact(dx) + " wide and " + exact(dy) + " high, from its top-left corner");
    if (pixel_is_point) {
        left -= dx / 2.0;
        top += dy / 2.0;
    }
    const double bottom = top - lines * dy;
    if (!std::isfinite(bottom))
        return refuse(fault, geotiff_no_georeference,
                      "a grid from " + exact(top) + " down by " + text_printf("%d", lines) + " cells of " + exact(dy));
    placement->xll = left;
    placement->yll = bottom;
    placement->dx = dx;
    placement->dy = dy;
    return true;
}


bool band_nodata(const std::string &text, uint16_t sample_format, uint16_t bits, double *value)
{
    double v;
    if (!real_text(text, &v) || v != v)
        return false;
    if (sample_format == 3) {
        if (bits == 32 && std::fabs(v) > FLT_MAX) {
            // Rounded to the nearest float: up to half a step beyond the largest is the largest.
            const double largest = std::fabs(v) < FLT_MAX + std::ldexp(1.0, 103) ? FLT_MAX : INFINITY;
            v = std::copysign(largest, v);
        }
        *value = bits == 32 ? static_cast<double>(static_cast<float>(v)) : v;
        return true;
    }
    const bool is_signed = sample_format == 2;
    const double low = is_signed ? -std::ldexp(1.0, bits - 1) : 0.0;
    const double high = is_signed ? std::ldexp(1.0, bits - 1) - 1.0 : std::ldexp(1.0, bits) - 1.0;
    if (v != std::trunc(v) || v < low || v > high)
        return false;
    *value = v;
    return true;
}

void band_scale_offset(const std::string &metadata, double *scale, double *offset)
{
    size_t at = 0;
    while ((at = metadata.find("<Item", at)) != std::string::npos) {
        const size_t open_end = metadata.find('>', at);
        if (open_end == std::string::npos)
            return;
        const size_t close = metadata.find("</Item>", open_end);
        if (close == std::string::npos)
            return;
        const std::string element = metadata.substr(at, open_end - at);
        const std::string role = attribute(element, "role");
        const std::string text = metadata.substr(open_end + 1, close - open_end - 1);
        double value;
        if (attribute(element, "sample") == "0" && real_text(text, &value)) {
            if (role == "scale")
                *scale = value;
            else if (role == "offset")
                *offset = value;
        }
        at = close;
    }
}

void samples_to_metres(const uint8_t *samples, size_t stride, size_t count, const geotiff_layout &layout,
                       double *cells)
{
    const bool is_signed = layout.sample_format == 2;
    if (layout.sample_format == 3) {
        if (layout.bits == 32)
            convert_samples<float>(samples, stride, count, layout, cells);
        else
            convert_samples<double>(samples, stride, count, layout, cells);
        return;
    }
    switch (layout.bits) {
    case 8:
        return is_signed ? convert_samples<int8_t>(samples, stride, count, layout, cells)
                         : convert_samples<uint8_t>(samples, stride, count, layout, cells);
    case 16:
        return is_signed ? convert_samples<int16_t>(samples, stride, count, layout, cells)
                         : convert_samples<uint16_t>(samples, stride, count, layout, cells);
    case 32:
        return is_signed ? convert_samples<int32_t>(samples, stride, count, layout, cells)
                         : convert_samples<uint32_t>(samples, stride, count, layout, cells);
    default:
        return is_signed ? convert_samples<int64_t>(samples, stride, count, layout, cells)
                         : convert_samples<uint64_t>(samples, stride, count, layout, cells);
    }
}

bool geotiff_open(FILE *fp, const std::string &name, geotiff_file *file, geotiff_fault *fault)
{
    *fault = geotiff_fault();
    file->layout = geotiff_layout();
    if (!tiff_open(&file->stream, fp, name, "r"))
        return refuse(fault, geotiff_not_readable, tiff_failure_reason(file->stream));
    TIFF *tif = file->stream.tif;
    geotiff_layout &layout = file->layout;

    uint32_t width = 0, height = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    const uint32_t most = static_cast<uint32_t>(std::numeric_limits<int32_t>::max());
    if (width == 0 || height == 0 || width > most || height > most)
        return refuse(fault, geotiff_bad_counts, text_printf("%u lines and %u columns", height, width));
    layout.lines = static_cast<int32_t>(height);
    layout.columns = static_cast<int32_t>(width);

    uint16_t planar = PLANARCONFIG_CONTIG;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &layout.bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &layout.sample_format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &layout.bands);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &layout.compression);
    if (!sample_type_read(layout.sample_format, layout.bits))
        return refuse(fault, geotiff_sample_type, sample_type_text(layout.sample_format, layout.bits));
    if (layout.bands == 0)
        return refuse(fault, geotiff_not_readable, "it holds no band");
    if (!TIFFIsCODECConfigured(layout.compression))
        return refuse(fault, geotiff_codec_missing, codec_name(layout.compression));
    layout.interleaved = planar != PLANARCONFIG_SEPARATE || layout.bands == 1;
    if (!read_block_layout(tif, &layout, fault))
        return false;
    layout.float_predictor = take_over_float_predictor(tif, layout);

    layout.keys = read_geo_keys(tif);
    uint16_t key = 0;
    const bool pixel_is_point = geokey_short(layout.keys, GEOKEY_RASTER_TYPE, &key) && key == 2;
    layout.geographic = geokey_short(layout.keys, GEOKEY_MODEL_TYPE, &key) && key == 2;
    if (!place_geotiff_cells(double_tag(tif, TAG_MODEL_PIXEL_SCALE), double_tag(tif, TAG_MODEL_TIEPOINT),
                             double_tag(tif, TAG_MODEL_TRANSFORMATION), pixel_is_point, layout.lines,
                             &layout.placement, fault))
        return false;
    layout.has_nodata =
        band_nodata(text_tag(tif, TAG_GDAL_NODATA), layout.sample_format, layout.bits, &layout.nodata_value);
    band_scale_offset(text_tag(tif, TAG_GDAL_METADATA), &layout.scale, &layout.offset);
    return true;
}

bool geotiff_read_cells(geotiff_file *file, FILE *again, double *const *grid, geotiff_fault *fault)
{
    *fault = geotiff_fault();
    const geotiff_layout &layout = file->layout;
    if (layout.by_lines)
        return decode_by_lines(&file->stream, layout, 0, layout.lines, grid, fault);

    // The second thread's own handle on the file; without it this thread decodes alone.
    tiff_stream second;
    const bool two = layout.blocks > 1 && static_cast<int64_t>(layout.lines) * layout.columns >= TWO_THREAD_CELLS &&
                     open_second_handle(&second, again, *file);
    worker_thread worker;
    block_target target;
    target.grid = grid;
    const bool read = decode_blocks(&file->stream, two ? &second : nullptr, &worker, layout, 0, layout.blocks,
                                    target, true, TWO_THREAD_CELLS, fault);
    worker_stop(&worker);
    tiff_close(&second);
    return read;
}

void geotiff_close(geotiff_file *file)
{
    tiff_close(&file->stream);
}

namespace {

// A GeoTIFF read a band of lines at a time: its strips or rows of tiles decoded as the
// bands reach them (on two threads where a band covers many blocks), the row of blocks
// a band ends inside held as the file's samples for the next band; strips too large to
// decode whole read by lines.
class geotiff_band_reader : public block_row_lines {
public:
    geotiff_band_reader(std::unique_ptr<geotiff_file> file, FILE *fp, FILE *again, const std::string &path)
        : block_row_lines(file->layout.lines, file->layout.by_lines ? 1 : static_cast<int32_t>(file->layout.block_lines)),
          file_(std::move(file)), fp_(fp), again_(again), path_(path)
    {
        const geotiff_layout &layout = file_->layout;
        two_ = !layout.by_lines && open_second_handle(&second_, again_, *file_);
        across_ = layout.tiled ? static_cast<uint32_t>((static_cast<int64_t>(layout.columns) + layout.block_columns - 1) /
                                                       layout.block_columns)
                               : 1;
        line_bytes_ = static_cast<size_t>(layout.columns) * interleave(layout) * sample_bytes(layout);
    }
    ~geotiff_band_reader() override
    {
        worker_stop(&worker_);
        tiff_close(&second_);
        geotiff_close(file_.get());
        if (again_ != nullptr)
            std::fclose(again_);
        if (fp_ != nullptr)
            std::fclose(fp_);
    }
    geotiff_band_reader(const geotiff_band_reader &) = delete;
    geotiff_band_reader &operator=(const geotiff_band_reader &) = delete;

protected:
    bool decode_rows(int32_t first_row, int32_t end_row, double *const *rows, std::string *fault) override
    {
        block_target target;
        target.grid = rows;
        target.top = first_row * block_lines_;
        return decode(first_row, end_row, target, fault);
    }
    bool hold_row(int32_t row, std::string *fault) override
    {
        try {
            held_.resize(static_cast<size_t>(block_lines_) * line_bytes_);
        } catch (const std::bad_alloc &) {
            return fail({geotiff_no_memory, "a row of its blocks"}, fault);
        }
        block_target target;
        target.held = held_.data();
        target.line_bytes = line_bytes_;
        target.top = row * block_lines_;
        return decode(row, row + 1, target, fault);
    }
    void held_line(int32_t line, double *cells) override
    {
        const geotiff_layout &layout = file_->layout;
        samples_to_metres(held_.data() + static_cast<size_t>(line) * line_bytes_, interleave(layout),
                          static_cast<size_t>(layout.columns), layout, cells);
    }

private:
    bool decode(int32_t first_row, int32_t end_row, const block_target &target, std::string *fault)
    {
        const geotiff_layout &layout = file_->layout;
        geotiff_fault failure;
        const bool read =
            layout.by_lines
                ? decode_by_lines(&file_->stream, layout, first_row, end_row, target.grid, &failure)
                : decode_blocks(&file_->stream, two_ ? &second_ : nullptr, &worker_, layout,
                                static_cast<uint32_t>(first_row) * across_,
                                std::min(layout.blocks, static_cast<uint32_t>(end_row) * across_), target, false,
                                BAND_TWO_THREAD_CELLS, &failure);
        return read || fail(failure, fault);
    }
    bool fail(const geotiff_fault &failure, std::string *fault) const
    {
        *fault = geotiff_fault_message(path_, failure);
        return false;
    }

    std::unique_ptr<geotiff_file> file_;
    FILE *fp_, *again_;
    std::string path_;
    tiff_stream second_;
    bool two_ = false;
    worker_thread worker_;
    uint32_t across_ = 1;
    size_t line_bytes_ = 0;
    std::vector<uint8_t> held_;
};

} // namespace

std::unique_ptr<line_reader> geotiff_line_reader(std::unique_ptr<geotiff_file> file, FILE *fp, FILE *again,
                                                 const std::string &path)
{
    return std::unique_ptr<line_reader>(new geotiff_band_reader(std::move(file), fp, again, path));
}

void open_geotiff_input(input_grid &grid)
{
    grid.f = open_program_file(grid.nomim, "rb");
    if (grid.f == nullptr)
        stop_with_message("\n\tFile %s unknown\n", grid.nomim.c_str());
    std::printf("\n");
    // Where libtiff's handle keeps it: a reader of bands takes it over.
    std::unique_ptr<geotiff_file> file(new geotiff_file());
    geotiff_fault fault;
    if (!geotiff_open(grid.f, grid.nomim, file.get(), &fault))
        stop_with_message("%s", geotiff_fault_message(grid.nomim, fault).c_str());
    const geotiff_layout &layout = file->layout;
    // The frame, and with it the memory of the run, is judged before a sample is decoded.
    take_file_counts(grid, layout.lines, layout.columns, layout.bands);

    grid.frame = layout.placement;
    grid.frame.has_corner = true;
    grid.frame.lines = layout.lines;
    grid.frame.columns = layout.columns;
    grid.frame.has_nodata = layout.has_nodata;
    grid.frame.nodata = layout.has_nodata ? layout.nodata_value : 0.0;
    grid.frame.geographic = layout.geographic;
    grid.dpix = grid.frame.dx;
    grid.pix_size = truncate_to_int32(grid.frame.dx);
    grid.geographic = layout.geographic ? 1 : 0;
    grid.geokeys = layout.keys;
    grid.corner_ok = 1;

    if (grid.by_bands) {
        FILE *again = open_program_file(grid.nomim, "rb");
        grid.dtab = nullptr;
        grid.reader = geotiff_line_reader(std::move(file), grid.f, again, grid.nomim);
        grid.f = nullptr;
        return;
    }
    // Each grid at its own frame: the frame step brings them onto one.
    grid.dtab = dmatrice(grid.columns, grid.lines);
    require_grid(grid.dtab, grid.columns, grid.lines);
    FILE *again = open_program_file(grid.nomim, "rb");
    const bool read = geotiff_read_cells(file.get(), again, grid.dtab, &fault);
    if (again != nullptr)
        std::fclose(again);
    geotiff_close(file.get());
    std::fclose(grid.f);
    grid.f = nullptr;
    if (!read)
        stop_with_message("%s", geotiff_fault_message(grid.nomim, fault).c_str());
}
