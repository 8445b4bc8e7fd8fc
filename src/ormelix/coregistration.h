// The run's epochs aligned before their difference (--coregister): the second DEM moved
// onto the first on the run's stable ground, after the frame step, before the stable
// ground's figures are gathered (so that they, and --sigma stable, are those after it).
#ifndef ORMELIX_RUN_COREGISTRATION_H
#define ORMELIX_RUN_COREGISTRATION_H

#include <cstdio>
#include <string>

#include "coregister/coregister.h"

// Aligns dtab_dem2 on dtab_dem1 over dtab_stable (every cell with data without a mask),
// prints the block on console (none when null), and stops the run on a fault.
void coregister_run_epochs(coregister_method method, FILE *console);
// An error grid of the second DEM on the result's frame, moved as the DEM was (the same
// grid when the run is not aligned).
double **coregistered_second_error(double **on_frame);
// The run's alignment; null when it has none.
const coregistration *run_coregistration();
// The budget's JSON object (one line) with the run's alignment as its object
// "coregistration"; the same text when the run has none.
std::string with_coregistration_json(const std::string &budget_json);

#endif
