// The run's frame and the words for its cells (the ground areas of the cells are those
// of coordinates/frame_geometry.h).
#ifndef ORMELIX_FRAME_AREA_H
#define ORMELIX_FRAME_AREA_H

#include <string>

#include "coordinates/frame_geometry.h"

// Whether cells of that width and height are square: equal to one part in 10^9. Sizes
// that differ by less are one size that arithmetic left a few bits apart (GDAL's
// elev.tif: 5 parts in 10^16); written as one size, a grid of a million lines then
// ends within 1/1000 of a cell, the alignment tolerance, of where it lay. Real grids of
// cells that are not square differ far more: ETOPO's GeoTIFFs by one part in 100 000.
bool cells_square(double dx, double dy);

// The budget heading's words for the cells: "30.000000 m", "30.000000 by 20.000000 m"
// (width by height), "0.008333333333 degrees (areas on the WGS 84 ellipsoid)".
std::string cell_size_text(const frame_geometry &frame);

// The run's frame as the output's georeference gives it: the corner and cell sizes of
// the last grid read that has map coordinates (the second raster pair's pixel size when
// neither has), in degrees when an input's file says so.
frame_geometry run_frame_geometry();

#endif
