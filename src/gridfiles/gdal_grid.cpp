#include "gridfiles/gdal_grid.h"

#include <algorithm>
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
            for (int32_t r = 0; r < height; r++) {
                double *cells = grid[y0 - top + r];
                if (GDALRasterIO(band, GF_Read, 0, y0 + r, layout.columns, 1, cells, layout.columns, 1, GDT_Float64,
                                 0, 0) != CE_None) {
                    *fault = {gdal_block_unreadable, text_printf("its line %d (%s)", y0 + r + 1,
                                                                 gdal_reason("no reason given").c_str())};
                    return false;
                }
                metres_of_samples(layout, cells, layout.columns);
            }
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
