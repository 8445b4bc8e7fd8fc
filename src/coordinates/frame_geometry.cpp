#include "coordinates/frame_geometry.h"

#include <algorithm>
#include <cmath>

namespace {

const double WGS84_A = 6378137.0;
const double WGS84_F = 1.0 / 298.257223563;
const double PI = 3.14159265358979323846;

// The integral of the ellipsoid's area element from the equator to latitude phi, per
// radian of longitude and per b squared (the authalic latitude's function).
double band_integral(double phi, double e)
{
    const double s = std::sin(phi);
    const double es = e * s;
    return s / (2.0 * (1.0 - es * es)) + std::log((1.0 + es) / (1.0 - es)) / (4.0 * e);
}

// 1 - e^2 sin^2 of a latitude in degrees: the term of the ellipsoid's radii of curvature.
double curvature_term(double latitude)
{
    const double s = std::sin(std::clamp(latitude, -90.0, 90.0) * PI / 180.0);
    return 1.0 - WGS84_F * (2.0 - WGS84_F) * s * s;
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

double metres_per_degree_east(double latitude)
{
    const double phi = std::clamp(latitude, -90.0, 90.0) * PI / 180.0;
    return WGS84_A / std::sqrt(curvature_term(latitude)) * std::cos(phi) * PI / 180.0;
}

double metres_per_degree_north(double latitude)
{
    const double e2 = WGS84_F * (2.0 - WGS84_F);
    return WGS84_A * (1.0 - e2) / std::pow(curvature_term(latitude), 1.5) * PI / 180.0;
}
