#include "gridfiles/gdal_grid.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <vector>


#include "console/console.h"
#include "console/progress.h"
#include "globals/globals.h"
#include "gridfiles/block_rows.h"
#include "gridfiles/geotiff_reader.h"
#include "gridfiles/grid_memory.h"
#include "gridfiles/input_grid.h"
#include "gridfiles/raster_pair.h"
#include "nrutil.h"
#include "platform/platform.h"
#include "platform/worker_thread.h"
#include "text/number_text.h"

#ifdef ORMELIX_GDAL
#include "gridfiles/gdal_library.h"
#endif

std::string gdal_fault_message(const std::string &path, const gdal_fault &fault)
{
    const char *file = path.c_str();
    const char *what = fault.what.c_str();
    switch (fault.kind) {
    case gdal_fine:
        return "";
    case gdal_missing:
        return text_printf("\n\tFile %s is in none of the forms this build of the program reads (it was built "
                           "without GDAL): convert it to a GeoTIFF first (gdal_translate), or use a build with "
                           "GDAL.\n",
                           file);
    case gdal_not_readable:
        return text_printf("\n\tFile %s cannot be read by GDAL: %s.\n", file, what);
    case gdal_no_band:
        return text_printf("\n\tFile %s holds no band GDAL can read as a grid (%s).\n", file, what);
    case gdal_bad_counts:
        return text_printf("\n\tFile %s has %s: the program reads grids of 1 to 2147483647 lines and columns.\n",
                           file, what);
    case gdal_not_numeric:
        return text_printf("\n\tFile %s holds %s samples in its first band, not elevations: the program reads "
                           "integers and reals.\n",
                           file, what);
    case gdal_no_georeference:
        return text_printf("\n\tFile %s has no georeference the program can use (%s): it needs the map "
                           "coordinates of the grid's corner and its cell size.\n",
                           file, what);
    case gdal_not_north_up:
        return text_printf("\n\tFile %s is not a north-up grid (%s): the program needs lines that run from "
                           "north to south and columns from west to east; resample it onto such a grid first.\n",
                           file, what);
    case gdal_block_unreadable:
        return text_printf("\n\tFile %s is damaged: GDAL cannot read %s.\n", file, what);
    }
    return "";
}

bool place_gdal_cells(const double transform[6], int32_t lines, grid_frame *placement, gdal_fault *fault)
{
    for (int k = 0; k < 6; k++)
        if (!std::isfinite(transform[k])) {
            *fault = {gdal_no_georeference, "a geotransform that is not finite"};
            return false;
        }
    if (transform[2] != 0.0 || transform[4] != 0.0) {
        *fault = {gdal_not_north_up, text_printf("its geotransform turns it: rotation terms %s and %s",
                                                 exact_real_text(transform[2]).c_str(),
                                                 exact_real_text(transform[4]).c_str())};
        return false;
    }
    if (!(transform[1] > 0.0) || !(transform[5] < 0.0)) {
        *fault = {gdal_not_north_up, text_printf("cell width %s and height %s in its geotransform",
                                                 exact_real_text(transform[1]).c_str(),
                                                 exact_real_text(transform[5]).c_str())};
        return false;
    }
    placement->dx = transform[1];
    placement->dy = -transform[5];
    placement->xll = transform[0];
    placement->yll = transform[3] + transform[5] * lines;
    return true;
}

#ifdef ORMELIX_GDAL

namespace {

// GDAL's messages are the program's to word, never printed by GDAL itself; its side
// files (.aux.xml) are never written, since a run writes nothing but its outputs. Its
// drivers stay registered until the exit: GDALDestroyDriverManager in an exit handler
// would come after the threads' own storage, PROJ's contexts of GDAL in it, is freed.
const GIntBig GDAL_CACHE_BYTES = GIntBig(32) << 20;

void start_gdal()
{
    static const bool started = [] {
        CPLSetConfigOption("GDAL_PAM_ENABLED", "NO");
#ifdef _WIN32
        // The Windows build carries its own proj.db beside the program, for GDAL's
        // coordinate systems as for the program's.
        const std::string folder = program_folder();
        const char *paths[] = {folder.c_str(), nullptr};
        if (!folder.empty())
            OSRSetPROJSearchPaths(paths);
#endif
        GDALAllRegister();
        // GDAL's cache of blocks holds the blocks a mosaic's rows share, not its default
        // share of the machine's memory, which the run's memory (--memory) does not count;
        // GDAL_CACHEMAX in the environment still sets it.
        if (CPLGetConfigOption("GDAL_CACHEMAX", nullptr) == nullptr)
            GDALSetCacheMax64(GDAL_CACHE_BYTES);
        return true;
    }();
    (void)started;
}

// GDAL's reason for the last failure, or the fallback when it gave none; without its
// closing full stop, which the program's sentence brings.
std::string gdal_reason(const char *fallback)
{
    const char *message = CPLGetLastErrorMsg();
    std::string reason = message != nullptr && *message != '\0' ? message : fallback;
    while (!reason.empty() && (reason.back() == '.' || reason.back() == ' ' || reason.back() == '\n'))
        reason.pop_back();
    return reason;
}

// Errors are kept for gdal_reason while one lives, never printed.
struct quiet_gdal {
    quiet_gdal()
    {
        CPLPushErrorHandler(CPLQuietErrorHandler);
        CPLErrorReset();
    }
    ~quiet_gdal() { CPLPopErrorHandler(); }
    quiet_gdal(const quiet_gdal &) = delete;
    quiet_gdal &operator=(const quiet_gdal &) = delete;
};

} // namespace

