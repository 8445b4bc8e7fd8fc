// The run's third error model: the errors with their spatial correlation, measured on the
// stable ground (a variogram of its differences) and carried into the error of each
// detected volume; and the error of each cell by its slope (--sigma stable-slope).
#ifndef ORMELIX_CORRELATED_BUDGET_H
#define ORMELIX_CORRELATED_BUDGET_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "treatment/change_budget.h"

// --sigma stable-slope: the NMAD of the stable differences by slope of the first DEM,
// each cell's error of the change from its slope (each DEM taking half its variance, as
// error grids of the run). Stops the run when the stable ground is too small for it.
void run_sigma_by_slope();
// After the pass: the mean of the errors by slope it made, as each DEM's mean error.
void finish_sigma_by_slope();

// Before the pass, for a run with stable ground and a test at a confidence level: the
// variogram of the stable differences and its model (or why it is left out).
void model_run_correlation();
// Whether the pass must gather its detected cells for the model.
bool correlation_gathers_cells();
// In the pass, once lines [first_line, end_line) are done: their detected cells, on the
// thread of half 0 (the earlier lines) or 1 (the later ones), each half in order.
void gather_correlated_cells(size_t half, int32_t first_line, int32_t end_line, const std::vector<double> &line_areas);
// After the pass: the detected cells of each direction carried through the model, and
// the figures appended to the run's budget (nothing without a model to apply).
void finish_run_correlation(const change_budget &budget, budget_record *record);
// The report's section of the model: the variogram, its model and ranges ("" without).
std::string run_correlation_html();

#endif
