// Whether two epochs lie on one grid of cells: the thresholds of the warning. Its
// text is held against whole sessions in session_test.cpp.
#include "ormelix/alignment.h"

#include <gtest/gtest.h>

namespace {

const double CELL = 0.008333333333;  // 30 arc-seconds, as GDAL writes SRTM
// Square cells; the warning looks at corners and sizes, not at counts.
grid_frame placed(bool has_corner, double xll, double yll, double cellsize)
{
    return {has_corner, 60, 60, xll, yll, cellsize, cellsize};
}

const grid_frame SRTM = placed(true, 5.741666666667, 49.691666666667, CELL);

grid_frame moved(double dx_cells, double dy_cells, double cellsize = CELL)
{
    return placed(true, SRTM.xll + dx_cells * CELL, SRTM.yll + dy_cells * CELL, cellsize);
}

const grid_frame RASTER_25 = placed(false, 0.0, 0.0, 25.0);

} // namespace

TEST(Alignment, WarnsBeyondAThousandthOfACellOrAMillionthOfTheSize)
{
    const struct {
        const char *what;
        grid_frame first, second;
        bool warned;
    } cases[] = {
        {"same grid", SRTM, moved(0, 0), false},
        {"corner 1/2000 cell off", SRTM, moved(0.0005, -0.0005), false},
        {"corner 1/400 cell off in Y", SRTM, moved(0, 0.0025), true},
        {"corner half a cell off in X", SRTM, moved(-0.5, 0), true},
        {"corners whole cells apart: one lattice", SRTM, moved(3.0004, -120), false},
        {"whole cells apart, sizes 2 ppm apart", SRTM, moved(3, 0, CELL * (1 + 2e-6)), true},
        {"sizes 0.5 ppm apart", SRTM, moved(0, 0, CELL * (1 + 5e-7)), false},
        {"sizes 2 ppm apart", SRTM, moved(0, 0, CELL * (1 + 2e-6)), true},
        {"raster and ASCII grid, same size", RASTER_25, placed(true, 512000, 4800000, 25), false},
        {"ASCII grid and raster, other size", placed(true, 512000, 4800000, 10), RASTER_25, true},
        {"two rasters: nothing to compare with", placed(false, 0, 0, 20), RASTER_25, false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(!alignment_warning(c.first, c.second).empty(), c.warned) << c.what;
}
