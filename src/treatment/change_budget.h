// The budget of the change: the sums the pass of the difference gathers, what they come
// to (net volumes, errors), and how the console, the budget file and the report give it.
#ifndef ORMELIX_CHANGE_BUDGET_H
#define ORMELIX_CHANGE_BUDGET_H

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "treatment/change_test.h"
#include "treatment/frame_area.h"

// A sum that keeps apart the rounding error of its additions: on a billion cells it
// keeps the precision of the doubles, where a plain running sum drifts.
struct compensated_sum {
    double sum = 0.0;
    double compensation = 0.0;
};
inline void add_compensated(compensated_sum *total, double value)
{
    const double sum = total->sum + value;
    // The smaller term loses its low bits in the addition: they are kept apart.
    if (std::fabs(total->sum) >= std::fabs(value))
        total->compensation += (total->sum - sum) + value;
    else
        total->compensation += (value - sum) + total->sum;
    total->sum = sum;
}
double compensated_total(const compensated_sum &total);

// A set of cells of the budget: how many, their area on the ground (m2) and the volume
// of their change (m3).
// With the sum of the squares of their areas (the error of the detected volume if the
// cells' errors are independent) and, where each cell has its own standard deviation of
// change, the sums of those times the area and of their squares.
struct change_measure {
    size_t cells = 0;
    compensated_sum area;
    compensated_sum volume;
    compensated_sum area_squared;
    compensated_sum error, error_squared;
};

// How the ground moved in a grid or a part of one: the budgets of two parts add up to
// that of both (merge_budgets), in any order. "Above" are the cells where the first
// grid lies above the second, "below" those where it lies below, each with the
// magnitude of its change; "detected" those of them the elimination limit keeps.
struct change_budget {
    size_t cells = 0;          // cells visited
    size_t without_data = 0;   // cells without data in either grid
    change_measure above, below;
    change_measure above_detected, below_detected;
    change_measure output;     // the cells of the result other than 0, with their values
};

// Adds the budget of another part of the grid, or one measure to another.
void merge_budgets(change_budget *into, const change_budget &part);
void merge_measures(change_measure *into, const change_measure &part);

// One figure of the run's budget as the console shows it: what it is, and its value
// with its unit ("85475.000000 m2").
struct budget_line {
    std::string label;
    std::string value;
};
// The figures of a budget, in the console's order: the detected ones and their errors
// only when small changes were eliminated, below the limit hypso.
std::vector<budget_line> budget_lines(const change_budget &budget, int32_t type_treat, bool eliminated,
                                      double hypso);
// The same for any test of the change: with a confidence level, a line states the test.
std::vector<budget_line> budget_lines(const change_budget &budget, int32_t type_treat, const change_test &test);
// The figures of the budget of the run's result, in the console's order.
std::vector<budget_line> run_budget_lines();

// The text printed at the end of a successful run: the heading naming the output and
// its cells, the lines with their labels aligned, and the note a frame may need.
std::string format_change_budget(const std::string &output_path, const frame_geometry &frame,
                                 const std::vector<budget_line> &lines);
// The note for a frame that looks like geographic degrees but is not declared so
// ("" when none is needed).
std::string frame_degrees_note(const frame_geometry &frame);
// The budget file: one line of column names, one line of values, reals exact.
std::string budget_csv(const change_budget &budget, int32_t type_treat, bool eliminated, double hypso);
std::string budget_csv(const change_budget &budget, int32_t type_treat, const change_test &test);

// The run's budget file of that budget: its columns, and those of the stable ground
// when the run has one.
std::string budget_file_text(const change_budget &budget);
// The run's budget file, as written beside its output.
std::string run_budget_csv();
// Writes the budget file of the run beside its output (NAME_budget.csv), to be put in
// place with the other outputs.
void write_budget_file(const change_budget &budget);

#endif