bool gdal_available()
{
    return true;
}

bool gdal_grid_open(const std::string &path, gdal_file *file, gdal_fault *fault, const char *const *drivers)
{
    std::string unloaded;
    if (!gdal_library_ready(&unloaded)) {
        *fault = {gdal_not_readable, "its library cannot be loaded (" + unloaded + ")"};
        return false;
    }
    start_gdal();
    quiet_gdal quiet;
    GDALDatasetH dataset = GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY | GDAL_OF_VERBOSE_ERROR,
                                      drivers, nullptr, nullptr);
    if (dataset == nullptr) {
        *fault = {gdal_not_readable, gdal_reason("no driver of GDAL recognises it")};
        return false;
    }
    file->dataset = dataset;
    gdal_layout &layout = file->layout;
    GDALDriverH driver = GDALGetDatasetDriver(dataset);
    layout.driver = driver != nullptr ? GDALGetDriverShortName(driver) : "";
    layout.bands = GDALGetRasterCount(dataset);
    if (layout.bands < 1) {
        const char *first = CSLFetchNameValue(GDALGetMetadata(dataset, "SUBDATASETS"), "SUBDATASET_1_NAME");
        *fault = {gdal_no_band, first != nullptr ? std::string("it holds subdatasets: give one, such as ") + first
                                                 : std::string("it has no band")};
        return false;
    }
    layout.columns = GDALGetRasterXSize(dataset);
    layout.lines = GDALGetRasterYSize(dataset);
    if (layout.lines < 1 || layout.columns < 1) {
        *fault = {gdal_bad_counts, text_printf("%d lines and %d columns", layout.lines, layout.columns)};
        return false;
    }
    GDALRasterBandH band = GDALGetRasterBand(dataset, 1);
    if (band == nullptr) {
        *fault = {gdal_no_band, gdal_reason("its first band cannot be had")};
        return false;
    }
    file->band = band;
    const GDALDataType type = GDALGetRasterDataType(band);
    file->data_type = type;
    const char *type_name = GDALGetDataTypeName(type);
    layout.sample_type = type_name != nullptr ? type_name : "unknown";
    if (type == GDT_Unknown || GDALDataTypeIsComplex(type) || GDALGetDataTypeSizeBytes(type) <= 0) {
        *fault = {gdal_not_numeric, layout.sample_type};
        return false;
    }
    double transform[6] = {0.0, 1.0, 0.0, 0.0, 0.0, 1.0};
    if (GDALGetGeoTransform(dataset, transform) != CE_None) {
        const int points = GDALGetGCPCount(dataset);
        *fault = {gdal_no_georeference, points > 0 ? text_printf("it is placed by %d control points", points)
                                                   : std::string("no geotransform")};
        return false;
    }
    if (!place_gdal_cells(transform, layout.lines, &layout.placement, fault))
        return false;
    layout.placement.has_corner = true;
    layout.placement.lines = layout.lines;
    layout.placement.columns = layout.columns;
    int has = 0;
    const double nodata = GDALGetRasterNoDataValue(band, &has);
    // The samples are compared with the no-data value in the band's type, as GDAL does:
    // a Float32 band's value is the double made a float.
    layout.has_nodata = has != 0 && !std::isnan(nodata);
    layout.nodata_value = type == GDT_Float32 && std::fabs(nodata) <= std::numeric_limits<float>::max()
                              ? static_cast<double>(static_cast<float>(nodata))
                              : nodata;
    layout.placement.has_nodata = layout.has_nodata;
    layout.placement.nodata = layout.has_nodata ? layout.nodata_value : 0.0;
    int has_scale = 0, has_offset = 0;
    const double scale = GDALGetRasterScale(band, &has_scale);
    const double offset = GDALGetRasterOffset(band, &has_offset);
    layout.scale = has_scale != 0 && std::isfinite(scale) ? scale : 1.0;
    layout.offset = has_offset != 0 && std::isfinite(offset) ? offset : 0.0;
    int block_columns = 0, block_lines = 0;
    GDALGetBlockSize(band, &block_columns, &block_lines);
    layout.block_columns = block_columns > 0 ? block_columns : layout.columns;
    layout.block_lines = block_lines > 0 ? block_lines : 1;
    const char *wkt = GDALGetProjectionRef(dataset);
    layout.wkt = wkt != nullptr ? wkt : "";
    return true;
}

