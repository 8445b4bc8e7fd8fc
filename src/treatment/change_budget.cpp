#include "treatment/change_budget.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "console/console.h"
#include "globals/globals.h"
#include "treatment/difference_kinds.h"
#include "text/number_text.h"

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

std::vector<budget_piece> measure_pieces(const change_measure &measure)
{
    return {{text_printf("%llu %s, ", static_cast<unsigned long long>(measure.cells),
                         measure.cells == 1 ? "cell" : "cells")},
            {"", area_of(measure), "m2"},
            {", "},
            {"", volume_of(measure), "m3"},
            {", mean "},
            {"", mean_of(measure), "m"}};
}

// An error, and what share of its volume it is when there is one.
std::vector<budget_piece> error_pieces(double error, double volume)
{
    if (volume == 0.0)
        return {{"", error, "m3"}};
    return {{"", error, "m3"}, {text_printf(" (%lf %%)", 100.0 * error / std::fabs(volume))}};
}

std::string piece_text(const budget_piece &piece, bool scaled)
{
    if (piece.unit == nullptr)
        return piece.text;
    const bool area = std::string(piece.unit) == "m2", volume = std::string(piece.unit) == "m3";
    if (scaled && area && std::fabs(piece.amount) >= 1e6)
        return text_printf("%.3f km2", piece.amount / 1e6);
    if (scaled && volume && std::fabs(piece.amount) >= 1e6)
        return text_printf("%.3f 10^6 m3", piece.amount / 1e6);
    return text_printf("%lf %s", piece.amount, piece.unit);
}

