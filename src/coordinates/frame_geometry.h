// Where a frame lies and how its cells measure on the ground: a projected frame's cells
// are rectangles of their width and height in metres; a frame in geographic degrees has
// cells that shrink toward the poles, measured on the WGS 84 ellipsoid.
#ifndef ORMELIX_FRAME_GEOMETRY_H
#define ORMELIX_FRAME_GEOMETRY_H

#include <cstdint>
#include <vector>

// Where the run's frame lies: its lower-left corner and cell size, and whether those
// are geographic degrees.
struct frame_geometry {
    int32_t lines = 0, columns = 0;
    double xll = 0.0, yll = 0.0;
    double cellsize = 0.0;    // the width of a cell, dx
    bool degrees = false;
    double cellsize_y = 0.0;  // its height, dy; 0 for cells as high as they are wide
};
inline double cell_height(const frame_geometry &frame)
{
    return frame.cellsize_y > 0.0 ? frame.cellsize_y : frame.cellsize;
}

// The exact area in square metres of the band of the WGS 84 ellipsoid between two
// latitudes, over a span of longitude, all in degrees.
double ellipsoid_band_area(double south_latitude, double north_latitude, double longitude_span);

// The area of one cell of each line, line 0 at the top: width x height for a projected
// frame, for a frame in degrees the ellipsoid's area of the cell, a band of its height
// over its width of longitude.
std::vector<double> line_cell_areas(const frame_geometry &frame);

// The length in metres of one degree of longitude (east) and of latitude (north) on the
// WGS 84 ellipsoid at a latitude in degrees.
double metres_per_degree_east(double latitude);
double metres_per_degree_north(double latitude);

#endif
