// The slope of the first DEM by Horn's kernel on ground distances, which the error of
// the change follows: steep cells err more.
#ifndef ORMELIX_TERRAIN_SLOPE_H
#define ORMELIX_TERRAIN_SLOPE_H

#include <cstdint>
#include <vector>

#include "coordinates/frame_geometry.h"
#include "error_model/ground_distance.h"

// The slope in degrees, atan(√squared), of a squared gradient (rise over run); NaN for NaN.
double slope_degrees_of_gradient(double squared);

// The slope in degrees of each cell of one line of a DEM (rows of lines x columns, NaN
// without data) by Horn's 3 x 3 kernel, cells dx_m wide and dy_m high. A neighbour off
// the grid or without data takes the centre's value, so that edges and holes keep a
// slope from the neighbours they have; a cell without data has NaN. horn_slope_at gives
// one cell's.
double horn_slope_at(const double *const *dem, int32_t lines, int32_t columns, int32_t line, int32_t column,
                     double dx_m, double dy_m);
void horn_slope_line(const double *const *dem, int32_t lines, int32_t columns, int32_t line, double dx_m,
                     double dy_m, double *slope_degrees);

// The slope of every cell, line after line, as horn_slope_line gives it.
std::vector<double> horn_slope_grid(const double *const *dem, const frame_geometry &frame);

#endif
