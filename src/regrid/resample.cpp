#include "regrid/resample.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "platform/worker_thread.h"

namespace {

const double NO_DATA = std::numeric_limits<double>::quiet_NaN();
const double EDGE_SLACK = BILINEAR_EDGE_SLACK;
// Below this many cells a second thread costs more than it saves.
const int64_t TWO_THREAD_CELLS = 1 << 16;

inline double bilinear_at(const grid_view &s, double u, double v)
{
    const bilinear_corner at = bilinear_corner_at(s.lines, s.columns, u, v);
    if (!at.inside)
        return NO_DATA;
    return bilinear_weighed(at, s.cells[at.line] + at.column, s.cells[at.line + 1] + at.column);
}

// The source cells a target cell's span [start, start + step) overlaps, with the part
// of each inside it: one list per target cell, kept together.
struct span_weights {
    std::vector<int32_t> first;   // per target cell, its first entry
    std::vector<int32_t> index;   // source cell of each entry
    std::vector<double> weight;   // its overlap, in source cells
};

span_weights spans_of(int32_t targets, int32_t sources, double start, double step)
{
    span_weights w;
    w.first.reserve(static_cast<size_t>(targets) + 1);
    for (int32_t t = 0; t < targets; t++) {
        w.first.push_back(static_cast<int32_t>(w.index.size()));
        const double a = start + t * step, b = a + step;
        const double lo = std::max(0.0, std::floor(a)), hi = std::min(static_cast<double>(sources), std::ceil(b));
        for (double k = lo; k < hi; k++) {
            const double part = std::min(b, k + 1) - std::max(a, k);
            if (part > 0) {
                w.index.push_back(static_cast<int32_t>(k));
                w.weight.push_back(part);
            }
        }
    }
    w.first.push_back(static_cast<int32_t>(w.index.size()));
    return w;
}

target_lines lines_of(const grid_view &target, target_lines band)
{
    return band.end < 0 ? target_lines{0, target.lines} : band;
}

} // namespace

void fill_on_two_threads(int32_t lines, int64_t cells_per_line, const std::function<void(int32_t, int32_t)> &fill)
{
    fill_on_two_threads(target_lines{0, lines}, cells_per_line, fill);
}

void fill_on_two_threads(target_lines band, int64_t cells_per_line, const std::function<void(int32_t, int32_t)> &fill)
{
    const int32_t lines = band.end - band.first;
    worker_thread worker;
    if (lines < 2 || static_cast<int64_t>(lines) * cells_per_line < TWO_THREAD_CELLS || !worker_start(&worker)) {
        fill(band.first, band.end);
        return;
    }
    const int32_t half = band.first + lines / 2;
    worker_post(&worker, [&] { fill(half, band.end); });
    fill(band.first, half);
    worker_wait(&worker);
    worker_stop(&worker);
}

void bilinear_fill(const grid_view &source, const grid_view &target, const source_positions &positions,
                   target_lines band)
{
    const bool four = source.lines >= 2 && source.columns >= 2;
    fill_on_two_threads(lines_of(target, band), target.columns, [&](int32_t first, int32_t end) {
        std::vector<double> u(static_cast<size_t>(target.columns)), v(static_cast<size_t>(target.columns));
        for (int32_t i = first; i < end; i++) {
            double *out = target.cells[i];
            if (!four) {
                std::fill(out, out + target.columns, NO_DATA);
                continue;
            }
            positions(i, target.columns, u.data(), v.data());
            for (int32_t j = 0; j < target.columns; j++)
                out[j] = bilinear_at(source, u[static_cast<size_t>(j)], v[static_cast<size_t>(j)]);
        }
    });
}

source_positions affine_source_positions(const affine_positions &a)
{
    return [a](int32_t line, int32_t count, double *columns, double *lines) {
        // From each cell's own count, not by adding steps: no drift along a long line.
        const double v = a.line0 + line * a.line_step;
        for (int32_t j = 0; j < count; j++) {
            columns[j] = a.column0 + j * a.column_step;
            lines[j] = v;
        }
    };
}

