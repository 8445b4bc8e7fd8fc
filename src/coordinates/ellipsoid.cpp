#include "coordinates/ellipsoid.h"

#include <algorithm>
#include <cmath>

namespace {

const double PI = 3.14159265358979323846;

// 1 - e^2 sin^2 of a latitude in degrees: the term of the ellipsoid's radii of curvature.
double curvature_term(double latitude)
{
    const double s = std::sin(std::clamp(latitude, -90.0, 90.0) * PI / 180.0);
    return 1.0 - WGS84_FLATTENING * (2.0 - WGS84_FLATTENING) * s * s;
}

} // namespace

double metres_per_degree_east(double latitude)
{
    const double phi = std::clamp(latitude, -90.0, 90.0) * PI / 180.0;
    return WGS84_SEMI_MAJOR_AXIS / std::sqrt(curvature_term(latitude)) * std::cos(phi) * PI / 180.0;
}

double metres_per_degree_north(double latitude)
{
    const double e2 = WGS84_FLATTENING * (2.0 - WGS84_FLATTENING);
    return WGS84_SEMI_MAJOR_AXIS * (1.0 - e2) / std::pow(curvature_term(latitude), 1.5) * PI / 180.0;
}
