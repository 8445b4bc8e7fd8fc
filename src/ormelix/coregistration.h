// The run's epochs aligned before their difference (--coregister): the second DEM moved
// onto the first on the run's stable ground, after the frame step, before the stable
// ground's figures are gathered (so that they, and --sigma stable, are those after it).
#ifndef ORMELIX_RUN_COREGISTRATION_H
#define ORMELIX_RUN_COREGISTRATION_H

#include <cstdio>
#include <string>

#include "coregister/coregister.h"
#include "treatment/change_budget.h"

// Aligns dtab_dem2 on dtab_dem1 over dtab_stable (every cell with data without a mask),
// prints the block on console (none when null), and stops the run on a fault.
void coregister_run_epochs(coregister_method method, FILE *console);
// An error grid of the second DEM on its own cells brought onto the result's frame, moved
// as the DEM was, in one resampling (as second_grid_onto_frame does when the run is not
// aligned); the grid given is released or, cut, kept.
double **coregistered_second_error(double **on_second_cells);
// The run's alignment; null when it has none.
const coregistration *run_coregistration();
// The run's alignment as the budget's columns (coregistration_east_m, ...) after the
// others, and its JSON object "coregistration"; empty when the run has none.
budget_record coregistration_record();
// Its section of the report; empty when the run has none.
std::string coregistration_section();

#endif
