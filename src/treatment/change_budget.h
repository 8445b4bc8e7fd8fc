// The budget of the change: the sums the pass of the difference gathers, what they come
// to (net volumes, errors), and how the console, the budget file and the report give it.
#ifndef ORMELIX_CHANGE_BUDGET_H
#define ORMELIX_CHANGE_BUDGET_H

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
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
    // The smaller term loses its low bits in the addition: they are kept apart. Chosen
    // without a branch: a sum that hovers about 0 (changes of both signs) makes the
    // larger term unforeseeable.
    const bool sum_larger = std::fabs(total->sum) >= std::fabs(value);
    const double larger = sum_larger ? total->sum : value;
    const double smaller = sum_larger ? value : total->sum;
    total->compensation += (larger - sum) + smaller;
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

// A part of a figure as it is shown: words as they stand, or an amount with its unit
// ("m2", "m3", "m": unit not null), which the console prints "%lf m2" and the report
// scales to km2 or 10^6 m3 when it is that large.
struct budget_piece {
    std::string text;
    double amount = 0.0;
    const char *unit = nullptr;
};
// One figure of a budget as the console and the report show it: what it is, its parts,
// and its value on the console ("85475.000000 m2").
struct budget_line {
    std::string label;
    std::string value;
    std::vector<budget_piece> pieces = {};  // none: the value as it stands
};
// A figure of words alone, and one of its parts.
budget_line text_line(const std::string &label, const std::string &text);
budget_line pieces_line(const std::string &label, const std::vector<budget_piece> &pieces);
// The report's text of a figure: areas of a square kilometre and more in km2 (3 decimals),
// volumes of a million cubic metres and more in 10^6 m3, the rest as the console has it.
std::string report_value_text(const budget_line &line);

// One column of the budget file and of the JSON: its name, and its value, a count, a
// real or none (an empty field, null).
struct budget_column {
    enum value_kind { NONE, COUNT, REAL };
    std::string name;
    value_kind kind = NONE;
    int64_t count = 0;
    double real = 0.0;
};
budget_column count_column(const std::string &name, int64_t count);
budget_column real_column(const std::string &name, double real);
budget_column real_column_if(const std::string &name, bool given, double real);
// The file's two lines: the names, then the values (reals exact, none empty).
std::string csv_names(const std::vector<budget_column> &columns);
std::string csv_values(const std::vector<budget_column> &columns);
std::string csv_text(const std::vector<budget_column> &columns);

// A budget as data, computed once: its columns (the budget file, the JSON) and its lines
// (the console, the report), each in its order. Figures of other parts of the run (the
// stable ground) are appended to both.
struct budget_record {
    std::vector<budget_column> columns;
    std::vector<budget_line> lines;
    // Objects the JSON adds after the columns: a name and the object's JSON text.
    std::vector<std::pair<std::string, std::string>> objects;
};
budget_record make_budget_record(const change_budget &budget, int32_t type_treat, const change_test &test);
void append_record(budget_record *into, const budget_record &more);
// The figures of a budget, in the console's order: the detected ones and their errors
// only when small changes were eliminated, below the limit hypso.
std::vector<budget_line> budget_lines(const change_budget &budget, int32_t type_treat, bool eliminated,
                                      double hypso);
// The same for any test of the change: with a confidence level, a line states the test.
std::vector<budget_line> budget_lines(const change_budget &budget, int32_t type_treat, const change_test &test);

// The text printed at the end of a successful run: the heading naming the output and
// its cells, the lines with their labels aligned, and the note a frame may need.
std::string format_change_budget(const std::string &output_path, const frame_geometry &frame,
                                 const std::vector<budget_line> &lines);
// The note for a frame that looks like geographic degrees but is not declared so
// ("" when none is needed).
std::string frame_degrees_note(const frame_geometry &frame);
// The budget file: one line of column names, one line of values, reals exact.
std::vector<budget_column> budget_columns(const change_budget &budget, int32_t type_treat, const change_test &test);
std::string budget_csv(const change_budget &budget, int32_t type_treat, bool eliminated, double hypso);
std::string budget_csv(const change_budget &budget, int32_t type_treat, const change_test &test);

// Writes a budget file beside the run's output (NAME_budget.csv), to be put in place
// with the other outputs.
void write_budget_file(const budget_record &record);

#endif
