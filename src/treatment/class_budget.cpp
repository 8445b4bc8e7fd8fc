#include "treatment/class_budget.h"
#include "treatment/run_pass.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "console/console.h"
#include "globals/given_answers.h"
#include "globals/globals.h"
#include "nrutil.h"
#include "regrid/frame_step.h"
#include "treatment/band_table.h"
#include "text/number_text.h"

namespace {

std::vector<class_budget> run_budgets;
// Read band by band: the class grid's reader, the sums of the bands, the classes of a band.
std::unique_ptr<line_reader> class_lines;
class_budget_sums band_sums;
band_table<int32_t> band_classes;

bool run_has_classes()
{
    return dtab_classes != nullptr || class_lines != nullptr;
}

// The value of the bands that is no class.
class_fault band_fault;

[[noreturn]] void stop_on_class(const class_fault &fault)
{
    stop_with_message("\n\tFile %s, grid line %d, column %d: %s is not a whole number from %d to %d: a class "
                      "grid holds whole numbers (cells without data left out).\n",
                      answers.classes_path.c_str(), fault.line + 1, fault.column + 1,
                      exact_real_text(fault.value).c_str(), NO_CLASS + 1, INT32_MAX);
}

} // namespace

bool class_cells(double *const *values, int32_t first_line, int32_t first_column, int32_t lines, int32_t columns,
                 int32_t *const *classes, class_fault *fault)
{
    for (int32_t i = 0; i < lines; i++) {
        const double *line = values[first_line + i] + first_column;
        for (int32_t j = 0; j < columns; j++) {
            const double value = line[j];
            if (std::isnan(value)) {
                classes[i][j] = NO_CLASS;
            } else if (value == std::trunc(value) && value > NO_CLASS && value <= INT32_MAX) {
                classes[i][j] = static_cast<int32_t>(value);
            } else {
                *fault = {first_line + i, first_column + j, value};
                return false;
            }
        }
    }
    return true;
}

void add_class_lines(const int32_t *const *classes, int32_t first_line, int32_t end_line, int32_t columns,
                     const class_run_pass &pass, class_budget_sums *sums)
{
    // Classes come in runs along a line (a zone, a slope band): each run goes through
    // the pass of the whole grid, so that a class's figures are the run's own.
    class_sums *last = nullptr;
    int64_t last_value = 0;
    for (int32_t i = first_line; i < end_line; i++) {
        int32_t j = 0;
        while (j < columns) {
            const int32_t value = classes[i][j];
            if (value == NO_CLASS) {
                j++;
                continue;
            }
            int32_t end = j + 1;
            while (end < columns && classes[i][end] == value)
                end++;
            const int64_t key = static_cast<int64_t>(value);
            if (last == nullptr || key != last_value) {
                last = &(*sums)[key];
                last_value = key;
            }
            pass(i, j, end, &last->part);
            last->cells += static_cast<size_t>(end - j);
            j = end;
        }
    }
}

void finish_class_budgets(class_budget_sums *sums, int32_t type_treat, std::vector<class_budget> *budgets)
{
    budgets->clear();
    for (auto &entry : *sums) {
        class_budget one = {entry.first, change_budget()};
        double low, high;
        finish_difference(&entry.second.part, 1, 0, 0, type_treat, &low, &high, &one.budget);
        one.budget.cells = entry.second.cells;
        budgets->push_back(one);
    }
}

void budgets_per_class(const int32_t *const *classes, int32_t lines, int32_t columns, int32_t type_treat,
                       const class_run_pass &pass, std::vector<class_budget> *budgets)
{
    class_budget_sums sums;
    add_class_lines(classes, 0, lines, columns, pass, &sums);
    finish_class_budgets(&sums, type_treat, budgets);
}

