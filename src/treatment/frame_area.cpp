#include "treatment/frame_area.h"

#include <algorithm>
#include <cmath>

#include "globals/globals.h"
#include "text/number_text.h"

bool cells_square(double dx, double dy)
{
    return std::fabs(dx - dy) <= std::max(std::fabs(dx), std::fabs(dy)) * 1e-9;
}

std::string cell_size_text(const frame_geometry &frame)
{
    const double dy = cell_height(frame);
    const bool square = cells_square(frame.cellsize, dy);
    if (frame.degrees)
        return exact_real_text(frame.cellsize) + (square ? "" : " by " + exact_real_text(dy)) +
               " degrees (areas on the WGS 84 ellipsoid)";
    return square ? text_printf("%lf m", frame.cellsize) : text_printf("%lf by %lf m", frame.cellsize, dy);
}

frame_geometry run_frame_geometry()
{
    frame_geometry frame;
    frame.lines = nb_lig;
    frame.columns = nb_col;
    frame.xll = X_min;
    frame.yll = Y_min;
    const bool has_corner = Coord_UTM_dem1_OK != 0 || Coord_UTM_dem2_OK != 0;
    frame.cellsize = has_corner ? dpix_size : dpix_size2;
    frame.cellsize_y = has_corner ? dpix_size_y : dpix_size2;
    frame.degrees = geographic_dem1 != 0 || geographic_dem2 != 0;
    return frame;
}
