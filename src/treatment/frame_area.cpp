#include "treatment/frame_area.h"

#include <algorithm>
#include <cmath>

#include "globals/globals.h"
#include "text/number_text.h"

namespace {

const double WGS84_A = WGS84_SEMI_MAJOR_AXIS;
const double WGS84_F = WGS84_FLATTENING;
const double PI = 3.14159265358979323846;

// The integral of the ellipsoid's area element from the equator to latitude phi, per
// radian of longitude and per b squared (the authalic latitude's function).
double band_integral(double phi, double e)
{
    const double s = std::sin(phi);
    const double es = e * s;
    return s / (2.0 * (1.0 - es * es)) + std::log((1.0 + es) / (1.0 - es)) / (4.0 * e);
}

} // namespace

double ellipsoid_band_area(double south_latitude, double north_latitude, double longitude_span)
{
    const double e2 = WGS84_F * (2.0 - WGS84_F);
    const double e = std::sqrt(e2);
    const double b = WGS84_A * (1.0 - WGS84_F);
    // Beyond the poles there is no more ground.
    const double south = std::clamp(south_latitude, -90.0, 90.0) * PI / 180.0;
    const double north = std::clamp(north_latitude, -90.0, 90.0) * PI / 180.0;
    return std::fabs(longitude_span) * PI / 180.0 * b * b *
           std::fabs(band_integral(north, e) - band_integral(south, e));
}

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

std::vector<double> line_cell_areas(const frame_geometry &frame)
{
    const double dy = cell_height(frame);
    std::vector<double> areas(frame.lines > 0 ? static_cast<size_t>(frame.lines) : 0);
    for (size_t i = 0; i < areas.size(); i++) {
        if (!frame.degrees) {
            areas[i] = frame.cellsize * dy;
            continue;
        }
        const double north = frame.yll + static_cast<double>(frame.lines - static_cast<int32_t>(i)) * dy;
        areas[i] = ellipsoid_band_area(north - dy, north, frame.cellsize);
    }
    return areas;
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