namespace {

// Samples read as doubles made metres: no data (the no-data value, not a number) NaN.
void metres_of_samples(const gdal_layout &layout, double *cells, int32_t count)
{
    for (int32_t c = 0; c < count; c++) {
        const double sample = cells[c];
        if (std::isnan(sample) || (layout.has_nodata && sample == layout.nodata_value))
            cells[c] = std::numeric_limits<double>::quiet_NaN();
        else
            cells[c] = sample * layout.scale + layout.offset;
    }
}

// Lines first to end (excluded) of the band into rows (rows[0] is line first), a line at
// a time through GDAL's reading of windows.
bool read_gdal_lines(gdal_file *file, int32_t first, int32_t end, double *const *rows, gdal_fault *fault)
{
    quiet_gdal quiet;
    const gdal_layout &layout = file->layout;
    GDALRasterBandH band = static_cast<GDALRasterBandH>(file->band);
    for (int32_t line = first; line < end; line++) {
        double *cells = rows[line - first];
        if (GDALRasterIO(band, GF_Read, 0, line, layout.columns, 1, cells, layout.columns, 1, GDT_Float64, 0, 0) !=
            CE_None) {
            *fault = {gdal_block_unreadable,
                      text_printf("its line %d (%s)", line + 1, gdal_reason("no reason given").c_str())};
            return false;
        }
        metres_of_samples(layout, cells, layout.columns);
    }
    return true;
}

// The block rows first to last (excluded) of the band into grid, whose grid[0] is line
// top of the band; progress shown by the caller's thread alone.
bool read_block_rows(gdal_file *file, int32_t first, int32_t last, double *const *grid, int32_t top,
                     bool progress, gdal_fault *fault)
{
    quiet_gdal quiet;
    const gdal_layout &layout = file->layout;
    GDALRasterBandH band = static_cast<GDALRasterBandH>(file->band);
    const GDALDataType type = static_cast<GDALDataType>(file->data_type);
    const size_t sample_bytes = static_cast<size_t>(GDALGetDataTypeSizeBytes(type));
    const int32_t across = (layout.columns - 1) / layout.block_columns + 1;
    std::vector<unsigned char> block;
    try {
        block.resize(static_cast<size_t>(layout.block_columns) * static_cast<size_t>(layout.block_lines) *
                     sample_bytes);
    } catch (const std::bad_alloc &) {
        *fault = {gdal_block_unreadable, text_printf("its blocks of %d x %d samples: not enough memory",
                                                     layout.block_columns, layout.block_lines)};
        return false;
    }
    const double total = static_cast<double>(across) * (last - first);
    // A mosaic's blocks are its own cut of its tiles' blocks, each copied through GDAL's
    // cache: its block rows are read whole from the tiles instead, a line at a time.
    if (layout.driver == "VRT") {
        for (int32_t by = first; by < last; by++) {
            const int32_t y0 = by * layout.block_lines;
            const int32_t height = std::min(layout.block_lines, layout.lines - y0);
            if (!read_gdal_lines(file, y0, y0 + height, grid + (y0 - top), fault))
                return false;
            if (progress)
                progress_to(static_cast<double>(by - first + 1) * across / total);
        }
        return true;
    }
    for (int32_t by = first; by < last; by++)
        for (int32_t bx = 0; bx < across; bx++) {
            if (GDALReadBlock(band, bx, by, block.data()) != CE_None) {
                *fault = {gdal_block_unreadable, text_printf("its block %d, %d (%s)", bx, by,
                                                             gdal_reason("no reason given").c_str())};
                return false;
            }
            // The blocks of the last column and line run past the grid.
            const int32_t x0 = bx * layout.block_columns, y0 = by * layout.block_lines;
            const int32_t width = std::min(layout.block_columns, layout.columns - x0);
            const int32_t height = std::min(layout.block_lines, layout.lines - y0);
            for (int32_t r = 0; r < height; r++) {
                double *cells = grid[y0 - top + r] + x0;
                GDALCopyWords(block.data() + static_cast<size_t>(r) * layout.block_columns * sample_bytes, type,
                              static_cast<int>(sample_bytes), cells, GDT_Float64, sizeof(double), width);
                metres_of_samples(layout, cells, width);
            }
            if (progress)
                progress_to((static_cast<double>(by - first) * across + bx + 1) / total);
        }
    return true;
}

} // namespace