std::string pieces_text(const std::vector<budget_piece> &pieces, bool scaled)
{
    std::string text;
    for (const budget_piece &piece : pieces)
        text += piece_text(piece, scaled);
    return text;
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

budget_line text_line(const std::string &label, const std::string &text)
{
    return {label, text, {{text}}};
}

budget_line pieces_line(const std::string &label, const std::vector<budget_piece> &pieces)
{
    return {label, pieces_text(pieces, false), pieces};
}

std::string report_value_text(const budget_line &line)
{
    return line.pieces.empty() ? line.value : pieces_text(line.pieces, true);
}

budget_column count_column(const std::string &name, int64_t count)
{
    budget_column column;
    column.name = name;
    column.kind = budget_column::COUNT;
    column.count = count;
    return column;
}

budget_column real_column(const std::string &name, double real)
{
    budget_column column;
    column.name = name;
    column.kind = budget_column::REAL;
    column.real = real;
    return column;
}

budget_column real_column_if(const std::string &name, bool given, double real)
{
    if (given)
        return real_column(name, real);
    budget_column column;
    column.name = name;
    return column;
}

std::string csv_names(const std::vector<budget_column> &columns)
{
    std::string names;
    for (const budget_column &column : columns)
        names += (names.empty() ? "" : ",") + column.name;
    return names;
}

std::string csv_values(const std::vector<budget_column> &columns)
{
    std::string values;
    for (size_t k = 0; k < columns.size(); k++) {
        if (k > 0)
            values += ",";
        if (columns[k].kind == budget_column::COUNT)
            values += std::to_string(columns[k].count);
        else if (columns[k].kind == budget_column::REAL)
            values += exact_real_text(columns[k].real);
    }
    return values;
}

std::string csv_text(const std::vector<budget_column> &columns)
{
    return csv_names(columns) + "\n" + csv_values(columns) + "\n";
}

budget_record make_budget_record(const change_budget &budget, int32_t type_treat, const change_test &test)
{
    budget_record record;
    record.columns = budget_columns(budget, type_treat, test);
    record.lines = budget_lines(budget, type_treat, test);
    return record;
}

void append_record(budget_record *into, const budget_record &more)
{
    into->columns.insert(into->columns.end(), more.columns.begin(), more.columns.end());
    into->lines.insert(into->lines.end(), more.lines.begin(), more.lines.end());
    into->objects.insert(into->objects.end(), more.objects.begin(), more.objects.end());
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
    lines.push_back(text_line("cells with data in both grids",
                              text_printf("%llu of %llu (%llu without data)",
                                          static_cast<unsigned long long>(budget.cells - budget.without_data),
                                          static_cast<unsigned long long>(budget.cells),
                                          static_cast<unsigned long long>(budget.without_data))));
    if (test.basis == TEST_CONFIDENCE)
        lines.push_back(text_line("test of the change", confidence_test_text(test)));
    const struct {
        const char *name;
        const change_measure &raw, &detected;
        double error, independent;
    } directions[] = {
        {"first above second", budget.above, budget.above_detected, figures.above_error, figures.above_independent},
        {"first below second", budget.below, budget.below_detected, figures.below_error, figures.below_independent},
    };
    for (const auto &direction : directions) {
        lines.push_back(pieces_line(std::string(direction.name) + ", raw", measure_pieces(direction.raw)));
        if (!eliminated)
            continue;
        lines.push_back(pieces_line(std::string(direction.name) + ", detected", measure_pieces(direction.detected)));
        lines.push_back(pieces_line(std::string(direction.name) + ", error",
                                    error_pieces(direction.error, volume_of(direction.detected))));
        lines.push_back(pieces_line(std::string(direction.name) + ", error if independent",
                                    error_pieces(direction.independent, volume_of(direction.detected))));
    }
    lines.push_back(pieces_line("net volume, raw", {{"", figures.net_raw, "m3"}}));
    if (eliminated) {
        lines.push_back(pieces_line("net volume, detected", {{"", figures.net_detected, "m3"}}));
        lines.push_back(pieces_line("net volume, error", error_pieces(figures.net_error, figures.net_detected)));
        lines.push_back(pieces_line("net volume, error if independent",
                                    error_pieces(figures.net_independent, figures.net_detected)));
    }
    const char *kind = difference_kind_name(type_treat);
    lines.push_back(pieces_line(*kind != '\0' ? std::string("output grid, ") + kind : std::string("output grid"),
                                measure_pieces(budget.output)));
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

std::vector<budget_column> budget_columns(const change_budget &budget, int32_t type_treat, const change_test &test)
{
    const derived_figures figures = derive(budget, test);
    std::vector<budget_column> columns = {
        count_column("kind", type_treat),
        real_column_if("limit_m", test.basis == TEST_LIMIT, test.hypso),
        count_column("cells", static_cast<int64_t>(budget.cells)),
        count_column("cells_with_data", static_cast<int64_t>(budget.cells - budget.without_data)),
        count_column("cells_without_data", static_cast<int64_t>(budget.without_data)),
    };
    const auto add_measure = [&](const std::string &name, const change_measure &measure) {
        columns.push_back(count_column(name + "_cells", static_cast<int64_t>(measure.cells)));
        columns.push_back(real_column(name + "_area_m2", area_of(measure)));
        columns.push_back(real_column(name + "_volume_m3", volume_of(measure)));
    };
    add_measure("above", budget.above);
    add_measure("below", budget.below);
    columns.push_back(real_column("net_volume_m3", figures.net_raw));
    add_measure("above_detected", budget.above_detected);
    columns.push_back(real_column("above_error_m3", figures.above_error));
    add_measure("below_detected", budget.below_detected);
    columns.push_back(real_column("below_error_m3", figures.below_error));
    columns.push_back(real_column("net_detected_volume_m3", figures.net_detected));
    columns.push_back(real_column("net_error_m3", figures.net_error));
    add_measure("output", budget.output);
    // Added at the end, so that the columns before keep their places.
    const bool confident = test.basis == TEST_CONFIDENCE;
    columns.push_back(real_column_if("confidence_pct", confident, test.confidence_pct));
    columns.push_back(real_column_if("sigma_first_m", confident && test.grid_first.empty(), test.sigma_first));
    columns.push_back(real_column_if("sigma_second_m", confident && test.grid_second.empty(), test.sigma_second));
    columns.push_back(real_column("above_error_independent_m3", figures.above_independent));
    columns.push_back(real_column("below_error_independent_m3", figures.below_independent));
    columns.push_back(real_column("net_error_independent_m3", figures.net_independent));
    return columns;
}

std::string budget_csv(const change_budget &budget, int32_t type_treat, const change_test &test)
{
    return csv_text(budget_columns(budget, type_treat, test));
}

void write_budget_file(const budget_record &record)
{
    // Beside the output, and put in place with it.
    FILE *fp = create_output_file(nomstem3 + "_budget.csv", "w");
    if (std::fputs(csv_text(record.columns).c_str(), fp) < 0)
        stop_output_failed(fp);
    finish_output(fp);
}
