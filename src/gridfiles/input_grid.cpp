#include "gridfiles/input_grid.h"

#include "console/console.h"
#include "globals/globals.h"
#include "gridfiles/grid_memory.h"

#include <cstdio>

namespace {

// The first grid's pixel size in whole metres: the second grid's is a global, since a
// raster output records it.
int32_t pix_size1;

} // namespace

input_grid &first_input()
{
    static input_grid grid = {nomim1, nomdescr1, format_dem1, itype_dem1, f1, f1d, nb_lig, nb_col,
                              pix_size1, dpix_size1, descr_dem1_OK, Coord_UTM_dem1_OK,
                              geographic_dem1, geokeys_dem1, dtab_dem1, false, nullptr, nullptr, grid_frame(),
                              false, nullptr};
    return grid;
}

input_grid &second_input()
{
    static input_grid grid = {nomim2, nomdescr2, format_dem2, itype_dem2, f2, f2d, nb_lig2, nb_col2,
                              pix_size2, dpix_size2, descr_dem2_OK, Coord_UTM_dem2_OK,
                              geographic_dem2, geokeys_dem2, dtab_dem2, true, nullptr, nullptr, grid_frame(),
                              false, nullptr};
    return grid;
}

void check_second_frame(const input_grid &grid, bool georeferenced)
{
    if (grid.own_frame)
        return;
    if (grid.second && !georeferenced && (grid.lines != nb_lig || grid.columns != nb_col))
        stop_frame_differs("second DEM", grid.nomim, grid.lines, grid.columns, nb_lig, nb_col);
}

void choose_band_reading(input_grid &grid, int32_t lines, int32_t columns)
{
    if (grid.own_frame == nullptr)
        grid.by_bands = grid.second ? first_input().by_bands : run_in_bands(lines, columns);
}

void take_file_counts(input_grid &grid, int32_t lines, int32_t columns, int bands)
{
    if (bands > 1)
        std::printf("\n\tWarning: the file %s holds %d bands: only the first is read.\n", grid.nomim.c_str(), bands);
    grid.lines = lines;
    grid.columns = columns;
    check_second_frame(grid, Coord_UTM_dem1_OK != 0);
    // Read band by band, a grid takes no memory of the run's grids.
    choose_band_reading(grid, lines, columns);
    if (grid.by_bands)
        return;
    if (!grid.second)
        prepare_grid_memory();
    else
        prepare_more_grid_memory(grid.lines, grid.columns);
}
