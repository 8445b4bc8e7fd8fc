#include "gridfiles/input_grid.h"

#include "console/console.h"
#include "globals/globals.h"

namespace {

// The first grid's pixel size in whole metres: the second grid's is a global, since a
// raster output records it.
int32_t pix_size1;

} // namespace

input_grid &first_input()
{
    static input_grid grid = {nomim1, nomdescr1, format_dem1, itype_dem1, f1, f1d, nb_lig, nb_col,
                              pix_size1, dpix_size1, descr_dem1_OK, Coord_UTM_dem1_OK,
                              geographic_dem1, geokeys_dem1, dtab_dem1, false};
    return grid;
}

input_grid &second_input()
{
    static input_grid grid = {nomim2, nomdescr2, format_dem2, itype_dem2, f2, f2d, nb_lig2, nb_col2,
                              pix_size2, dpix_size2, descr_dem2_OK, Coord_UTM_dem2_OK,
                              geographic_dem2, geokeys_dem2, dtab_dem2, true};
    return grid;
}

input_grid &auxiliary_input(const char *which)
{
    struct auxiliary_globals {
        std::string nomim, nomdescr;
        int32_t format = 0, itype = 0;
        FILE *f = nullptr, *fd = nullptr;
        int32_t lines = 0, columns = 0, pix_size = 0;
        double dpix = 0.0;
        int32_t descr_ok = 0, corner_ok = 0, geographic = 0;
        geo_keys geokeys;
        double **dtab = nullptr;
    };
    static auxiliary_globals globals;
    static input_grid grid = {globals.nomim, globals.nomdescr, globals.format, globals.itype, globals.f,
                              globals.fd, globals.lines, globals.columns, globals.pix_size, globals.dpix,
                              globals.descr_ok, globals.corner_ok, globals.geographic, globals.geokeys,
                              globals.dtab, true, nullptr};
    globals = auxiliary_globals();
    grid.auxiliary = which;
    return grid;
}

void check_second_frame(const input_grid &grid, bool georeferenced)
{
    // A grid on the first grid's cells has its frame, georeferenced or not.
    if (grid.second && (grid.auxiliary != nullptr || !georeferenced) && (grid.lines != nb_lig || grid.columns != nb_col))
        stop_frame_differs(grid.auxiliary != nullptr ? grid.auxiliary : "second DEM", grid.nomim, grid.lines,
                           grid.columns, nb_lig, nb_col);
}