namespace {

// A band's block rows are handed to the second thread band after band: on a machine
// whose cores are all busy each handing over may wait for a time slice, so that only
// bands of this many cells gain by it.
const double BAND_TWO_THREAD_CELLS = 4194304.0;

// The block rows first to last (excluded) into grid (grid[0] is line top), the second
// half of them through again on a second thread when again is open, they are several
// and they hold at least least_two_cells.
bool read_rows_shared(gdal_file *file, gdal_file *again, worker_thread *worker, int32_t first, int32_t last,
                      double *const *grid, int32_t top, bool progress, double least_two_cells, gdal_fault *fault)
{
    const double cells = static_cast<double>(last - first) * file->layout.block_lines * file->layout.columns;
    const bool helped = again != nullptr && again->band != nullptr && last - first > 1 &&
                        cells >= least_two_cells && (worker->running || worker_start(worker));
    // Each thread its own half of the block rows, through its own handle: the two halves
    // share no block of a mosaic's tiles.
    const int32_t half = helped ? first + (last - first) / 2 : last;
    bool theirs_read = true;
    gdal_fault theirs;
    if (helped)
        worker_post(worker, [&] { theirs_read = read_block_rows(again, half, last, grid, top, false, &theirs); });
    const bool read = read_block_rows(file, first, half, grid, top, progress, fault);
    if (helped)
        worker_wait(worker);
    if (read && !theirs_read)
        *fault = theirs;
    return read && theirs_read;
}

// A raster GDAL reads, a band of lines at a time: its block rows read as the bands reach
// them, the one a band ends inside held for the next.
class gdal_band_reader : public block_row_lines {
public:
    gdal_band_reader(std::unique_ptr<gdal_file> file, std::unique_ptr<gdal_file> again, const std::string &path)
        : block_row_lines(file->layout.lines, file->layout.block_lines), file_(std::move(file)),
          again_(std::move(again)), path_(path)
    {
    }
    ~gdal_band_reader() override
    {
        worker_stop(&worker_);
        gdal_grid_close(again_.get());
        gdal_grid_close(file_.get());
    }
    gdal_band_reader(const gdal_band_reader &) = delete;
    gdal_band_reader &operator=(const gdal_band_reader &) = delete;

protected:
    bool decode_rows(int32_t first_row, int32_t end_row, double *const *rows, std::string *fault) override
    {
        gdal_fault failure;
        if (read_rows_shared(file_.get(), again_.get(), &worker_, first_row, end_row, rows, first_row * block_lines_,
                             false, BAND_TWO_THREAD_CELLS, &failure))
            return true;
        *fault = gdal_fault_message(path_, failure);
        return false;
    }
    bool hold_row(int32_t row, std::string *fault) override
    {
        const size_t columns = static_cast<size_t>(file_->layout.columns);
        try {
            held_.resize(static_cast<size_t>(block_lines_) * columns);
            held_lines_.resize(static_cast<size_t>(block_lines_));
        } catch (const std::bad_alloc &) {
            *fault = gdal_fault_message(path_, {gdal_block_unreadable, "a row of its blocks: not enough memory"});
            return false;
        }
        for (size_t r = 0; r < held_lines_.size(); r++)
            held_lines_[r] = held_.data() + r * columns;
        gdal_fault failure;
        if (read_block_rows(file_.get(), row, row + 1, held_lines_.data(), row * block_lines_, false, &failure))
            return true;
        *fault = gdal_fault_message(path_, failure);
        return false;
    }
    void held_line(int32_t line, double *cells) override
    {
        std::memcpy(cells, held_lines_[static_cast<size_t>(line)], sizeof(double) * file_->layout.columns);
    }

private:
    std::unique_ptr<gdal_file> file_, again_;
    std::string path_;
    worker_thread worker_;
    std::vector<double> held_;
    std::vector<double *> held_lines_;
};

} // namespace

bool gdal_grid_read_cells(gdal_file *file, gdal_file *again, double *const *grid, gdal_fault *fault)
{
    const gdal_layout &layout = file->layout;
    const int32_t down = (layout.lines - 1) / layout.block_lines + 1;
    worker_thread worker;
    const bool read = read_rows_shared(file, again, &worker, 0, down, grid, 0, true, 0.0, fault);
    worker_stop(&worker);
    return read;
}

std::unique_ptr<line_reader> gdal_line_reader(std::unique_ptr<gdal_file> file, std::unique_ptr<gdal_file> again,
                                              const std::string &path)
{
    return std::unique_ptr<line_reader>(new gdal_band_reader(std::move(file), std::move(again), path));
}