void bilinear_fill_affine(const grid_view &source, const grid_view &target, const affine_positions &a,
                          target_lines band)
{
    if (source.lines < 2 || source.columns < 2) {
        bilinear_fill(source, target, affine_source_positions(a), band);
        return;
    }
    // Each target column's left neighbour and weight, as bilinear_at finds them; -1: none.
    const size_t columns = static_cast<size_t>(target.columns);
    std::vector<int32_t> left(columns);
    std::vector<double> right_weight(columns);
    for (size_t j = 0; j < columns; j++) {
        const double u = a.column0 + static_cast<double>(j) * a.column_step;
        left[j] = -1;
        if (u >= -EDGE_SLACK && u <= source.columns - 1 + EDGE_SLACK) {
            left[j] = std::clamp(static_cast<int32_t>(std::floor(u)), 0, source.columns - 2);
            right_weight[j] = u - left[j];
        }
    }
    // The columns with neighbours are a run; with one cell size, the same weight on each
    // and the neighbours side by side.
    size_t run = 0, run_end = columns;
    while (run < columns && left[run] < 0)
        run++;
    while (run_end > run && left[run_end - 1] < 0)
        run_end--;
    bool one_weight = run < run_end;
    for (size_t j = run; one_weight && j < run_end; j++)
        one_weight = left[j] == left[run] + static_cast<int32_t>(j - run) && right_weight[j] == right_weight[run];
    fill_on_two_threads(lines_of(target, band), target.columns, [&](int32_t first, int32_t end) {
        for (int32_t i = first; i < end; i++) {
            double *out = target.cells[i];
            const double v = a.line0 + i * a.line_step;
            if (!(v >= -EDGE_SLACK && v <= source.lines - 1 + EDGE_SLACK)) {
                std::fill(out, out + target.columns, NO_DATA);
                continue;
            }
            const int32_t l = std::clamp(static_cast<int32_t>(std::floor(v)), 0, source.lines - 2);
            const double fv = v - l;
            const double *top = source.cells[l], *bottom = source.cells[l + 1];
            if (!one_weight) {
                for (size_t j = 0; j < columns; j++) {
                    const int32_t c = left[j];
                    const double fu = right_weight[j];
                    out[j] = c < 0 ? NO_DATA
                                   : (1.0 - fv) * ((1.0 - fu) * top[c] + fu * top[c + 1]) +
                                         fv * ((1.0 - fu) * bottom[c] + fu * bottom[c + 1]);
                }
                continue;
            }
            std::fill(out, out + run, NO_DATA);
            std::fill(out + run_end, out + columns, NO_DATA);
            const double fu = right_weight[run];
            const double w00 = (1.0 - fv) * (1.0 - fu), w01 = (1.0 - fv) * fu, w10 = fv * (1.0 - fu), w11 = fv * fu;
            const double *t = top + left[run], *b = bottom + left[run];
            double *o = out + run;
            const size_t n = run_end - run;
#pragma omp simd
            for (size_t j = 0; j < n; j++)
                o[j] = w00 * t[j] + w01 * t[j + 1] + w10 * b[j] + w11 * b[j + 1];
        }
    });
}

void area_mean_fill(const grid_view &source, const grid_view &target, const affine_positions &a, target_lines band)
{
    const span_weights across = spans_of(target.columns, source.columns, a.column0, a.column_step);
    const span_weights down = spans_of(target.lines, source.lines, a.line0, a.line_step);
    const double half_cell = 0.5 * a.column_step * a.line_step;
    fill_on_two_threads(lines_of(target, band), source.columns, [&](int32_t first, int32_t end) {
        std::vector<double> sum(static_cast<size_t>(target.columns)), covered(static_cast<size_t>(target.columns));
        for (int32_t i = first; i < end; i++) {
            std::fill(sum.begin(), sum.end(), 0.0);
            std::fill(covered.begin(), covered.end(), 0.0);
            for (int32_t e = down.first[static_cast<size_t>(i)]; e < down.first[static_cast<size_t>(i) + 1]; e++) {
                const double *line = source.cells[down.index[static_cast<size_t>(e)]];
                const double wl = down.weight[static_cast<size_t>(e)];
                for (int32_t j = 0; j < target.columns; j++) {
                    double s = 0.0, c = 0.0;
                    for (int32_t k = across.first[static_cast<size_t>(j)]; k < across.first[static_cast<size_t>(j) + 1]; k++) {
                        const double value = line[across.index[static_cast<size_t>(k)]];
                        if (value == value) {
                            s += across.weight[static_cast<size_t>(k)] * value;
                            c += across.weight[static_cast<size_t>(k)];
                        }
                    }
                    sum[static_cast<size_t>(j)] += wl * s;
                    covered[static_cast<size_t>(j)] += wl * c;
                }
            }
            double *out = target.cells[i];
            for (int32_t j = 0; j < target.columns; j++) {
                const double c = covered[static_cast<size_t>(j)];
                out[j] = c > 0.0 && c >= half_cell ? sum[static_cast<size_t>(j)] / c : NO_DATA;
            }
        }
    });
}
