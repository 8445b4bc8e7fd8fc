#include "treatment/change_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "console/console.h"
#include "coordinates/coordinate_system.h"
#include "globals/globals.h"
#include "globals/given_answers.h"
#include "regrid/frame_step.h"
#include "text/number_text.h"
#include "treatment/class_budget.h"
#include "treatment/difference_kinds.h"
#include "treatment/run_pass.h"
#include "treatment/file_forms.h"

#ifndef ORMELIX_VERSION
#define ORMELIX_VERSION "?"
#endif

namespace {

// The map at most this many pixels on its long side; its bins at most about this many.
const size_t MAP_LONGEST_SIDE = 1600;
const size_t MOST_BINS = 60;
// The share of the detected area whose magnitudes the colour ramp spans.
const double RAMP_PERCENTILE = 0.98;

const char *const BELOW_COLOUR = "#2166ac";
const char *const ABOVE_COLOUR = "#b2182b";
const char *const RAW_COLOUR = "#d0d0d0";
// The hatching of cells without data, on the legend's swatch.
const char *const NO_DATA_CSS = "repeating-linear-gradient(45deg,#e0e0e0 0 3px,#c4c4c4 3px 4px)";

std::string escape_html(const std::string &text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

// A number for a reader: the decimals given, a true minus sign, no negative zero.
std::string shown(double value, int32_t decimals)
{
    if (std::fabs(value) < 0.5 * std::pow(10.0, -decimals))
        value = 0.0;
    std::string text = text_printf("%.*f", static_cast<int>(decimals), value);
    if (!text.empty() && text[0] == '-')
        text.replace(0, 1, "&#8722;");
    return text;
}

// 1, 2 or 5 times a power of ten, the smallest at least value.
double nice_step(double value)
{
    if (!(value > 0.0) || !std::isfinite(value))
        return 1.0;
    const double power = std::pow(10.0, std::floor(std::log10(value)));
    for (double digit : {1.0, 2.0, 5.0, 10.0})
        if (digit * power >= value * (1.0 - 1e-12))
            return digit * power;
    return 10.0 * power;
}

// The decimals that show multiples of step.
int32_t decimals_of(double step)
{
    return static_cast<int32_t>(std::clamp(-std::floor(std::log10(step) + 1e-9), 0.0, 9.0));
}

// Multiples of step within [low, high].
std::vector<double> ticks(double low, double high, double step)
{
    std::vector<double> at;
    if (!(high > low) || !(step > 0.0))
        return at;
    for (double k = std::ceil(low / step - 1e-9); k * step <= high + step * 1e-9 && at.size() < 100; k++)
        at.push_back(k * step);
    return at;
}

// A unit scaled for large quantities: "m²", "10³ m²", "10⁶ m²".
struct scaled_unit {
    double divisor;
    std::string name;
};
scaled_unit unit_for(double largest, const char *unit)
{
    static const char *const powers[] = {"", "10&#179; ", "10&#8310; ", "10&#8313; ", "10&#185;&#178; "};
    size_t k = 0;
    while (k + 1 < 5 && largest >= 1e5 * std::pow(1000.0, static_cast<double>(k)))
        k++;
    return {std::pow(1000.0, static_cast<double>(k)), powers[k] + std::string(unit)};
}

// The pieces of a drawing, to a hundredth of a pixel.
std::string svg_line(double x1, double y1, double x2, double y2, const char *style = "stroke=\"#222\"")
{
    return text_printf("<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" %s/>", x1, y1, x2, y2, style);
}
std::string svg_rect(double x, double y, double w, double h, const std::string &style)
{
    return text_printf("<rect x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\" %s/>", x, y, w, h, style.c_str());
}
std::string fill(const char *colour) { return std::string("fill=\"") + colour + "\""; }
// anchor: "start", "middle" or "end"; the text is HTML already.
std::string svg_text(double x, double y, const char *anchor, const std::string &text, const char *kind = "")
{
    return text_printf("<text x=\"%.2f\" y=\"%.2f\" text-anchor=\"%s\"%s%s%s>%s</text>", x, y, anchor,
                       *kind ? " class=\"" : "", kind, *kind ? "\"" : "", text.c_str());
}

// Cells without data: a light grey, hatched so that it reads apart from the terrain.
const char NO_DATA_PATTERN[] =
    "<defs><pattern id=\"nodata\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\" "
    "patternTransform=\"rotate(45)\"><rect width=\"6\" height=\"6\" fill=\"#e0e0e0\"/>"
    "<line x1=\"0\" y1=\"0\" x2=\"0\" y2=\"6\" stroke=\"#c4c4c4\" stroke-width=\"2\"/></pattern></defs>";

std::string length_text(double metres)
{
    return metres >= 1000.0 ? text_printf("%g km", metres / 1000.0) : text_printf("%g m", metres);
}

// The map: the picture, its frame with map coordinates, a scale bar and the north.
std::string map_svg(const change_report &r, const std::string &map_base64)
{
    // The map keeps the frame's proportions in its coordinates: cells that are not
    // square are drawn as high as they are, against their width.
    const double aspect =
        cells_square(r.frame.cellsize, cell_height(r.frame)) ? 1.0 : cell_height(r.frame) / r.frame.cellsize;
    const double width = static_cast<double>(r.image_width), height = static_cast<double>(r.image_height) * aspect;
    const double scale = std::min(900.0 / width, 640.0 / height);
    const double w = width * scale, h = height * scale;
    const double left = 78.0, top = 10.0, right = 36.0, bottom = 40.0;
    std::string svg = text_printf("<svg class=\"map\" viewBox=\"0 0 %.2f %.2f\" width=\"%.2f\" "
                                  "xmlns=\"http://www.w3.org/2000/svg\" role=\"img\">",
                                  w + left + right, h + top + bottom, w + left + right);
    svg += NO_DATA_PATTERN + svg_rect(left, top, w, h, "fill=\"url(#nodata)\"");
    // Cells drawn larger than a pixel stay squares.
    svg += text_printf("<image x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\" preserveAspectRatio=\"none\"%s "
                       "href=\"data:image/png;base64,",
                       left, top, w, h, scale >= 1.5 ? " style=\"image-rendering:pixelated\"" : "");
    svg += map_base64 + "\"/>" + svg_rect(left, top, w, h, "fill=\"none\" stroke=\"#222\"");

    // Map coordinates along the bottom and the left edge.
    const frame_geometry &f = r.frame;
    const double x0 = f.xll, x1 = f.xll + f.columns * f.cellsize;
    const double y0 = f.yll, y1 = f.yll + f.lines * cell_height(f);
    const std::string degree = f.degrees ? "&#176;" : "";
    const double x_step = nice_step((x1 - x0) / 5.0), y_step = nice_step((y1 - y0) / 5.0);
    for (double x : ticks(x0, x1, x_step)) {
        const double at = left + (x - x0) / (x1 - x0) * w;
        svg += svg_line(at, top + h, at, top + h + 5) +
               svg_text(at, top + h + 18, "middle", shown(x, decimals_of(x_step)) + degree);
    }
    for (double y : ticks(y0, y1, y_step)) {
        const double at = top + h - (y - y0) / (y1 - y0) * h;
        svg += svg_line(left - 5, at, left, at) +
               svg_text(left - 8, at + 4, "end", shown(y, decimals_of(y_step)) + degree);
    }

    // A scale bar of at most a quarter of the map's width, in two halves.
    const double ground_width = (x1 - x0) * r.metres_per_unit;
    if (ground_width > 0.0) {
        double metres = nice_step(ground_width / 4.0);
        while (metres > ground_width / 4.0)
            metres = nice_step(metres / 2.6);
        const double bar = metres / ground_width * w;
        const double bx = left + 14, by = top + h - 16;
        svg += svg_rect(bx - 8, by - 17, bar + 40, 28, "fill=\"#fff\" opacity=\"0.85\"") +
               svg_rect(bx, by, bar / 2, 5, "fill=\"#222\" stroke=\"#222\"") +
               svg_rect(bx + bar / 2, by, bar / 2, 5, "fill=\"#fff\" stroke=\"#222\"") +
               svg_text(bx, by - 4, "middle", "0", "small") +
               svg_text(bx + bar, by - 4, "middle", length_text(metres), "small");
    }
    // North is up: the grids' lines run west to east, the first at the top.
    const double nx = left + w - 22, ny = top + 12;
    svg += svg_rect(nx - 10, ny - 4, 20, 38, "fill=\"#fff\" opacity=\"0.85\"") +
           text_printf("<path d=\"M %.2f %.2f l 7 18 l -7 -5 l -7 5 z\" fill=\"#222\"/>", nx, ny) +
           svg_text(nx, ny + 31, "middle", "N", "small");
    return svg + "</svg>";
}

// The colour ramp as the map uses it, with its ends at the bound.
std::string legend_svg(double bound)
{
    std::string svg = "<svg class=\"legend\" viewBox=\"0 0 560 62\" width=\"560\" "
                      "xmlns=\"http://www.w3.org/2000/svg\"><defs><linearGradient id=\"ramp\">";
    for (int k = 0; k <= 10; k++) {
        const rgb c = ramp_colour(k / 5.0 - 1.0);
        svg += text_printf("<stop offset=\"%d%%\" stop-color=\"#%02x%02x%02x\"/>", k * 10, c.r, c.g, c.b);
    }
    svg += "</linearGradient></defs>" + svg_rect(40, 6, 480, 16, "fill=\"url(#ramp)\" stroke=\"#222\"");
    const int32_t decimals = std::clamp(static_cast<int32_t>(2 - std::floor(std::log10(bound))), 0, 6);
    for (int k = 0; k <= 4; k++)
        svg += svg_line(40 + 120 * k, 22, 40 + 120 * k, 27) +
               svg_text(40 + 120 * k, 39, "middle", shown(bound * (k - 2) / 2.0, decimals));
    svg += svg_text(40, 57, "start", "first below second", "small") +
           svg_text(280, 57, "middle", "change, first &#8722; second (m)", "small") +
           svg_text(520, 57, "end", "first above second", "small");
    return svg + "</svg>";
}

// One histogram: area or volume per bin, raw in grey, detected in colour over it.
std::string histogram_svg(const change_distribution &d, double limit, const std::string &test, bool volumes)
{
    double largest = 0.0, largest_detected = 0.0;
    for (const distribution_bin &b : d.bins) {
        largest = std::max(largest, volumes ? b.raw_volume : b.raw_area);
        largest_detected = std::max(largest_detected, volumes ? b.detected_volume : b.detected_area);
    }
    // The many small changes under the limit would flatten every detected bar: the axis
    // then ends above the detected bars and the grey ones are cut there.
    const bool cut = largest_detected > 0.0 && largest > 4.0 * largest_detected;
    // The notes (the cut, the test) each take a line of their own under the key.
    const double note_lines = (cut ? 1.0 : 0.0) + (test.empty() ? 0.0 : 1.0);
    const double W = 470, H = 310 + 14 * note_lines, left = 62, right = 14, top = 44 + 14 * note_lines,
                 bottom = 40;
    const double pw = W - left - right, ph = H - top - bottom;
    const double axis_top = cut ? 1.15 * largest_detected : largest;
    const scaled_unit unit = unit_for(axis_top, volumes ? "m&#179;" : "m&#178;");
    const double y_step = nice_step(axis_top / unit.divisor / 4.0);
    const double y_top = std::max(y_step, std::ceil(axis_top / unit.divisor / y_step - 1e-9) * y_step);
    const double lo = d.bins.front().low, hi = d.bins.back().high;
    auto px = [&](double x) { return left + (x - lo) / (hi - lo) * pw; };
    auto py = [&](double y) { return top + ph - std::min(y / unit.divisor, y_top) / y_top * ph; };

    std::string svg = text_printf("<svg class=\"chart\" viewBox=\"0 0 %g %g\" width=\"%g\" "
                                  "xmlns=\"http://www.w3.org/2000/svg\">",
                                  W, H, W);
    for (double y : ticks(0.0, y_top, y_step))
        svg += svg_line(left, py(y * unit.divisor), left + pw, py(y * unit.divisor), "stroke=\"#e4e4e4\"") +
               svg_text(left - 6, py(y * unit.divisor) + 4, "end", shown(y, decimals_of(y_step)));
    for (const distribution_bin &b : d.bins) {
        const double raw = volumes ? b.raw_volume : b.raw_area;
        const double detected = volumes ? b.detected_volume : b.detected_area;
        const double x = px(b.low), bw = std::max(px(b.high) - px(b.low) - 0.6, 0.4);
        if (raw > 0.0)
            svg += svg_rect(x, py(raw), bw, py(0) - py(raw), fill(RAW_COLOUR));
        if (raw / unit.divisor > y_top)
            svg += text_printf("<path d=\"M %.2f %.2f l %.2f -4\" stroke=\"#fff\" stroke-width=\"2\"/>", x, top + 8,
                               bw);
        if (detected > 0.0)
            svg += svg_rect(x, py(detected), bw, py(0) - py(detected),
                            fill(b.high <= 0.0 ? BELOW_COLOUR : ABOVE_COLOUR));
    }
    if (lo < 0.0 && hi > 0.0)
        svg += svg_line(px(0), top, px(0), top + ph, "stroke=\"#222\" stroke-width=\"0.8\"");
    for (double x : {-limit, limit})
        if (limit > 0.0 && x > lo && x < hi)
            svg += svg_line(px(x), top - 4, px(x), top + ph, "stroke=\"#222\" stroke-dasharray=\"4 3\"");
    svg += svg_line(left, top + ph, left + pw, top + ph) + svg_line(left, top, left, top + ph);
    const double x_step = nice_step((hi - lo) / 6.0);
    for (double x : ticks(lo, hi, x_step))
        svg += svg_line(px(x), top + ph, px(x), top + ph + 4) +
               svg_text(px(x), top + ph + 17, "middle", shown(x, decimals_of(x_step)));
    svg += svg_text(left + pw / 2, H - 6, "middle", "change, first &#8722; second (m)");
    svg += svg_text(left, 14, "start",
                    std::string(volumes ? "Volume" : "Area") + " (" + unit.name + ") per bin of " +
                        shown(d.width, d.decimals) + " m",
                    "title");
    double note_y = 48;
    if (!test.empty()) {
        svg += svg_text(left, note_y, "start", test, "small");
        note_y += 14;
    }
    if (cut)
        svg += svg_text(left, note_y, "start",
                        "grey bars cut; the largest " + shown(largest / unit.divisor, decimals_of(y_step / 10)) + " " +
                            unit.name,
                        "small");
    // The key, above the plot.
    const char *const names[] = {"raw", "detected, first below", "detected, first above"};
    const char *const fills[] = {RAW_COLOUR, BELOW_COLOUR, ABOVE_COLOUR};
    const double key_x[] = {left, left + 60, left + 210};
    for (int k = 0; k < 3; k++)
        svg += svg_rect(key_x[k], 22, 10, 10, fill(fills[k])) +
               svg_text(key_x[k] + 14, 31, "start", names[k], "small");
    return svg + "</svg>";
}

std::string table(const std::vector<budget_line> &rows, bool scaled = false)
{
    std::string html = "<table>";
    for (const budget_line &row : rows)
        html += "<tr><th>" + escape_html(row.label) + "</th><td>" +
                escape_html(scaled ? report_value_text(row) : row.value) + "</td></tr>";
    return html + "</table>";
}

const char STYLE[] =
    "body{margin:0;background:#fff;color:#1a1a1a;font:14px/1.45 'DejaVu Sans','Helvetica Neue',Arial,"
    "sans-serif}"
    "main{max-width:1000px;margin:0 auto;padding:24px 28px 36px}"
    "h1{font-size:23px;font-weight:600;margin:0 0 2px}"
    "h2{font-size:16px;font-weight:600;margin:28px 0 8px;border-bottom:1px solid #bbb;padding-bottom:3px}"
    ".path{font-family:'DejaVu Sans Mono',Consolas,monospace;font-size:13px;word-break:break-all}"
    ".sub{color:#555;margin:0}"
    "svg{max-width:100%;height:auto;display:block}"
    "svg text{font:12px 'DejaVu Sans','Helvetica Neue',Arial,sans-serif;fill:#1a1a1a}"
    "svg text.small{font-size:11px}svg text.title{font-weight:600}"
    ".legend{margin:6px 0 0 70px}"
    ".keys{margin:6px 0 0 110px;padding:0;list-style:none;font-size:12px;color:#333}"
    ".keys li{display:inline-block;margin-right:22px}"
    ".swatch{display:inline-block;width:12px;height:12px;border:1px solid #888;vertical-align:-2px;"
    "margin-right:5px}"
    ".charts{display:flex;flex-wrap:wrap;gap:12px 20px}"
    "figure{margin:0}figcaption{font-size:13px;color:#333;margin-top:8px;max-width:940px}"
    ".tables{display:flex;flex-wrap:wrap;gap:0 40px}.tables>div{flex:1 1 420px}"
    "table{border-collapse:collapse;border-top:1.5px solid #222;border-bottom:1.5px solid #222;width:100%;"
    "font-size:13px}"
    "th,td{text-align:left;padding:4px 10px 4px 0;vertical-align:top;border-bottom:1px solid #e6e6e6}"
    "th{font-weight:normal;color:#444;white-space:nowrap}td{font-variant-numeric:tabular-nums;"
    "overflow-wrap:break-word}";

} // namespace

change_distribution distribution_of(const change_histogram &h, size_t most_bins)
{
    change_distribution d;
    size_t top_bin[2] = {0, 0};
    bool any[2] = {false, false};
    for (size_t side = 0; side < 2; side++)
        for (size_t k = 0; k < CHANGE_BINS; k++)
            for (bool detected : {false, true}) {
                const size_t slot = histogram_slot(side, detected, k);
                if (h.area[slot] > 0.0 || h.volume[slot] > 0.0) {
                    any[side] = true;
                    top_bin[side] = k;
                }
            }
    // The narrowest width of 1, 2 or 5 times a power of ten that is a whole number of
    // fine bins and gives at most about most_bins bins.
    const double wanted = (h.largest[0] + h.largest[1]) / static_cast<double>(most_bins);
    int32_t digit = h.width_digit, exponent = h.width_exponent;
    size_t group = 1;
    for (int32_t e = h.width_exponent; e < h.width_exponent + 8; e++) {
        bool found = false;
        for (int32_t candidate : {1, 2, 5}) {
            const double times = candidate * std::pow(10.0, e - h.width_exponent);
            const double whole = times / h.width_digit;
            if (whole < 1.0 || whole != std::floor(whole))
                continue;
            digit = candidate;
            exponent = e;
            group = static_cast<size_t>(whole);
            if (candidate * std::pow(10.0, e) >= wanted * (1.0 - 1e-12)) {
                found = true;
                break;
            }
        }
        if (found)
            break;
    }
    d.width = digit * std::pow(10.0, exponent);
    d.decimals = std::max(0, -exponent);
    for (int side : {FIRST_BELOW, FIRST_ABOVE}) {
        if (!any[side])
            continue;
        const size_t count = top_bin[side] / group + 1;
        for (size_t n = 0; n < count; n++) {
            // The lowest change first: first below second from its largest magnitude.
            const size_t J = side == FIRST_BELOW ? count - 1 - n : n;
            distribution_bin b = {0, 0, 0, 0, 0, 0};
            b.low = side == FIRST_BELOW ? -(J + 1.0) * d.width : J * d.width;
            b.high = b.low + d.width;
            for (size_t k = J * group; k < (J + 1) * group && k < CHANGE_BINS; k++) {
                const size_t detected = histogram_slot(side, true, k), other = histogram_slot(side, false, k);
                b.detected_area += h.area[detected];
                b.detected_volume += h.volume[detected];
                b.raw_area += h.area[detected] + h.area[other];
                b.raw_volume += h.volume[detected] + h.volume[other];
            }
            d.bins.push_back(b);
        }
    }
    return d;
}

std::string base64(const std::vector<unsigned char> &bytes)
{
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text((bytes.size() + 2) / 3 * 4, '=');
    size_t out = 0;
    for (size_t k = 0; k < bytes.size(); k += 3) {
        const size_t left = bytes.size() - k;
        const uint32_t group = (uint32_t(bytes[k]) << 16) | (left > 1 ? uint32_t(bytes[k + 1]) << 8 : 0) |
                               (left > 2 ? uint32_t(bytes[k + 2]) : 0);
        text[out] = digits[group >> 18];
        text[out + 1] = digits[(group >> 12) & 63];
        if (left > 1)
            text[out + 2] = digits[(group >> 6) & 63];
        if (left > 2)
            text[out + 3] = digits[group & 63];
        out += 4;
    }
    return text;
}

std::string change_report_html(const change_report &r, const change_distribution &d, const std::string &map_base64)
{
    const std::string limit = text_printf("%g m", r.limit);
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                       "<meta name=\"viewport\" content=\"width=device-width\">"
                       "<title>Change of the ground: " +
                       escape_html(r.output_path) + "</title><style>" + STYLE + "</style></head><body><main>";
    html += "<h1>Change of the ground between two surveys</h1><p class=\"sub\">First &#8722; second, "
            "written to <span class=\"path\">" +
            escape_html(r.output_path) + "</span></p>";

    html += "<h2>Map of the change</h2><figure>";
    if (!map_base64.empty())
        html += map_svg(r, map_base64) + legend_svg(r.bound);
    else
        html += "<p>The map could not be drawn: the machine had no memory left for its picture.</p>";
    html += text_printf("<ul class=\"keys\"><li><span class=\"swatch\" style=\"background:%s\"></span>no data</li>",
                        NO_DATA_CSS);
    if (!r.test.empty())
        html += "<li><span class=\"swatch\" style=\"background:#fff\"></span>not detected (detected " + r.test +
                "): no change</li>";
    else if (r.limit > 0.0)
        html += "<li><span class=\"swatch\" style=\"background:#fff\"></span>under the limit of " + limit +
                ": no change</li>";
    html += "</ul><figcaption><b>Figure 1.</b> The change of the ground, the first grid &#8722; the second, "
            "over a hillshade of the first (sun at 315&#176;, 45&#176; high" +
            std::string(r.frame.degrees ? ", slopes from distances on the WGS 84 ellipsoid" : "") +
            "). Red where the first lies above the second, blue where it lies below; the colours reach their "
            "ends at &#177;" +
            shown(r.bound, 3) + " m, the magnitude that 98&#160;% of the detected area lies under. " +
            (!r.test.empty() ? "Changes not detected (detected: " + r.test + ") are shown as none. "
             : r.limit > 0.0 ? "Changes smaller than " + limit + " are shown as none. "
                             : std::string()) +
            (r.factor > 1 ? "Each pixel is the mean of the " + std::to_string(r.factor) + " &#215; " +
                                std::to_string(r.factor) + " cells it covers."
                          : std::string("Each pixel is one cell.")) +
            "</figcaption></figure>";

    html += "<h2>Distribution of the change</h2><figure><div class=\"charts\">";
    if (!d.bins.empty())
        html += histogram_svg(d, r.limit, r.test_short, false) + histogram_svg(d, r.limit, r.test_short, true);
    html += "</div><figcaption><b>Figure 2.</b> Elevation change distribution: the ground area and the volume "
            "of the change in bins of " +
            shown(d.width, d.decimals) + " m, every cell with data in grey, the detected cells in colour" +
            (!r.test.empty() ? " (detected " + r.test + (r.limit > 0.0 ? ", dashed)" : ")")
             : r.limit > 0.0 ? " (magnitude of at least " + limit + ", dashed)"
                             : std::string()) +
            ". Areas are on the ground; volumes are magnitudes times areas.</figcaption></figure>";

    html += "<div class=\"tables\"><div><h2>Budget</h2>" + table(r.budget, true) + "</div><div><h2>Inputs</h2>" +
            table(r.inputs) + "</div></div>";
    if (!r.classes.empty()) {
        html += "<h2>Budget per class</h2><table class=\"classes\">";
        for (size_t k = 0; k < r.classes.size(); k++) {
            const char *cell = k == 0 ? "th" : "td";
            html += "<tr>";
            for (const std::string &value : r.classes[k])
                html += std::string("<") + cell + ">" + escape_html(value) + "</" + cell + ">";
            html += "</tr>";
        }
        html += "</table>";
    }
    html += r.sections;
    html += "</main></body></html>\n";
    return html;
}

std::string change_report_path()
{
    return nomstem3 + "_report.html";
}

namespace {

const char *form_name(int32_t form)
{
    return form >= 0 && form < FILE_FORM_COUNT ? FILE_FORMS[form].menu_name : "?";
}

std::string kind_name(int32_t kind)
{
    const char *name = difference_kind_name(kind);
    return *name != '\0' ? std::string(name) : text_printf("kind %d", kind);
}

std::string now_text()
{
    const std::time_t now = std::time(nullptr);
    const std::tm *local = std::localtime(&now);
    char text[64] = "";
    if (local != nullptr)
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", local);
    return text;
}

} // namespace

// The test at a confidence level as the map's legend and the captions state it (long)
// and as the charts do: the band of +- t sigma when the errors are uniform, the level
// and the error grids otherwise.
std::string report_test_text(const change_test &test, bool long_form)
{
    if (test.basis != TEST_CONFIDENCE)
        return "";
    const std::string level = text_printf("%.10g&#160;%%", test.confidence_pct);
    if (!errors_by_cell(test)) {
        const std::string band = "|change| &#8805; " + shown(uniform_detection_limit(test), 3) + " m";
        if (!long_form)
            return level + ": " + band + " (&#177;t&#183;&#963;, dashed)";
        return "at " + level + " confidence, " + band + " = t&#183;&#963; = " + shown(test.t, 6) + " &#215; " +
               shown(uniform_change_sigma(test), 6) + " m";
    }
    const auto error_of = [](double sigma, const std::string &grid) {
        if (grid.empty())
            return text_printf("%g m", sigma);
        const size_t slash = grid.find_last_of("\\/");
        return escape_html(grid.substr(slash == std::string::npos ? 0 : slash + 1));
    };
    const std::string errors =
        error_of(test.sigma_first, test.grid_first) + " and " + error_of(test.sigma_second, test.grid_second);
    if (!long_form)
        return level + ": |change| &#8805; " + shown(test.t, 3) + "&#183;&#963; (" + errors + ")";
    return "at " + level + " confidence, |change| &#8805; t&#183;&#963; = " + shown(test.t, 6) +
           " &#215; &#963;, &#963; of each cell from the errors " + errors;
}

double run_report_limit()
{
    return uniform_detection_limit(run_change_test());
}

change_gathering gather_run_change(const std::vector<double> &line_areas, const line_work &before_line)
{
    return gather_change(dtab_dem1, dtab_dem2, nb_lig, nb_col, line_areas, run_report_limit(), MAP_LONGEST_SIDE,
                         before_line, run_cell_errors());
}

std::shared_ptr<change_gatherer> start_run_gathering(const std::vector<double> &line_areas,
                                                     const line_work &before_line)
{
    return start_gathering(dtab_dem1, dtab_dem2, nb_lig, nb_col, line_areas, run_report_limit(), MAP_LONGEST_SIDE,
                           before_line, run_cell_errors());
}

change_picture draw_change_map(change_gathering *gathering, const frame_geometry &frame)
{
    change_gathering &g = *gathering;
    change_picture picture;
    picture.bound = detected_percentile(g.histogram, RAMP_PERCENTILE);
    if (!(picture.bound > 0.0))
        picture.bound = 1.0;
    picture.factor = g.pixels.factor;
    picture.width = g.pixels.columns;
    picture.height = g.pixels.rows;
    // Each picture of the map freed as soon as the next is made from it.
    std::vector<uint8_t> light = hillshade(g.pixels.elevation, g.pixels.rows, g.pixels.columns,
                                           ground_spacing(frame, g.pixels.factor, g.pixels.rows));
    std::vector<float>().swap(g.pixels.elevation);
    std::vector<unsigned char> image = map_colours(g.pixels, light, picture.bound);
    std::vector<float>().swap(g.pixels.change);
    std::vector<uint8_t>().swap(light);
    const std::vector<unsigned char> png = encode_png_rgb(picture.width, picture.height, image.data(),
                                                          &NO_DATA_COLOUR);
    std::vector<unsigned char>().swap(image);
    picture.png_base64 = base64(png);
    return picture;
}

std::string run_change_report_html(const change_gathering &g, const change_picture &picture,
                                   const std::vector<budget_line> &budget, const std::string &sections)
{
    change_report r;
    r.frame = run_frame_geometry();
    r.output_path = nomim3;
    r.limit = run_report_limit();
    r.test = report_test_text(run_change_test(), true);
    r.test_short = report_test_text(run_change_test(), false);
    r.bound = picture.bound;
    r.factor = picture.factor;
    r.image_width = picture.width;
    r.image_height = picture.height;
    r.metres_per_unit = ground_metres_per_unit(r.frame);
    r.budget = budget;
    r.sections = sections;
    r.classes = run_class_table();
    const bool has_corner = Coord_UTM_dem1_OK != 0 || Coord_UTM_dem2_OK != 0;
    // Each grid as read; the rows after the output's are the result's frame.
    const run_frames &frames = run_frame_record();
    r.inputs = {
        {"first grid", nomim1 + " (" + form_name(format_dem1) + ")"},
        {"second grid", nomim2 + " (" + form_name(format_dem2) + ")"},
        {"first grid's own frame", grid_frame_text(frames.first)},
        {"second grid's own frame", grid_frame_text(frames.second)},
        {"brought onto one frame", frames.planned ? frame_step_report_text(frames.plan)
                                                  : std::string("no: the grids are differenced cell by cell")},
        {"first grid's coordinate system", crs_display_name(geokeys_dem1.crs)},
        {"second grid's coordinate system", crs_display_name(geokeys_dem2.crs)},
        {"output", nomim3 + " (" + form_name(format_out) + ")"},
        {"frame", text_printf("%d lines, %d columns", nb_lig, nb_col)},
        {"cell size", exact_real_text(r.frame.cellsize) +
                          (cells_square(r.frame.cellsize, cell_height(r.frame))
                               ? ""
                               : " by " + exact_real_text(cell_height(r.frame))) +
                          (r.frame.degrees ? " degrees (areas on the WGS 84 ellipsoid)" : " m")},
        {"lower-left corner", exact_real_text(r.frame.xll) + " " + exact_real_text(r.frame.yll) +
                                  (has_corner ? "" : " (raster pairs: no map coordinates of their own)")},
        {"kind of difference", kind_name(type_treat)},
        {"elimination limit", basis == TEST_CONFIDENCE
                                  ? text_printf("none: the change at %.10g %% confidence, from each DEM's error",
                                                confidence_pct)
                                  : r.limit > 0.0 ? text_printf("%lf m", r.limit) : std::string("none")},
        {"made", now_text() + ", ORMELIX " ORMELIX_VERSION},
    };
    return change_report_html(r, distribution_of(g.histogram, MOST_BINS), picture.png_base64);
}

void write_change_report(const change_gathering &gathering, const change_picture &picture,
                         const std::vector<budget_line> &budget, const std::string &sections)
{
    const std::string html = run_change_report_html(gathering, picture, budget, sections);
    FILE *fp = create_output_file(change_report_path(), "wb");
    if (std::fwrite(html.data(), 1, html.size(), fp) != html.size())
        stop_output_failed(fp);
    finish_output(fp);
}

void print_change_report_line()
{
    if (!CHANGE_REPORTS || !answers.report)
        return;
    std::printf("\n\tREPORT OF THE CHANGE : %s\n", change_report_path().c_str());
}
