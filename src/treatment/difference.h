// The cell-by-cell difference of two grids of altitudes, with its clamps, the
// elimination of low values, the range of the result and the budget of the change.
#ifndef ORMELIX_DIFFERENCE_H
#define ORMELIX_DIFFERENCE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Kinds of difference.
enum { TREAT_ABSOLUTE = 0, TREAT_NEGATIVE = 1, TREAT_POSITIVE = 2 };

// How much ground moved in a grid or a part of one: the budgets of two parts add up
// to that of both (merge_budgets), in any order.
struct change_budget {
    size_t cells = 0;          // cells visited
    size_t changed = 0;        // cells whose result is above 0
    size_t without_data = 0;   // cells without a result
    double sum = 0.0;          // sum of the results above 0, in metres...
    double compensation = 0.0; // ...and the rounding error that sum has left behind
};

// Adds a value to the budget's sum, keeping its rounding error.
void add_to_budget_sum(change_budget *budget, double value);
// Adds the budget of another part of the grid.
void merge_budgets(change_budget *into, const change_budget &part);
// The sum of the results in metres.
double budget_total(const change_budget &budget);

// The text printed at the end of a successful run: counts, area, volume and mean of
// the change of the output named output_path, whose cells are cell_size metres wide.
std::string format_change_budget(const std::string &output_path, double cell_size,
                                 const change_budget &budget);

// One figure of the run's budget as the console shows it: what it is, and its value
// with its unit ("85475.000000 m2").
struct budget_line {
    std::string label;
    std::string value;
};
// The figures of the budget of the run's result, in the console's order.
std::vector<budget_line> run_budget_lines();

// One cell: kind 0 |first - second|, kind 1 second - first where positive, kind 2
// first - second where at least hypso, whatever basis is; with basis 0, any result
// below hypso becomes 0.0. A cell without data (NaN) in either grid gives NaN.
double difference_cell(double first, double second, int32_t type_treat, int32_t basis,
                       double hypso);

// Fills out (lines x columns) from first and second and finds the smallest and the
// largest result among cells holding data (both 0.0 when none does); adds the cells
// to *budget when it is given.
void compute_difference(double *const *first, double *const *second, double **out,
                        int32_t lines, int32_t columns, int32_t type_treat, int32_t basis,
                        double hypso, double *d_min, double *d_max,
                        change_budget *budget = nullptr);

// The difference of the grids read into the result, handed to the writer asked for.
void treatment();
// Prints the budget of the change of the result, once it is in place.
void print_change_budget();

#endif
