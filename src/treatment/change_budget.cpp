#include "treatment/change_budget.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "console/console.h"
#include "globals/globals.h"
#include "treatment/difference_kinds.h"
#include "text/number_text.h"
#include "treatment/stable_ground.h"

namespace {

void merge_compensated(compensated_sum *into, const compensated_sum &part)
{
    add_compensated(into, part.sum);
    into->compensation += part.compensation;
}

double area_of(const change_measure &measure) { return compensated_total(measure.area); }
double volume_of(const change_measure &measure) { return compensated_total(measure.volume); }

// The mean thickness of a change: its volume over its area, 0 where it has none.
double mean_of(const change_measure &measure)
{
    const double area = area_of(measure);
    return area > 0.0 ? volume_of(measure) / area : 0.0;
}

// What the budget derives from its sums. A detected volume's error is that of its
// cells, each its standard deviation of change (for a limit T, T itself) times its area:
// summed, as errors that go together (one survey's systematic error: an upper bound),
// or as the root of the sum of their squares, as errors independent of each other (a
// lower bound). The net's, in each model, is the root sum of squares of the two.
struct derived_figures {
    double above_error, below_error;
    double above_independent, below_independent;
    double net_raw, net_detected, net_error, net_independent;
};

derived_figures derive(const change_budget &budget, const change_test &test)
{
    derived_figures figures;
    if (errors_by_cell(test)) {
        figures.above_error = compensated_total(budget.above_detected.error);
        figures.below_error = compensated_total(budget.below_detected.error);
        figures.above_independent = std::sqrt(compensated_total(budget.above_detected.error_squared));
        figures.below_independent = std::sqrt(compensated_total(budget.below_detected.error_squared));
    } else {
        // A limit of zero or below removes nothing and claims no error.
        const double sigma = test.basis == TEST_CONFIDENCE ? uniform_change_sigma(test)
                                                           : uniform_detection_limit(test);
        figures.above_error = sigma * area_of(budget.above_detected);
        figures.below_error = sigma * area_of(budget.below_detected);
        figures.above_independent = sigma * std::sqrt(compensated_total(budget.above_detected.area_squared));
        figures.below_independent = sigma * std::sqrt(compensated_total(budget.below_detected.area_squared));
    }
    figures.net_raw = volume_of(budget.above) - volume_of(budget.below);
    figures.net_detected = volume_of(budget.above_detected) - volume_of(budget.below_detected);
    figures.net_error = std::hypot(figures.above_error, figures.below_error);
    figures.net_independent = std::hypot(figures.above_independent, figures.below_independent);
    return figures;
}

change_test limit_test(bool eliminated, double hypso)
{
    change_test test;
    test.basis = eliminated ? TEST_LIMIT : TEST_NONE;
    test.hypso = hypso;
    return test;
}

std::string measure_text(const change_measure &measure)
{
    return text_printf("%llu %s, %lf m2, %lf m3, mean %lf m", static_cast<unsigned long long>(measure.cells),
                       measure.cells == 1 ? "cell" : "cells", area_of(measure), volume_of(measure),
                       mean_of(measure));
}

// An error, and what share of its volume it is when there is one.
std::string error_text(double error, double volume)
{
    if (volume == 0.0)
        return text_printf("%lf m3", error);
    return text_printf("%lf m3 (%lf %%)", error, 100.0 * error / std::fabs(volume));
}

} // namespace

void merge_measures(change_measure *into, const change_measure &part)
{
    into->cells += part.cells;
    merge_compensated(&into->area, part.area);
    merge_compensated(&into->volume, part.volume);
    merge_compensated(&into->area_squared, part.area_squared);
    merge_compensated(&into->error, part.error);
    merge_compensated(&into->error_squared, part.error_squared);
}

double compensated_total(const compensated_sum &total)
{
    // An infinite change leaves a compensation that is not a number.
    return std::isfinite(total.sum) ? total.sum + total.compensation : total.sum;
}

void merge_budgets(change_budget *into, const change_budget &part)
{
    into->cells += part.cells;
    into->without_data += part.without_data;
    merge_measures(&into->above, part.above);
    merge_measures(&into->below, part.below);
    merge_measures(&into->above_detected, part.above_detected);
    merge_measures(&into->below_detected, part.below_detected);
    merge_measures(&into->output, part.output);
}

std::vector<budget_line> budget_lines(const change_budget &budget, int32_t type_treat, bool eliminated,
                                      double hypso)
{
    return budget_lines(budget, type_treat, limit_test(eliminated, hypso));
}

