// The WGS 84 ellipsoid's lengths: what a cell of a grid in geographic degrees measures on
// the ground, for the areas of the budget and the slopes of the hillshade and the
// coregistration alike.
#ifndef ORMELIX_ELLIPSOID_H
#define ORMELIX_ELLIPSOID_H

constexpr double WGS84_SEMI_MAJOR_AXIS = 6378137.0;
constexpr double WGS84_FLATTENING = 1.0 / 298.257223563;

// The length in metres of one degree of longitude (east) and of latitude (north) on the
// WGS 84 ellipsoid at a latitude in degrees.
double metres_per_degree_east(double latitude);
double metres_per_degree_north(double latitude);

#endif