std::string class_budget_csv(const std::vector<class_budget> &budgets, int32_t type_treat,
                             const change_test &test)
{
    std::string text = "class," + csv_names(budget_columns(change_budget(), type_treat, test)) + "\n";
    for (const class_budget &one : budgets)
        text += std::to_string(one.value) + "," + csv_values(budget_columns(one.budget, type_treat, test)) + "\n";
    return text;
}

void gather_run_class_budgets(const std::vector<double> &line_areas)
{
    run_budgets.clear();
    if (dtab_classes == nullptr)
        return;
    std::vector<double> scratch(static_cast<size_t>(nb_col));
    const auto pass = [&](int32_t line, int32_t start, int32_t end, difference_part *part) {
        run_difference_of_run(line, start, end, scratch.data(), line_areas.data(), part);
    };
    budgets_per_class(dtab_classes, nb_lig, nb_col, type_treat, pass, &run_budgets);
}

int32_t **run_class_cells(double **values, int32_t lines)
{
    int32_t first_line = 0, first_column = 0;
    first_grid_window(&first_line, &first_column);
    int32_t **classes = imatrice(nb_col, nb_lig);
    require_grid(classes, nb_col, nb_lig);
    class_fault fault;
    if (!class_cells(values, first_line, first_column, nb_lig, nb_col, classes, &fault))
        stop_on_class(fault);
    frdmatrice(values, lines);
    return classes;
}

void keep_run_class_lines(std::unique_ptr<line_reader> reader)
{
    class_lines = std::move(reader);
    band_sums.clear();
}

line_reader *run_class_lines()
{
    return class_lines.get();
}

bool take_band_classes(double *const *values, int32_t first, int32_t end)
{
    if (class_lines == nullptr)
        return true;
    int32_t first_line = 0, first_column = 0;
    first_grid_window(&first_line, &first_column);
    int32_t *const *classes = band_classes.hold(first, end, nb_lig, nb_col);
    return class_cells(values, first_line + first, first_column, end - first, nb_col, classes + first, &band_fault);
}

void stop_on_band_classes()
{
    stop_on_class(band_fault);
}

void add_band_class_budgets(int32_t first, int32_t end, const std::vector<double> &line_areas)
{
    if (class_lines == nullptr)
        return;
    std::vector<double> scratch(static_cast<size_t>(nb_col));
    const auto pass = [&](int32_t line, int32_t start, int32_t stop, difference_part *part) {
        run_difference_of_run(line, start, stop, scratch.data(), line_areas.data(), part);
    };
    add_class_lines(band_classes.lines.data(), first, end, nb_col, pass, &band_sums);
}

void finish_band_class_budgets()
{
    if (class_lines != nullptr)
        finish_class_budgets(&band_sums, type_treat, &run_budgets);
}

void write_class_budget_file()
{
    if (!run_has_classes())
        return;
    FILE *fp = create_output_file(nomstem3 + "_classes.csv", "w");
    if (std::fputs(class_budget_csv(run_budgets, type_treat, run_change_test()).c_str(), fp) < 0)
        stop_output_failed(fp);
    finish_output(fp);
}

std::vector<std::vector<std::string>> run_class_table()
{
    std::vector<std::vector<std::string>> rows;
    if (!run_has_classes())
        return rows;
    const bool eliminated = test_detects(run_change_test());
    rows.push_back({"class", "cells with data", eliminated ? "above, detected (m3)" : "above (m3)",
                    eliminated ? "below, detected (m3)" : "below (m3)", eliminated ? "net, detected (m3)" : "net (m3)",
                    "output grid (m3)"});
    for (const class_budget &one : run_budgets) {
        const change_budget &b = one.budget;
        const double above = compensated_total(b.above_detected.volume);
        const double below = compensated_total(b.below_detected.volume);
        rows.push_back({std::to_string(one.value), std::to_string(b.cells - b.without_data),
                        text_printf("%lf", above), text_printf("%lf", below), text_printf("%lf", above - below),
                        text_printf("%lf", compensated_total(b.output.volume))});
    }
    return rows;
}