std::vector<budget_line> budget_lines(const change_budget &budget, int32_t type_treat, const change_test &test)
{
    const bool eliminated = test_detects(test);
    const derived_figures figures = derive(budget, test);
    std::vector<budget_line> lines;
    lines.push_back({"cells with data in both grids",
                     text_printf("%llu of %llu (%llu without data)",
                                 static_cast<unsigned long long>(budget.cells - budget.without_data),
                                 static_cast<unsigned long long>(budget.cells),
                                 static_cast<unsigned long long>(budget.without_data))});
    if (test.basis == TEST_CONFIDENCE)
        lines.push_back({"test of the change", confidence_test_text(test)});
    const struct {
        const char *name;
        const change_measure &raw, &detected;
        double error, independent;
    } directions[] = {
        {"first above second", budget.above, budget.above_detected, figures.above_error, figures.above_independent},
        {"first below second", budget.below, budget.below_detected, figures.below_error, figures.below_independent},
    };
    for (const auto &direction : directions) {
        lines.push_back({std::string(direction.name) + ", raw", measure_text(direction.raw)});
        if (!eliminated)
            continue;
        lines.push_back({std::string(direction.name) + ", detected", measure_text(direction.detected)});
        lines.push_back({std::string(direction.name) + ", error",
                         error_text(direction.error, volume_of(direction.detected))});
        lines.push_back({std::string(direction.name) + ", error if independent",
                         error_text(direction.independent, volume_of(direction.detected))});
    }
    lines.push_back({"net volume, raw", text_printf("%lf m3", figures.net_raw)});
    if (eliminated) {
        lines.push_back({"net volume, detected", text_printf("%lf m3", figures.net_detected)});
        lines.push_back({"net volume, error", error_text(figures.net_error, figures.net_detected)});
        lines.push_back(
            {"net volume, error if independent", error_text(figures.net_independent, figures.net_detected)});
    }
    const char *kind = difference_kind_name(type_treat);
    lines.push_back({*kind != '\0' ? std::string("output grid, ") + kind : std::string("output grid"),
                     measure_text(budget.output)});
    return lines;
}

std::string format_change_budget(const std::string &output_path, const frame_geometry &frame,
                                 const std::vector<budget_line> &lines)
{
    std::string text = "\n\n\tCHANGE BUDGET OF " + output_path + " (cells of " + cell_size_text(frame) + ") :";
    size_t width = 0;
    for (const budget_line &line : lines)
        width = std::max(width, line.label.size());
    for (const budget_line &line : lines)
        text += "\n\t\t" + line.label + std::string(width - line.label.size(), ' ') + " : " + line.value;
    return text + "\n" + frame_degrees_note(frame);
}

std::string frame_degrees_note(const frame_geometry &frame)
{
    const double width = frame.columns * frame.cellsize;
    const double height = frame.lines * cell_height(frame);
    const bool fits_degrees = frame.cellsize > 0.0 && frame.cellsize < 0.1 && cell_height(frame) > 0.0 &&
                              cell_height(frame) < 0.1 && frame.xll >= -180.0 &&
                              frame.xll + width <= 180.0 && frame.yll >= -90.0 && frame.yll + height <= 90.0;
    if (frame.degrees || !fits_degrees)
        return "";
    return "\n\tNote: the corner, extent and cell size of this frame all fit geographic degrees, but no file "
           "declares them so: the areas and volumes above take the cell size for metres. If the grids are in "
           "degrees, put beside each ASCII grid NAME.asc the file NAME.prj that GIS tools write with it (its "
           "text begins GEOGCS or GEOGCRS) and run again.\n";
}

std::string budget_csv(const change_budget &budget, int32_t type_treat, bool eliminated, double hypso)
{
    return budget_csv(budget, type_treat, limit_test(eliminated, hypso));
}

std::string budget_csv(const change_budget &budget, int32_t type_treat, const change_test &test)
{
    const derived_figures figures = derive(budget, test);
    std::string names = "kind,limit_m,cells,cells_with_data,cells_without_data";
    std::string values = std::to_string(type_treat) + "," +
                         (test.basis == TEST_LIMIT ? exact_real_text(test.hypso) : "") + "," +
                         std::to_string(budget.cells) + "," + std::to_string(budget.cells - budget.without_data) +
                         "," + std::to_string(budget.without_data);
    const auto add_real = [&](const char *name, double value) {
        names += std::string(",") + name;
        values += "," + exact_real_text(value);
    };
    const auto add_measure = [&](const char *name, const change_measure &measure) {
        names += std::string(",") + name + "_cells";
        values += "," + std::to_string(measure.cells);
        add_real((std::string(name) + "_area_m2").c_str(), area_of(measure));
        add_real((std::string(name) + "_volume_m3").c_str(), volume_of(measure));
    };
    add_measure("above", budget.above);
    add_measure("below", budget.below);
    add_real("net_volume_m3", figures.net_raw);
    add_measure("above_detected", budget.above_detected);
    add_real("above_error_m3", figures.above_error);
    add_measure("below_detected", budget.below_detected);
    add_real("below_error_m3", figures.below_error);
    add_real("net_detected_volume_m3", figures.net_detected);
    add_real("net_error_m3", figures.net_error);
    add_measure("output", budget.output);
    // Added at the end, so that the columns before keep their places.
    const bool confident = test.basis == TEST_CONFIDENCE;
    const auto add_optional = [&](const char *name, bool given, double value) {
        names += std::string(",") + name;
        values += "," + (given ? exact_real_text(value) : std::string());
    };
    add_optional("confidence_pct", confident, test.confidence_pct);
    add_optional("sigma_first_m", confident && test.grid_first.empty(), test.sigma_first);
    add_optional("sigma_second_m", confident && test.grid_second.empty(), test.sigma_second);
    add_real("above_error_independent_m3", figures.above_independent);
    add_real("below_error_independent_m3", figures.below_independent);
    add_real("net_error_independent_m3", figures.net_independent);
    return names + "\n" + values + "\n";
}

std::string budget_file_text(const change_budget &budget)
{
    const std::string csv = budget_csv(budget, type_treat, run_change_test());
    const stable_ground_figures *stable = run_stable_ground();
    return stable != nullptr ? with_stable_ground_columns(csv, *stable) : csv;
}

void write_budget_file(const change_budget &budget)
{
    // Beside the output, and put in place with it.
    FILE *fp = create_output_file(nomstem3 + "_budget.csv", "w");
    if (std::fputs(budget_file_text(budget).c_str(), fp) < 0)
        stop_output_failed(fp);
    finish_output(fp);
}
