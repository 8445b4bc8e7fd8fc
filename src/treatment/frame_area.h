// The ground area of the cells of a frame. A projected frame's cells are rectangles of
// their width and height in metres; a frame in geographic degrees has cells that shrink
// toward the poles, each line of them with its own area on the WGS 84 ellipsoid.
#ifndef ORMELIX_FRAME_AREA_H
#define ORMELIX_FRAME_AREA_H

#include <cstdint>
#include <string>
#include <vector>

#include "coordinates/ellipsoid.h"

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

// Whether cells of that width and height are square: equal to one part in 10^9. Sizes
// that differ by less are one size that arithmetic left a few bits apart (GDAL's
// elev.tif: 5 parts in 10^16); written as one size, a grid of a million lines then
// ends within 1/1000 of a cell, the alignment tolerance, of where it lay. Real grids of
// cells that are not square differ far more: ETOPO's GeoTIFFs by one part in 100 000.
bool cells_square(double dx, double dy);

// The budget heading's words for the cells: "30.000000 m", "30.000000 by 20.000000 m"
// (width by height), "0.008333333333 degrees (areas on the WGS 84 ellipsoid)".
std::string cell_size_text(const frame_geometry &frame);

// The exact area in square metres of the band of the WGS 84 ellipsoid between two
// latitudes, over a span of longitude, all in degrees.
double ellipsoid_band_area(double south_latitude, double north_latitude, double longitude_span);

// The area of one cell of each line, line 0 at the top: width x height for a projected
// frame, for a frame in degrees the ellipsoid's area of the cell, a band of its height
// over its width of longitude.
std::vector<double> line_cell_areas(const frame_geometry &frame);

// The run's frame as the output's georeference gives it: the corner and cell sizes of
// the last grid read that has map coordinates (the second raster pair's pixel size when
// neither has), in degrees when an input's file says so.
frame_geometry run_frame_geometry();

#endif
