// The change on stable ground (cells a mask marks as unchanged between the epochs):
// its median is the vertical bias between them, its NMAD the error of the change.
#ifndef ORMELIX_STABLE_GROUND_H
#define ORMELIX_STABLE_GROUND_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "treatment/change_budget.h"

struct stable_ground_figures {
    size_t cells = 0;     // stable cells with data in both grids
    double median = 0.0;  // of first - second there, metres
    double nmad = 0.0;    // 1.4826 x the median absolute deviation from the median
    double mean = 0.0;
    double std_dev = 0.0; // of the whole population of those cells (n, not n - 1)
};

// The figures of first - second over the cells where mask is neither 0 nor NaN and both
// grids have data (all 0 when there is none).
stable_ground_figures stable_ground(double *const *mask, double *const *first, double *const *second,
                                    int32_t lines, int32_t columns);

// The budget file's columns of the figures, appended to its text (names, then values).
std::string with_stable_ground_columns(const std::string &budget_csv, const stable_ground_figures &figures);
// Their lines in the budget the console and the report show.
std::vector<budget_line> stable_ground_lines(const stable_ground_figures &figures);

// The run's figures, of the mask of --stable; null without it.
void gather_run_stable_ground();
const stable_ground_figures *run_stable_ground();

#endif