namespace {

// A TIFF's sample format and width for GDAL's name of a sample type; false for a type
// whose mosaics GDAL reads itself.
bool tiff_sample_of(const std::string &type, uint16_t *format, uint16_t *bits)
{
    static const struct {
        const char *name;
        uint16_t format, bits;
    } types[] = {{"Byte", 1, 8},   {"Int8", 2, 8},   {"UInt16", 1, 16}, {"Int16", 2, 16},   {"UInt32", 1, 32},
                 {"Int32", 2, 32}, {"UInt64", 1, 64}, {"Int64", 2, 64}, {"Float32", 3, 32}, {"Float64", 3, 64}};
    for (const auto &t : types)
        if (type == t.name) {
            *format = t.format;
            *bits = t.bits;
            return true;
        }
    return false;
}

// True when a sample of that format and width holds value exactly (not a number too):
// GDAL fills and compares with it as it stands.
bool sample_holds(double value, uint16_t format, uint16_t bits)
{
    if (std::isnan(value) || (format == 3 && (bits == 64 || std::isinf(value))))
        return true;
    if (format == 3)
        return std::fabs(value) <= std::numeric_limits<float>::max() &&
               static_cast<double>(static_cast<float>(value)) == value;
    if (value != std::trunc(value))
        return false;
    return format == 2 ? value >= -std::ldexp(1.0, bits - 1) && value < std::ldexp(1.0, bits - 1)
                       : value >= 0.0 && value < std::ldexp(1.0, bits);
}

// The text an element holds.
std::string element_text(const CPLXMLNode *node)
{
    for (const CPLXMLNode *child = node->psChild; child != nullptr; child = child->psNext)
        if (child->eType == CXT_Text && child->pszValue != nullptr)
            return child->pszValue;
    return "";
}

// The value of an element's attribute, null when it has none.
const char *attribute_of(const CPLXMLNode *node, const char *name)
{
    for (const CPLXMLNode *child = node->psChild; child != nullptr; child = child->psNext)
        if (child->eType == CXT_Attribute && EQUAL(child->pszValue, name))
            return child->psChild != nullptr && child->psChild->pszValue != nullptr ? child->psChild->pszValue : "";
    return nullptr;
}

bool real_of(const std::string &text, double *value)
{
    const char *start = text.c_str();
    char *stop = nullptr;
    *value = CPLStrtod(start, &stop);
    if (stop == start)
        return false;
    while (*stop == ' ' || *stop == '\t' || *stop == '\r' || *stop == '\n')
        stop++;
    return *stop == '\0';
}

// A window's attribute: a whole number of cells, 0 to 2147483647.
bool whole_cells(const CPLXMLNode *rect, const char *name, int32_t *cells)
{
    const char *text = attribute_of(rect, name);
    double value;
    if (text == nullptr || !real_of(text, &value) || !(value >= 0.0) ||
        value > static_cast<double>(std::numeric_limits<int32_t>::max()) || value != std::trunc(value))
        return false;
    *cells = static_cast<int32_t>(value);
    return true;
}

bool absolute_path(const std::string &name)
{
#ifdef _WIN32
    if (name.size() >= 2 && name[1] == ':')
        return true;
    if (!name.empty() && name[0] == '\\')
        return true;
#endif
    return !name.empty() && name[0] == '/';
}

// What the program's own reader finds of a tile agrees with the piece read from it.
bool tile_fits(const geotiff_layout &tile, const mosaic_piece &piece, uint16_t format, uint16_t bits)
{
    return tile.sample_format == format && tile.bits == bits && tile.columns == piece.tile_columns &&
           static_cast<int64_t>(piece.source_left) + piece.columns <= tile.columns &&
           static_cast<int64_t>(piece.source_top) + piece.lines <= tile.lines;
}

// A tile opened by the program's own GeoTIFF reader; false (nothing left open) when it
// refuses it or it is not the tile the piece was read from.
bool open_tile(const mosaic_piece &piece, uint16_t format, uint16_t bits, FILE **fp, geotiff_file *tile)
{
    *fp = open_program_file(piece.path, "rb");
    if (*fp == nullptr)
        return false;
    geotiff_fault fault;
    if (geotiff_open(*fp, piece.path, tile, &fault) && tile_fits(tile->layout, piece, format, bits))
        return true;
    geotiff_close(tile);
    std::fclose(*fp);
    *fp = nullptr;
    return false;
}

// One source of the mosaic's band into piece; false when it is not a plain copy of a
// GeoTIFF's cells the program reads.
bool read_source(const CPLXMLNode *source, bool complex, const std::string &folder, const gdal_file &file,
                 bool has_nodata, double nodata, mosaic_piece *piece)
{
    const gdal_layout &layout = file.layout;
    bool named = false, windowed = false, placed = false;
    int32_t source_columns = 0, source_lines = 0;
    for (const CPLXMLNode *child = source->psChild; child != nullptr; child = child->psNext) {
        if (child->eType != CXT_Element)
            continue;
        const std::string name = child->pszValue != nullptr ? child->pszValue : "";
        double value = 0.0;
        if (name == "SourceFilename") {
            const std::string tile = element_text(child);
            const char *relative = attribute_of(child, "relativeToVRT");
            if (tile.empty() || STARTS_WITH_CI(tile.c_str(), "/vsi"))
                return false;
            piece->path =
                relative != nullptr && std::atoi(relative) != 0 && !absolute_path(tile) ? folder + tile : tile;
            named = true;
        } else if (name == "SourceBand") {
            if (element_text(child) != "1")
                return false;
        } else if (name == "SrcRect") {
            windowed = whole_cells(child, "xOff", &piece->source_left) &&
                       whole_cells(child, "yOff", &piece->source_top) && whole_cells(child, "xSize", &source_columns) &&
                       whole_cells(child, "ySize", &source_lines);
            if (!windowed)
                return false;
        } else if (name == "DstRect") {
            placed = whole_cells(child, "xOff", &piece->left) && whole_cells(child, "yOff", &piece->top) &&
                     whole_cells(child, "xSize", &piece->columns) && whole_cells(child, "ySize", &piece->lines);
            if (!placed)
                return false;
        } else if (name == "SourceProperties") {
            // GDAL's note of the tile, which the tile itself answers below.
        } else if (complex && name == "NODATA") {
            // Samples equal to it are left as what lies under them: the mosaic's no data
            // when it is the same value and no piece lies under another.
            if (!has_nodata || !real_of(element_text(child), &value) ||
                !(value == nodata || (std::isnan(value) && std::isnan(nodata))))
                return false;
            piece->nodata_near = true;
        } else if (complex && name == "ScaleOffset") {
            if (!real_of(element_text(child), &value) || value != 0.0)
                return false;
        } else if (complex && name == "ScaleRatio") {
            if (!real_of(element_text(child), &value) || value != 1.0)
                return false;
        } else {
            // A look-up table, a colour component, a mask, another scaling, open options...
            return false;
        }
    }
    if (!named || !windowed || !placed || source_columns != piece->columns || source_lines != piece->lines ||
        piece->columns < 1 || piece->lines < 1 ||
        static_cast<int64_t>(piece->left) + piece->columns > layout.columns ||
        static_cast<int64_t>(piece->top) + piece->lines > layout.lines)
        return false;
    return true;
}

} // namespace

