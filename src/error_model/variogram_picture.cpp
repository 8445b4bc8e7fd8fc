#include "error_model/variogram_picture.h"

#include <algorithm>
#include <cmath>

#include "text/number_text.h"

namespace {

// An SVG picture's opening and the box of its plot.
std::string svg_plot_frame(int width, int height, double left, double top, double plot_w, double plot_h)
{
    return text_printf("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" "
                       "viewBox=\"0 0 %d %d\" font-family=\"sans-serif\" font-size=\"11\">\n",
                       width, height, width, height) +
           text_printf("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"none\" "
                       "stroke=\"#888\"/>\n",
                       left, top, plot_w, plot_h);
}

} // namespace

std::string variogram_svg(const std::vector<variogram_bin> &bins, const variogram_model &model, int width,
                          int height)
{
    const double left = 64.0, right = 16.0, top = 16.0, bottom = 44.0;
    const double plot_w = width - left - right, plot_h = height - top - bottom;
    double lag_low = INFINITY, lag_high = 0.0, gamma_high = model.variance;
    for (const variogram_bin &bin : bins) {
        lag_low = std::min(lag_low, bin.lag_low_m);
        lag_high = std::max(lag_high, bin.lag_high_m);
        if (bin.pairs > 0)
            gamma_high = std::max(gamma_high, bin.gamma);
    }
    for (double range : model.ranges_m)
        if (range > 0.0) {
            lag_low = std::min(lag_low, range);
            lag_high = std::max(lag_high, range);
        }
    if (!(lag_low < lag_high) || lag_low <= 0.0) {
        lag_low = 1.0;
        lag_high = 10.0;
    }
    gamma_high = gamma_high > 0.0 ? 1.1 * gamma_high : 1.0;
    auto x_of = [&](double lag) { return left + plot_w * std::log(lag / lag_low) / std::log(lag_high / lag_low); };
    auto y_of = [&](double gamma) { return top + plot_h * (1.0 - gamma / gamma_high); };

    std::string svg = svg_plot_frame(width, height, left, top, plot_w, plot_h);
    // Lags at every power of ten on the axis, semivariance in fifths.
    for (double decade = std::pow(10.0, std::floor(std::log10(lag_low))); decade <= lag_high; decade *= 10.0)
        if (decade >= lag_low)
            svg += text_printf("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">%g</text>\n", x_of(decade),
                               top + plot_h + 14.0, decade);
    for (int k = 0; k <= 5; k++) {
        const double gamma = gamma_high * k / 5.0;
        svg += text_printf("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">%.3g</text>\n", left - 4.0,
                           y_of(gamma) + 4.0, gamma);
    }
    svg += text_printf("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">lag (m)</text>\n", left + plot_w / 2.0,
                       static_cast<double>(height) - 8.0);
    svg += text_printf("<text transform=\"translate(14 %.1f) rotate(-90)\" text-anchor=\"middle\">"
                       "semivariance (standardised)</text>\n",
                       top + plot_h / 2.0);
    if (model.variance > 0.0)
        svg += text_printf("<line class=\"variance\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#888\" "
                           "stroke-dasharray=\"2 3\"><title>variance %g</title></line>\n",
                           left, y_of(model.variance), left + plot_w, y_of(model.variance), model.variance);
    const char *range_names[2] = {"short range", "long range"};
    for (size_t k = 0; k < 2; k++)
        if (model.ranges_m[k] > 0.0 && model.sills[k] > 0.0) {
            const double x = x_of(model.ranges_m[k]);
            svg += text_printf("<line class=\"range\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#c60\" "
                               "stroke-dasharray=\"4 3\"/>\n<text x=\"%.1f\" y=\"%.1f\" fill=\"#c60\">%s %g m</text>\n",
                               x, top, x, top + plot_h, x + 3.0, top + 12.0 + 12.0 * static_cast<double>(k),
                               range_names[k], model.ranges_m[k]);
        }
    // The model, γ(d) from one cell out, drawn through many lags to show its bends.
    std::string points;
    const size_t steps = 200;
    for (size_t i = 0; i <= steps; i++) {
        const double lag = lag_low * std::pow(lag_high / lag_low, static_cast<double>(i) / steps);
        points += text_printf("%s%.1f,%.1f", i > 0 ? " " : "", x_of(lag), y_of(model.gamma(lag)));
    }
    svg += "<polyline class=\"model\" fill=\"none\" stroke=\"#036\" stroke-width=\"1.5\" points=\"" + points + "\"/>\n";
    for (const variogram_bin &bin : bins) {
        if (bin.pairs == 0)
            continue;
        svg += text_printf("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"%.1f\" fill=\"%s\" stroke=\"#036\">"
                           "<title>lag %g m: %g by %s, %zu pairs</title></circle>\n",
                           x_of(bin.lag_m), y_of(bin.gamma), 2.0 + std::log10(static_cast<double>(bin.pairs)),
                           bin.robust ? "#036" : "white", bin.lag_m, bin.gamma, bin.robust ? "Dowd" : "Matheron",
                           bin.pairs);
    }
    return svg + "</svg>\n";
}

