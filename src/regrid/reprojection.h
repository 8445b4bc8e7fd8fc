// Two epochs in two coordinate systems: the second reprojected onto the first's cells.
// Each of the first's cell centres is carried into the second's system by PROJ
// (coordinates/carried_positions.h) and the second's value there taken by the bilinear
// kernel; the frame is the first's cells whose centres fall inside the second's extent.
#ifndef ORMELIX_REPROJECTION_H
#define ORMELIX_REPROJECTION_H

#include <string>

#include "coordinates/carried_positions.h"
#include "regrid/frame_step.h"

// The plan from the carried positions: the smallest block of the first's cells holding
// every centre that falls inside the second's extent, frames_apart when none does.
frame_plan plan_reprojection(const grid_frame &first, const grid_frame &second,
                             const carried_positions &positions);

// The run's step for its two grids in the systems first_crs and second_crs: planned and
// kept as the run's frame step. Stops the run, naming both grids and their systems,
// when PROJ knows no transformation between them, or when they share no ground.
const frame_plan &plan_run_reprojection(const grid_frame &first, const grid_frame &second,
                                        const std::string &first_crs, const std::string &second_crs);

// The last line of the coordinate-system warning when the second DEM is reprojected.
std::string reprojection_line();

#endif