bool plain_mosaic(const std::string &path, const gdal_file &file, std::vector<mosaic_piece> *pieces)
{
    pieces->clear();
    const gdal_layout &layout = file.layout;
    uint16_t format = 0, bits = 0;
    if (layout.driver != "VRT" || STARTS_WITH_CI(path.c_str(), "/vsi") || file.band == nullptr ||
        !tiff_sample_of(layout.sample_type, &format, &bits))
        return false;
    int has = 0;
    const double nodata = GDALGetRasterNoDataValue(static_cast<GDALRasterBandH>(file.band), &has);
    if (has != 0 && !sample_holds(nodata, format, bits))
        return false;
    quiet_gdal quiet;
    std::unique_ptr<CPLXMLNode, void (*)(CPLXMLNode *)> root(CPLParseXMLFile(local_path(path).c_str()),
                                                             CPLDestroyXMLNode);
    const CPLXMLNode *dataset = root ? CPLGetXMLNode(root.get(), "=VRTDataset") : nullptr;
    if (dataset == nullptr || attribute_of(dataset, "subClass") != nullptr)
        return false;
    const CPLXMLNode *band = nullptr;
    for (const CPLXMLNode *child = dataset->psChild; child != nullptr && band == nullptr; child = child->psNext)
        if (child->eType == CXT_Element && EQUAL(child->pszValue, "VRTRasterBand"))
            band = child;
    const char *number = band != nullptr ? attribute_of(band, "band") : nullptr;
    if (band == nullptr || attribute_of(band, "subClass") != nullptr || (number != nullptr && std::atoi(number) != 1))
        return false;
    // The folder of a program path, its separator included (a dialogue's "c:\images\site\").
    const size_t slash = path.find_last_of("/\\");
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    static const char *const unchanging[] = {"NoDataValue", "ColorInterp", "Description", "Metadata",
                                             "Offset",      "Scale",       "UnitType",    "CategoryNames",
                                             "ColorTable",  "Histograms",  "Overview",    "MaskBand"};
    for (const CPLXMLNode *child = band->psChild; child != nullptr; child = child->psNext) {
        if (child->eType != CXT_Element)
            continue;
        const std::string name = child->pszValue != nullptr ? child->pszValue : "";
        if (name == "SimpleSource" || name == "ComplexSource") {
            mosaic_piece piece;
            if (!read_source(child, name == "ComplexSource", folder, file, has != 0, nodata, &piece))
                return false;
            pieces->push_back(piece);
        } else if (std::find_if(std::begin(unchanging), std::end(unchanging),
                                [&](const char *kept) { return name == kept; }) == std::end(unchanging)) {
            // A pixel function, a hidden no-data value, another kind of source...
            return false;
        }
    }
    // No piece over another: GDAL would have the later one win.
    for (size_t a = 0; a < pieces->size(); a++)
        for (size_t b = a + 1; b < pieces->size(); b++) {
            const mosaic_piece &p = (*pieces)[a], &q = (*pieces)[b];
            if (p.left < q.left + q.columns && q.left < p.left + p.columns && p.top < q.top + q.lines &&
                q.top < p.top + p.lines)
                return false;
        }
    // Each tile one the program's own reader takes, of the mosaic's sample type.
    for (mosaic_piece &piece : *pieces) {
        FILE *fp = open_program_file(piece.path, "rb");
        if (fp == nullptr)
            return false;
        geotiff_file tile;
        geotiff_fault fault;
        const bool opened = geotiff_open(fp, piece.path, &tile, &fault);
        piece.tile_columns = tile.layout.columns;
        const bool fits = opened && tile_fits(tile.layout, piece, format, bits);
        geotiff_close(&tile);
        std::fclose(fp);
        if (!fits)
            return false;
    }
    return true;
}

namespace {

// A piece's lines are read into a scratch band of at most this many cells when its
// window is narrower than its tile.
const size_t MOSAIC_SCRATCH_CELLS = size_t(1) << 20;
// A grid read whole at once shares its pieces between two threads from this many cells
// (a band of lines, handed over band after band, from BAND_TWO_THREAD_CELLS).
const double WHOLE_TWO_THREAD_CELLS = 65536.0;

class mosaic_reader : public line_reader {
public:
    mosaic_reader(std::unique_ptr<gdal_file> file, std::vector<mosaic_piece> pieces, const std::string &path,
                  bool whole)
        : file_(std::move(file)), pieces_(std::move(pieces)), path_(path), progress_(whole),
          least_two_cells_(whole ? WHOLE_TWO_THREAD_CELLS : BAND_TWO_THREAD_CELLS), tiles_(pieces_.size())
    {
        const gdal_layout &layout = file_->layout;
        tiff_sample_of(layout.sample_type, &format_, &bits_);
        // Cells no piece covers: GDAL fills them with the no-data value, or 0.
        int has = 0;
        const double nodata = GDALGetRasterNoDataValue(static_cast<GDALRasterBandH>(file_->band), &has);
        gap_ = has != 0 ? nodata : 0.0;
        metres_of_samples(layout, &gap_, 1);
        int64_t covered = 0;
        for (const mosaic_piece &piece : pieces_)
            covered += static_cast<int64_t>(piece.columns) * piece.lines;
        covered_ = covered == static_cast<int64_t>(layout.lines) * layout.columns;
    }
    ~mosaic_reader() override
    {
        worker_stop(&worker_);
        tiles_.clear();
        gdal_grid_close(file_.get());
    }
    mosaic_reader(const mosaic_reader &) = delete;
    mosaic_reader &operator=(const mosaic_reader &) = delete;

