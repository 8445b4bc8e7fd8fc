// The ground area of the cells of a frame. A projected frame's cells are squares of
// their cell size in metres; a frame in geographic degrees has cells that shrink
// toward the poles, each line of them with its own area on the WGS 84 ellipsoid.
#ifndef ORMELIX_FRAME_AREA_H
#define ORMELIX_FRAME_AREA_H

#include <cstdint>
#include <vector>

// Where the run's frame lies: its lower-left corner and cell size, and whether those
// are geographic degrees.
struct frame_geometry {
    int32_t lines = 0, columns = 0;
    double xll = 0.0, yll = 0.0;
    double cellsize = 0.0;
    bool degrees = false;
};

// The exact area in square metres of the band of the WGS 84 ellipsoid between two
// latitudes, over a span of longitude, all in degrees.
double ellipsoid_band_area(double south_latitude, double north_latitude, double longitude_span);

// The area of one cell of each line, line 0 at the top: cellsize squared for a
// projected frame, the ellipsoid's area of the cell for a frame in degrees.
std::vector<double> line_cell_areas(const frame_geometry &frame);

// The run's frame as the output's georeference gives it: the corner and cell size of
// the last grid read that has map coordinates (the second raster pair's pixel size when
// neither has), in degrees when an input's file says so.
frame_geometry run_frame_geometry();

// The length in metres of one degree of longitude (east) and of latitude (north) on the
// WGS 84 ellipsoid at a latitude in degrees.
double metres_per_degree_east(double latitude);
double metres_per_degree_north(double latitude);

#endif
