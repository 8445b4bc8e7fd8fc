// Arbitrary bytes read as a raster GDAL reads, by the program's GDAL reader: opened from
// memory (/vsimem/) through the drivers of the forms users bring (Imagine, ASCII grid,
// XYZ, USGS DEM, GeoTIFF), its band, no-data, scale and placement checked, its blocks
// read into a grid. A file the reader takes has every cell written, and reads the same on
// two threads and on one; a refusal is a message naming the file. Without GDAL every file
// is refused with the message of such a build.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "gridfiles/gdal_grid.h"
#include "nrutil.h"
#include "platform/worker_thread.h"

#ifdef ORMELIX_GDAL
#include <cpl_vsi.h>
#endif

namespace {

const char NAME[] = "/vsimem/fuzz/grid.bin";

void check_fault(const gdal_fault &fault)
{
    FUZZ_CHECK(fault.kind != gdal_fine);
    const std::string message = gdal_fault_message(NAME, fault);
    FUZZ_CHECK(message.rfind(std::string("\n\tFile ") + NAME + " ", 0) == 0);
}

#ifdef ORMELIX_GDAL

// The grid read is kept to the input's size, as for the GeoTIFF reader: a few bytes of
// header may announce a million cells.
const int64_t MOST_CELLS = int64_t(1) << 20;
const int64_t MOST_CELLS_PER_BYTE = 16;


struct reading {
    bool opened = false, read = false;
    gdal_fault fault;
    gdal_layout layout;
    std::vector<double> cells;
};

reading read_grid(size_t size, bool two_threads)
{
    static const char *const drivers[] = {"HFA", "AAIGrid", "XYZ", "USGSDEM", "GTiff", nullptr};
    reading r;
    gdal_file file, again;
    r.opened = gdal_grid_open(NAME, &file, &r.fault, drivers);
    gdal_fault unused;
    if (two_threads && !gdal_grid_open(NAME, &again, &unused, drivers))
        gdal_grid_close(&again);
    if (!r.opened) {
        check_fault(r.fault);
    } else {
        const gdal_layout &layout = file.layout;
        r.layout = layout;
        FUZZ_CHECK(layout.lines > 0 && layout.columns > 0 && layout.bands > 0);
        FUZZ_CHECK(layout.block_lines > 0 && layout.block_columns > 0);
        FUZZ_CHECK(layout.placement.dx > 0 && layout.placement.dy > 0);
        FUZZ_CHECK(std::isfinite(layout.placement.xll) && std::isfinite(layout.placement.yll));
        const int64_t most = std::min<int64_t>(MOST_CELLS, MOST_CELLS_PER_BYTE * static_cast<int64_t>(size));
        const int64_t block = static_cast<int64_t>(layout.block_lines) * layout.block_columns;
        if (static_cast<int64_t>(layout.lines) * layout.columns <= most && block <= most) {
            double **grid = dmatrice(layout.columns, layout.lines);
            FUZZ_CHECK(grid != nullptr);
            for (int32_t i = 0; i < layout.lines; i++)
                for (int32_t j = 0; j < layout.columns; j++)
                    grid[i][j] = fuzz::untouched_cell();
            r.read = gdal_grid_read_cells(&file, &again, grid, &r.fault);
            if (!r.read)
                check_fault(r.fault);
            for (int32_t i = 0; i < layout.lines; i++)
                r.cells.insert(r.cells.end(), grid[i], grid[i] + layout.columns);
            frdmatrice(grid, layout.lines);
        }
    }
    gdal_grid_close(&again);
    gdal_grid_close(&file);
    return r;
}

bool same_cell(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

#endif

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    set_worker_threads(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
#ifdef ORMELIX_GDAL
    std::vector<uint8_t> bytes(data, data + size);
    VSILFILE *fp = VSIFileFromMemBuffer(NAME, bytes.data(), static_cast<vsi_l_offset>(bytes.size()), FALSE);
    FUZZ_CHECK(fp != nullptr);
    VSIFCloseL(fp);
    const reading first = read_grid(size, true);
    if (first.read) {
        for (double cell : first.cells) {
            FUZZ_CHECK(!fuzz::is_untouched(cell));
            // No-data cells are NaN: the no-data value never reaches the grid as a number.
            if (first.layout.has_nodata && first.layout.scale == 1.0 && first.layout.offset == 0.0)
                FUZZ_CHECK(!(cell == first.layout.nodata_value));
        }
        const reading again = read_grid(size, false);
        FUZZ_CHECK(again.read && again.cells.size() == first.cells.size());
        for (size_t k = 0; k < first.cells.size(); k++)
            FUZZ_CHECK(same_cell(first.cells[k], again.cells[k]));
    }
    VSIUnlink(NAME);
#else
    (void)data;
    (void)size;
    gdal_file file;
    gdal_fault fault;
    FUZZ_CHECK(!gdal_grid_open(NAME, &file, &fault));
    FUZZ_CHECK(fault.kind == gdal_missing);
    check_fault(fault);
#endif
    return 0;
}