    bool read_lines(int32_t first, int32_t end, double *const *rows, std::string *fault) override
    {
        first = std::max<int32_t>(first, 0);
        end = std::min(end, file_->layout.lines);
        if (first >= end)
            return true;
        if (!through_gdal_) {
            // A second pass starts every tile again.
            if (first < next_)
                close_tiles();
            next_ = end;
            if (read_pieces(first, end, rows))
                return true;
            close_tiles();
            through_gdal_ = true;
        }
        gdal_fault failure;
        if (read_gdal_lines(file_.get(), first, end, rows, &failure))
            return true;
        *fault = gdal_fault_message(path_, failure);
        return false;
    }

private:
    // A thread's room for the lines of a piece narrower than its tile.
    struct scratch_room {
        std::vector<double> cells;
        std::vector<double *> lines;
    };

    void close_tiles()
    {
        for (std::unique_ptr<line_reader> &tile : tiles_)
            tile.reset();
    }

    bool open_piece(size_t k)
    {
        const mosaic_piece &piece = pieces_[k];
        const gdal_layout &layout = file_->layout;
        std::unique_ptr<geotiff_file> tile(new geotiff_file());
        FILE *fp = nullptr;
        if (!open_tile(piece, format_, bits_, &fp, tile.get()))
            return false;
        // The mosaic's samples are the tiles' own: its no data, scale and offset theirs.
        geotiff_layout &own = tile->layout;
        own.has_nodata = layout.has_nodata;
        own.nodata_value = layout.nodata_value;
        own.nodata_near = piece.nodata_near;
        own.scale = layout.scale;
        own.offset = layout.offset;
        // A second handle only for a piece large enough for two threads of its own.
        FILE *again = static_cast<double>(piece.columns) * piece.lines >= BAND_TWO_THREAD_CELLS
                          ? open_program_file(piece.path, "rb")
                          : nullptr;
        tiles_[k] = geotiff_line_reader(std::move(tile), fp, again, piece.path);
        return tiles_[k] != nullptr;
    }

    // The lines [first, end) of the piece k into the mosaic's rows (rows[0] is line first),
    // its tile closed once its last line is read.
    bool read_piece(size_t k, int32_t first, int32_t end, double *const *rows, scratch_room *room)
    {
        const mosaic_piece &piece = pieces_[k];
        const int32_t from = std::max(first, piece.top), to = std::min(end, piece.top + piece.lines);
        if (from >= to)
            return true;
        if (tiles_[k] == nullptr && !open_piece(k))
            return false;
        // A window as wide as its tile is read straight into the mosaic's lines.
        const bool straight = piece.source_left == 0 && piece.columns == piece.tile_columns;
        const size_t width = static_cast<size_t>(piece.tile_columns);
        const int32_t most = straight ? to - from
                                      : static_cast<int32_t>(std::max<size_t>(
                                            1, std::min<size_t>(static_cast<size_t>(to - from),
                                                                MOSAIC_SCRATCH_CELLS / width)));
        try {
            room->lines.resize(static_cast<size_t>(most));
            if (!straight)
                room->cells.resize(static_cast<size_t>(most) * width);
        } catch (const std::bad_alloc &) {
            return false;
        }
        std::string failure;
        for (int32_t line = from; line < to; line += most) {
            const int32_t count = std::min(most, to - line);
            for (int32_t i = 0; i < count; i++)
                room->lines[static_cast<size_t>(i)] = straight ? rows[line + i - first] + piece.left
                                                               : room->cells.data() + static_cast<size_t>(i) * width;
            const int32_t top = piece.source_top + (line - piece.top);
            if (!tiles_[k]->read_lines(top, top + count, room->lines.data(), &failure))
                return false;
            if (!straight)
                for (int32_t i = 0; i < count; i++)
                    std::memcpy(rows[line + i - first] + piece.left,
                                room->lines[static_cast<size_t>(i)] + piece.source_left,
                                sizeof(double) * static_cast<size_t>(piece.columns));
            if (progress_) {
                const double done = static_cast<double>(cells_done_ += static_cast<int64_t>(count) * piece.columns);
                progress_to(done / (static_cast<double>(file_->layout.lines) * file_->layout.columns));
            }
        }
        if (to == piece.top + piece.lines)
            tiles_[k].reset();
        return true;
    }

    // The band's lines from the pieces that cross it, shared by two threads when they are
    // several and hold cells enough.
    bool read_pieces(int32_t first, int32_t end, double *const *rows)
    {
        const int32_t columns = file_->layout.columns;
        if (!covered_)
            for (int32_t line = first; line < end; line++)
                std::fill(rows[line - first], rows[line - first] + columns, gap_);
        std::vector<size_t> crossing;
        double cells = 0.0;
        for (size_t k = 0; k < pieces_.size(); k++) {
            const mosaic_piece &piece = pieces_[k];
            const int32_t from = std::max(first, piece.top), to = std::min(end, piece.top + piece.lines);
            if (from < to) {
                crossing.push_back(k);
                cells += static_cast<double>(to - from) * piece.columns;
            }
        }
        std::atomic<size_t> next{0};
        std::atomic<bool> failed{false};
        auto share = [&](scratch_room *room) {
            while (!failed.load(std::memory_order_relaxed)) {
                const size_t at = next.fetch_add(1);
                if (at >= crossing.size())
                    break;
                if (!read_piece(crossing[at], first, end, rows, room))
                    failed = true;
            }
        };
        const bool helped = crossing.size() > 1 && cells >= least_two_cells_ &&
                            (worker_.running || worker_start(&worker_));
        if (helped)
            worker_post(&worker_, [&] { share(&rooms_[1]); });
        share(&rooms_[0]);
        if (helped)
            worker_wait(&worker_);
        return !failed;
    }

