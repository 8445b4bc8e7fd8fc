// Whether two epochs lie on one grid of cells. They are differenced cell by cell, so
// two surveys exported separately, half a cell apart, would give a wrong result on
// every slope that still looks plausible.
#ifndef ORMELIX_ALIGNMENT_H
#define ORMELIX_ALIGNMENT_H

#include <string>

#include "globals/globals.h"
#include "gridfiles/grid_frame.h"

// What the warning ends with when the grids are differenced as they are.
extern const char CELL_BY_CELL_LINE[];

// The warning shown when the grids' cell sizes differ (same_cell_sizes), or, both
// having a corner, their corners (same_corner), whatever their counts; empty
// when they agree, when neither has a corner, or when both have one and lie on one
// lattice of cells (a whole number of cells apart: their common part is differenced).
// Its last line says how they are differenced.
std::string alignment_warning(const grid_frame &first, const grid_frame &second,
                              const std::string &last_line = CELL_BY_CELL_LINE);

// The warning shown when the inputs declare coordinate systems that PROJ does not find
// equivalent, naming each as PROJ does; also when only one of two GeoTIFFs declares one.
// Empty when they agree or when a grid of another form declares none. last_line says
// what becomes of them.
std::string coordinate_system_warning(const geo_keys &first, const geo_keys &second, const std::string &last_line);

#endif
