#include "error_model/correlation_figures.h"

#include <cmath>
#include <cstdlib>

#include "text/number_text.h"

namespace {

correlation_figures model_of(const empirical_variogram &variogram)
{
    correlation_figures figures;
    figures.variogram = variogram.bins;
    figures.model.variance = variogram.variance;
    figures.reason = variogram.reason;
    if (!figures.reason.empty())
        return figures;
    figures.model = fit_variogram(variogram);
    figures.available = true;
    return figures;
}

} // namespace

correlation_figures correlation_model(const std::vector<float> &standardised, const frame_geometry &frame)
{
    return model_of(sample_variogram(standardised, frame));
}

correlation_figures correlation_model(const variogram_cells &stable, const frame_geometry &frame)
{
    return model_of(sample_variogram(stable, frame));
}

void finish_correlation(correlation_figures *figures, const correlated_error_collector &collector,
                        const frame_geometry &frame)
{
    if (figures->available)
        figures->errors = finish_correlated_errors(collector, figures->model, frame);
}

std::vector<correlation_row> correlation_rows(const correlation_figures &figures)
{
    const variogram_model &m = figures.model;
    const correlated_volume_errors &e = figures.errors;
    std::vector<correlation_row> rows = {
        {"above_error_correlated_m3", "first above second, error with correlation", e.above.error_m3, "m3"},
        {"below_error_correlated_m3", "first below second, error with correlation", e.below.error_m3, "m3"},
        {"net_error_correlated_m3", "net volume, error with correlation", e.net.error_m3, "m3"},
        {"correlation_short_range_m", "correlation of the errors, short range", m.ranges_m[0], "m"},
        {"correlation_long_range_m", "correlation of the errors, long range", m.ranges_m[1], "m"},
        {"correlation_short_sill", "correlation of the errors, short range's sill", m.sills[0], ""},
        {"correlation_long_sill", "correlation of the errors, long range's sill", m.sills[1], ""},
        {"correlation_nugget", "correlation of the errors, nugget", m.nugget, ""},
        {"correlation_variance", "correlation of the errors, variance", m.variance, ""},
        {"above_effective_cells", "first above second, effective independent cells", e.above.effective_cells, "cells"},
        {"below_effective_cells", "first below second, effective independent cells", e.below.effective_cells, "cells"},
    };
    if (!figures.available)
        for (correlation_row &row : rows)
            row.value = std::nan("");
    return rows;
}

namespace {

std::string error_share_text(double error, double volume)
{
    if (volume == 0.0)
        return text_printf("%lf m3", error);
    return text_printf("%lf m3 (%lf %%)", error, 100.0 * error / std::fabs(volume));
}

// The shortest text that reads back to the double; null for what JSON cannot hold.
std::string json_real(double value)
{
    if (!std::isfinite(value))
        return "null";
    for (int digits = 1; digits <= 17; digits++) {
        const std::string text = text_printf("%.*g", digits, value);
        if (std::strtod(text.c_str(), nullptr) == value)
            return text;
    }
    return text_printf("%.17g", value);
}

std::string json_string(const std::string &text)
{
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\')
            quoted += std::string("\\") + c;
        else if (static_cast<unsigned char>(c) < 0x20)
            quoted += text_printf("\\u%04x", static_cast<unsigned>(c));
        else
            quoted += c;
    }
    return quoted + "\"";
}

} // namespace

std::vector<correlation_line> correlation_lines(const correlation_figures &figures, double above_volume_m3,
                                                double below_volume_m3, double net_volume_m3)
{
    std::vector<correlation_line> lines;
    if (!figures.available) {
        lines.push_back({"error with correlation", "left out: " + figures.reason});
    } else {
        const variogram_model &m = figures.model;
        const correlated_volume_errors &e = figures.errors;
        lines.push_back({"first above second, error with correlation", error_share_text(e.above.error_m3, above_volume_m3)});
        lines.push_back({"first below second, error with correlation", error_share_text(e.below.error_m3, below_volume_m3)});
        lines.push_back({"net volume, error with correlation", error_share_text(e.net.error_m3, net_volume_m3)});
        lines.push_back({"correlation of the errors",
                         text_printf("ranges %lf m and %lf m, sills %lf and %lf, nugget %lf of variance %lf; "
                                     "effective independent cells %lf above, %lf below",
                                     m.ranges_m[0], m.ranges_m[1], m.sills[0], m.sills[1], m.nugget, m.variance,
                                     e.above.effective_cells, e.below.effective_cells)});
    }
    for (const slope_sigma_bin &bin : figures.sigma_by_slope)
        lines.push_back({text_printf("error at slope %lf degrees", bin.slope_deg),
                         text_printf("%lf m (%zu cells of slopes %lf to %lf degrees)", bin.sigma_m, bin.cells,
                                     bin.lowest_deg, bin.highest_deg)});
    return lines;
}

std::string correlation_json(const correlation_figures &figures)
{
    const variogram_model &m = figures.model;
    const correlated_volume_errors &e = figures.errors;
    auto figure = [&](double value) { return json_real(figures.available ? value : std::nan("")); };
    std::string json = "{\"ranges_m\":[" + figure(m.ranges_m[0]) + "," + figure(m.ranges_m[1]) + "]";
    json += ",\"sills\":[" + figure(m.sills[0]) + "," + figure(m.sills[1]) + "]";
    json += ",\"nugget\":" + figure(m.nugget) + ",\"variance\":" + figure(m.variance);
    json += ",\"above_error_m3\":" + figure(e.above.error_m3) + ",\"below_error_m3\":" + figure(e.below.error_m3) +
            ",\"net_error_m3\":" + figure(e.net.error_m3);
    json += ",\"above_effective_cells\":" + figure(e.above.effective_cells) +
            ",\"below_effective_cells\":" + figure(e.below.effective_cells);
    // The detected cells carried into the model, which the budget's detected cells are.
    auto count = [&](size_t cells) { return figures.available ? text_printf("%zu", cells) : std::string("null"); };
    json += ",\"above_cells\":" + count(e.above.cells) + ",\"below_cells\":" + count(e.below.cells);
    if (!figures.sigma_by_slope.empty()) {
        json += ",\"sigma_by_slope\":[";
        for (size_t k = 0; k < figures.sigma_by_slope.size(); k++)
            json += std::string(k > 0 ? "," : "") + "{\"slope_deg\":" + json_real(figures.sigma_by_slope[k].slope_deg) +
                    ",\"sigma_m\":" + json_real(figures.sigma_by_slope[k].sigma_m) + "}";
        json += "]";
    }
    if (!figures.available)
        json += ",\"reason\":" + json_string(figures.reason);
    return json + "}";
}