std::string sigma_by_slope_svg(const std::vector<slope_sigma_bin> &bins, int width, int height)
{
    const double left = 64.0, right = 16.0, top = 16.0, bottom = 44.0;
    const double plot_w = width - left - right, plot_h = height - top - bottom;
    double slope_high = 0.0, sigma_high = 0.0;
    for (const slope_sigma_bin &bin : bins) {
        slope_high = std::max(slope_high, bin.highest_deg);
        sigma_high = std::max(sigma_high, bin.sigma_m);
    }
    // A round top of the slopes' axis, in steps of 10 degrees (5 below 10).
    const double step = slope_high > 10.0 ? 10.0 : 5.0;
    slope_high = std::min(90.0, step * std::ceil(std::max(slope_high, 1e-9) / step));
    sigma_high = sigma_high > 0.0 ? 1.2 * sigma_high : 1.0;
    auto x_of = [&](double slope) { return left + plot_w * std::min(slope, slope_high) / slope_high; };
    auto y_of = [&](double sigma) { return top + plot_h * (1.0 - sigma / sigma_high); };

    std::string svg = svg_plot_frame(width, height, left, top, plot_w, plot_h);
    for (double slope = 0.0; slope <= slope_high + 1e-9; slope += step)
        svg += text_printf("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">%g</text>\n", x_of(slope),
                           top + plot_h + 14.0, slope);
    for (int k = 0; k <= 5; k++) {
        const double sigma = sigma_high * k / 5.0;
        svg += text_printf("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">%.3g</text>\n", left - 4.0,
                           y_of(sigma) + 4.0, sigma);
    }
    svg += text_printf("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">slope of the first DEM (degrees)</text>\n",
                       left + plot_w / 2.0, static_cast<double>(height) - 8.0);
    svg += text_printf("<text transform=\"translate(14 %.1f) rotate(-90)\" text-anchor=\"middle\">"
                       "error of the change (m)</text>\n",
                       top + plot_h / 2.0);
    if (bins.empty())
        return svg + "</svg>\n";
    // What the cells take: flat to the first centre, straight between centres, flat after.
    std::string points = text_printf("%.1f,%.1f", x_of(0.0), y_of(bins.front().sigma_m));
    for (const slope_sigma_bin &bin : bins)
        points += text_printf(" %.1f,%.1f", x_of(bin.slope_deg), y_of(bin.sigma_m));
    points += text_printf(" %.1f,%.1f", x_of(slope_high), y_of(bins.back().sigma_m));
    svg += "<polyline class=\"interpolation\" fill=\"none\" stroke=\"#036\" stroke-width=\"1.5\" points=\"" + points +
           "\"/>\n";
    for (const slope_sigma_bin &bin : bins) {
        const double y = y_of(bin.sigma_m);
        svg += text_printf("<line class=\"span\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#c60\"/>\n",
                           x_of(bin.lowest_deg), y, x_of(bin.highest_deg), y);
        svg += text_printf("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"3.5\" fill=\"#036\"><title>slopes %g to %g degrees, "
                           "centre %g: %g m from %zu cells</title></circle>\n",
                           x_of(bin.slope_deg), y, bin.lowest_deg, bin.highest_deg, bin.slope_deg, bin.sigma_m,
                           bin.cells);
    }
    return svg + "</svg>\n";
}
