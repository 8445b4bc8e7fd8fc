#include "coregister/coregistration_picture.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "text/number_text.h"

namespace {

const char BEFORE_COLOUR[] = "#b5651d", AFTER_COLOUR[] = "#1f5fa8";

// A step outline of the bins' shares, as an SVG path.
std::string outline(const std::vector<size_t> &bins, size_t total, double share_top, double left, double bin_w,
                    double base, double plot_h)
{
    std::string d = text_printf("M %.2f %.2f", left, base);
    for (size_t k = 0; k < bins.size(); k++) {
        const double share = total > 0 ? static_cast<double>(bins[k]) / static_cast<double>(total) : 0.0;
        const double y = base - plot_h * std::min(share / share_top, 1.0);
        d += text_printf(" L %.2f %.2f L %.2f %.2f", left + bin_w * static_cast<double>(k), y,
                         left + bin_w * static_cast<double>(k + 1), y);
    }
    return d + text_printf(" L %.2f %.2f", left + bin_w * static_cast<double>(bins.size()), base);
}

double tick_step(double span)
{
    const double raw = span / 6.0, power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (m * power >= raw)
            return m * power;
    return 10.0 * power;
}

} // namespace

std::string coregistration_histogram_svg(const coregistration &f, int width, int height)
{
    const coregister_histogram &h = f.histogram;
    if (h.before.empty() || !(h.width > 0.0))
        return "";
    const double left = 56.0, right = 16.0, top = 34.0, bottom = 42.0;
    const double plot_w = width - left - right, plot_h = height - top - bottom;
    const double bin_w = plot_w / static_cast<double>(h.before.size());
    const double low = h.low, high = h.low + h.width * static_cast<double>(h.before.size());
    const size_t n = f.fitted_cells;
    double share_top = 0.0;
    for (const std::vector<size_t> *bins : {&h.before, &h.after})
        for (size_t c : *bins)
            share_top = std::max(share_top, n > 0 ? static_cast<double>(c) / static_cast<double>(n) : 0.0);
    share_top = share_top > 0.0 ? 1.1 * share_top : 1.0;
    const auto x_of = [&](double v) { return left + plot_w * (v - low) / (high - low); };
    const double base = top + plot_h;

    std::string svg = text_printf("<svg class=\"chart\" xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" "
                                  "height=\"%d\" viewBox=\"0 0 %d %d\">",
                                  width, height, width, height);
    for (int k = 0; k <= 4; k++) {
        const double share = share_top * k / 4.0, y = base - plot_h * k / 4.0;
        svg += text_printf("<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"#e4e4e4\"/>", left, y,
                           left + plot_w, y) +
               text_printf("<text x=\"%.2f\" y=\"%.2f\" text-anchor=\"end\">%.3g %%</text>", left - 6.0, y + 4.0,
                           100.0 * share);
    }
    const double step = tick_step(high - low);
    for (double v = std::ceil(low / step) * step; v <= high + 1e-9 * step; v += step)
        svg += text_printf("<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"#222\"/>", x_of(v), base,
                           x_of(v), base + 4.0) +
               text_printf("<text x=\"%.2f\" y=\"%.2f\" text-anchor=\"middle\">%g</text>", x_of(v), base + 17.0,
                           std::fabs(v) < 1e-9 * step ? 0.0 : v);
    const struct {
        const std::vector<size_t> *bins;
        const char *colour, *name;
        double median, nmad;
    } series[] = {{&h.before, BEFORE_COLOUR, "before", f.median_before_m, f.nmad_before_m},
                  {&h.after, AFTER_COLOUR, "after", f.median_after_m, f.nmad_after_m}};
    double key_x = left;
    for (const auto &s : series) {
        svg += text_printf("<path class=\"%s\" d=\"%s\" fill=\"%s\" fill-opacity=\"0.18\" stroke=\"%s\" "
                           "stroke-width=\"1.5\"/>",
                           s.name, outline(*s.bins, n, share_top, left, bin_w, base, plot_h).c_str(), s.colour,
                           s.colour);
        if (s.median >= low && s.median <= high)
            svg += text_printf("<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"%s\" "
                               "stroke-dasharray=\"4 3\"><title>median %s %g m</title></line>",
                               x_of(s.median), top, x_of(s.median), base, s.colour, s.name, s.median);
        svg += text_printf("<rect x=\"%.2f\" y=\"12\" width=\"10\" height=\"10\" fill=\"%s\"/>", key_x, s.colour) +
               text_printf("<text x=\"%.2f\" y=\"21\" class=\"small\">%s: median %.3f m, NMAD %.3f m</text>",
                           key_x + 14.0, s.name, s.median, s.nmad);
        key_x += 250.0;
    }
    svg += text_printf("<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"#222\"/>", left, base,
                       left + plot_w, base) +
           text_printf("<text x=\"%.2f\" y=\"%.2f\" text-anchor=\"middle\">stable ground, first &#8722; second "
                       "(m), per bin of %.3g m</text>",
                       left + plot_w / 2.0, static_cast<double>(height) - 6.0, h.width);
    return svg + "</svg>";
}

std::string coregistration_html(const coregistration &f)
{
    std::vector<std::pair<std::string, std::string>> rows = {
        {"method", coregister_method_name(f.method)},
        {"stable cells", text_printf("%zu", f.stable_cells)},
        {"cells fitted", text_printf("%zu", f.fitted_cells)},
        {"second DEM east of the first", text_printf("%.3f m (%.3f cells)", f.east_m, f.east_cells)},
        {"second DEM north of the first", text_printf("%.3f m (%.3f cells)", f.north_m, f.north_cells)},
        {"second DEM above the first", text_printf("%.3f m", f.up_m)},
    };
    if (f.tilted)
        rows.push_back({"plane, rise east and north",
                        text_printf("%.4f m per km, %.4f m per km", f.plane_east * 1000.0, f.plane_north * 1000.0)});
    if (f.method != coregister_vertical)
        rows.push_back({"iterations", text_printf("%d, %s", f.iterations, f.converged ? "converged" : "not converged")});
    rows.push_back({"stable differences before (first &#8722; second)",
                    text_printf("median %.3f m, NMAD %.3f m", f.median_before_m, f.nmad_before_m)});
    rows.push_back({"stable differences after",
                    text_printf("median %.3f m, NMAD %.3f m", f.median_after_m, f.nmad_after_m)});
    std::string html = "<h2>Alignment of the epochs</h2><table>";
    for (const auto &row : rows)
        html += "<tr><th>" + row.first + "</th><td>" + row.second + "</td></tr>";
    html += "</table>";
    const std::string svg = coregistration_histogram_svg(f);
    if (!svg.empty())
        html += "<figure>" + svg +
                "<figcaption>The stable ground's differences before and after the second DEM was aligned on the "
                "first, each bin's share of the cells fitted; the dashed lines are the medians.</figcaption>"
                "</figure>";
    return html;
}