    std::unique_ptr<gdal_file> file_;
    std::vector<mosaic_piece> pieces_;
    std::string path_;
    bool progress_;
    double least_two_cells_;
    std::vector<std::unique_ptr<line_reader>> tiles_;  // the tiles open, by piece
    uint16_t format_ = 0, bits_ = 0;
    double gap_ = 0.0;
    bool covered_ = false;
    int32_t next_ = 0;            // the line after the last band read
    bool through_gdal_ = false;   // a tile failed: GDAL reads the rest
    std::atomic<int64_t> cells_done_{0};
    worker_thread worker_;
    scratch_room rooms_[2];
};

} // namespace

std::unique_ptr<line_reader> mosaic_line_reader(std::unique_ptr<gdal_file> file, std::vector<mosaic_piece> pieces,
                                                const std::string &path, bool whole)
{
    return std::unique_ptr<line_reader>(new mosaic_reader(std::move(file), std::move(pieces), path, whole));
}

void gdal_grid_close(gdal_file *file)
{
    if (file->dataset != nullptr) {
        quiet_gdal quiet;
        GDALClose(static_cast<GDALDatasetH>(file->dataset));
    }
    file->dataset = nullptr;
    file->band = nullptr;
}

#else

bool gdal_available()
{
    return false;
}

bool gdal_grid_open(const std::string &, gdal_file *, gdal_fault *fault, const char *const *)
{
    *fault = {gdal_missing, ""};
    return false;
}

bool gdal_grid_read_cells(gdal_file *, gdal_file *, double *const *, gdal_fault *fault)
{
    *fault = {gdal_missing, ""};
    return false;
}

void gdal_grid_close(gdal_file *file)
{
    file->dataset = nullptr;
    file->band = nullptr;
}

std::unique_ptr<line_reader> gdal_line_reader(std::unique_ptr<gdal_file>, std::unique_ptr<gdal_file>,
                                              const std::string &)
{
    return nullptr;
}

bool plain_mosaic(const std::string &, const gdal_file &, std::vector<mosaic_piece> *pieces)
{
    pieces->clear();
    return false;
}

std::unique_ptr<line_reader> mosaic_line_reader(std::unique_ptr<gdal_file>, std::vector<mosaic_piece>,
                                                const std::string &, bool)
{
    return nullptr;
}

#endif

void open_gdal_input(input_grid &grid)
{
    grid.geokeys = geo_keys();
    grid.frame = grid_frame();
    grid.geographic = 0;
    std::printf("\n");
    // Where the reader of bands takes it over.
    std::unique_ptr<gdal_file> file(new gdal_file());
    gdal_fault fault;
    if (!gdal_grid_open(local_path(grid.nomim), file.get(), &fault)) {
        gdal_grid_close(file.get());
        stop_with_message("%s", gdal_fault_message(grid.nomim, fault).c_str());
    }
    const gdal_layout &layout = file->layout;
    // The frame, and with it the memory of the run, is judged before a block is read. A
    // stop there leaves the file open, to the system to close at the exit.
    take_file_counts(grid, layout.lines, layout.columns, layout.bands);

    grid.frame = layout.placement;
    grid.dpix = grid.frame.dx;
    grid.pix_size = truncate_to_int32(grid.frame.dx);
    // Its system goes through PROJ as a NAME.prj's text does.
    grid.geokeys.has_prj = !layout.wkt.empty();
    grid.geokeys.prj = layout.wkt;
    grid.geokeys.prj_in_grid = true;
    grid.corner_ok = 1;

    if (!grid.by_bands) {
        grid.dtab = dmatrice(grid.columns, grid.lines);
        require_grid(grid.dtab, grid.columns, grid.lines);
    }
    // A mosaic of GeoTIFF tiles: the tiles read by the program's own reader.
    std::vector<mosaic_piece> pieces;
    if (plain_mosaic(grid.nomim, *file, &pieces)) {
        std::unique_ptr<line_reader> reader = mosaic_line_reader(std::move(file), std::move(pieces), grid.nomim,
                                                                 !grid.by_bands);
        if (grid.by_bands) {
            grid.dtab = nullptr;
            grid.reader = std::move(reader);
            return;
        }
        std::string failure;
        if (!reader->read_lines(0, grid.lines, grid.dtab, &failure))
            stop_with_message("%s", failure.c_str());
        return;
    }
    // A second handle for the second thread; without one the first reads alone.
    std::unique_ptr<gdal_file> again(new gdal_file());
    gdal_fault unused;
    if (!gdal_grid_open(local_path(grid.nomim), again.get(), &unused))
        gdal_grid_close(again.get());
    if (grid.by_bands) {
        grid.dtab = nullptr;
        grid.reader = gdal_line_reader(std::move(file), std::move(again), grid.nomim);
        return;
    }
    const bool read = gdal_grid_read_cells(file.get(), again.get(), grid.dtab, &fault);
    gdal_grid_close(again.get());
    gdal_grid_close(file.get());
    if (!read)
        stop_with_message("%s", gdal_fault_message(grid.nomim, fault).c_str());
}
