// The budget of the change per class of an integer grid on the first grid's cells
// (landforms, land cover, zones): every class value found, with the figures of the
// run's budget, into NAME_classes.csv beside the output and a table of the report.
#ifndef ORMELIX_CLASS_BUDGET_H
#define ORMELIX_CLASS_BUDGET_H

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "gridfiles/line_reader.h"
#include "treatment/difference.h"

struct class_budget {
    int64_t value;
    change_budget budget;  // its cells: those of the class, with data in both grids or not
};

// Where a class grid holds a value that is not a whole number.
struct class_fault {
    int32_t line = -1, column = -1;
    double value = 0.0;
};

// The budget of every class of `classes` (NO_CLASS: a cell of no class, left out), in
// increasing order: pass(line, start, end, part) adds the cells [start, end) of a line,
// all of one class, to that class's part (the run's pass, see run_difference_of_run).
using class_run_pass = std::function<void(int32_t, int32_t, int32_t, difference_part *)>;
void budgets_per_class(const int32_t *const *classes, int32_t lines, int32_t columns, int32_t type_treat,
                       const class_run_pass &pass, std::vector<class_budget> *budgets);
// The same a band of lines at a time: lines [first_line, end_line) of classes (a table
// of every line, holding those) added to sums, band after band; then the budgets. The
// figures are those of the whole grid's, whatever the bands.
struct class_sums {
    size_t cells = 0;
    difference_part part;
};
using class_budget_sums = std::map<int64_t, class_sums>;
void add_class_lines(const int32_t *const *classes, int32_t first_line, int32_t end_line, int32_t columns,
                     const class_run_pass &pass, class_budget_sums *sums);
void finish_class_budgets(class_budget_sums *sums, int32_t type_treat, std::vector<class_budget> *budgets);

// The classes of lines x columns cells of a grid of values as read, from its cell
// (first_line, first_column): NaN is NO_CLASS. False, with *fault set at the first in
// the grid's own cells, at a value that is not a whole number an int32_t holds.
bool class_cells(double *const *values, int32_t first_line, int32_t first_column, int32_t lines, int32_t columns,
                 int32_t *const *classes, class_fault *fault);
// The --classes grid as read (lines of the first grid's own cells) made the classes of
// the result's frame, its values released; one that is no class stops the run naming its
// cell. Before the treatment, whose threads must not end the process.
int32_t **run_class_cells(double **values, int32_t lines);

// The file's text: a column `class`, then the budget file's columns; a line a class.
std::string class_budget_csv(const std::vector<class_budget> &budgets, int32_t type_treat,
                             const change_test &test);

// The run's budgets per class of the grid of --classes (nothing without it).
void gather_run_class_budgets(const std::vector<double> &line_areas);
// For epochs read in bands, the --classes grid is read band by band too: its reader,
// kept here (null without).
void keep_run_class_lines(std::unique_ptr<line_reader> reader);
line_reader *run_class_lines();
// The classes of the result's lines [first, end) from the class grid's values (a table of
// every line of the first grid's own cells, holding those the band covers); false at a
// value that is no class, and stop_on_band_classes then stops the run with its message.
// Then, on the same thread, with the run's grids holding the band's lines, the band added
// to the run's budgets per class.
bool take_band_classes(double *const *values, int32_t first, int32_t end);
[[noreturn]] void stop_on_band_classes();
void add_band_class_budgets(int32_t first, int32_t end, const std::vector<double> &line_areas);
// The budgets of the bands added.
void finish_band_class_budgets();
// NAME_classes.csv beside the output, put in place with it (nothing without --classes).
void write_class_budget_file();
// The report's table of the classes: a header row, then a row a class (empty without).
std::vector<std::vector<std::string>> run_class_table();

#endif
