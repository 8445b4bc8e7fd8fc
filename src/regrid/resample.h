// Values of one grid taken at the cells of another: the kernels that resample a grid of
// doubles. They read and write memory only; where the positions come from is the
// caller's (an affine step between two frames of one coordinate system, or positions
// carried through a change of coordinate system).
#ifndef ORMELIX_RESAMPLE_H
#define ORMELIX_RESAMPLE_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>

// A grid of doubles and its counts; line 0 is the top line, no data is NaN.
struct grid_view {
    double *const *cells;
    int32_t lines, columns;
};

// Fills, for one line of the target, the position in the source of each of its `count`
// columns' cell centres: in source cells, 0 being the centre of the source's first
// column (column) and of its top line (line). NaN where a cell has no position. Called
// for different lines from two threads at once.
using source_positions = std::function<void(int32_t line, int32_t count, double *columns, double *lines)>;

// The target lines a kernel fills: [first, end), every line when end is below 0. A target
// worked a band of lines at a time holds only the band's lines; its other lines are
// never read or written, and each line's values are those of the whole fill.
struct target_lines {
    int32_t first = 0, end = -1;
};

// Each target cell the bilinear value of the source's four cell centres nearest to its
// position, as gdalwarp -r bilinear weighs them; NaN where the four are not all in the
// source or one of them has no data. Shared between this thread and a second one.
void bilinear_fill(const grid_view &source, const grid_view &target, const source_positions &positions,
                   target_lines band = {});

// Where bilinear_fill takes a position (u, v) in a source of lines x columns: the top-left
// of its four neighbours and its weights; outside (a NaN position included) it has none.
// A position on the last column or line takes its neighbour before it, weighed 0; one this
// close outside the outer cell centres still has its four.
constexpr double BILINEAR_EDGE_SLACK = 1e-6;
struct bilinear_corner {
    bool inside;
    int32_t line, column;
    double fu, fv;
};
inline bilinear_corner bilinear_corner_at(int32_t lines, int32_t columns, double u, double v)
{
    if (!(u >= -BILINEAR_EDGE_SLACK && v >= -BILINEAR_EDGE_SLACK && u <= columns - 1 + BILINEAR_EDGE_SLACK &&
          v <= lines - 1 + BILINEAR_EDGE_SLACK))
        return {false, 0, 0, 0.0, 0.0};
    const int32_t c = std::clamp(static_cast<int32_t>(std::floor(u)), 0, columns - 2);
    const int32_t l = std::clamp(static_cast<int32_t>(std::floor(v)), 0, lines - 2);
    return {true, l, c, u - c, v - l};
}
// The value from the corner's two lines, top and bottom, each from its left neighbour: a
// NaN neighbour makes it NaN, whatever its weight.
inline double bilinear_weighed(const bilinear_corner &at, const double *top, const double *bottom)
{
    const double fu = at.fu, fv = at.fv;
    return (1.0 - fv) * ((1.0 - fu) * top[0] + fu * top[1]) + fv * ((1.0 - fu) * bottom[0] + fu * bottom[1]);
}

// The affine case of one coordinate system: target column j, line i sits at source
// column column0 + j * column_step, line line0 + i * line_step.
struct affine_positions {
    double column0, column_step;
    double line0, line_step;
};
source_positions affine_source_positions(const affine_positions &affine);
// bilinear_fill at those positions, the same values: each column's neighbours and
// weights found once for all lines.
void bilinear_fill_affine(const grid_view &source, const grid_view &target, const affine_positions &affine,
                          target_lines band = {});

// Each target cell the mean of the source cells inside it, each weighed by the part of
// its area inside; NaN where cells with data cover less than half of the target cell.
// Target column j spans source columns column0 + j * column_step to column0 + (j + 1) *
// column_step, counted from the source's left edge (and the lines from its top edge).
void area_mean_fill(const grid_view &source, const grid_view &target, const affine_positions &spans,
                    target_lines band = {});

// Runs fill(first_line, end_line) over [0, lines), shared between this thread and a
// second one when the work is large enough to pay for it.
void fill_on_two_threads(int32_t lines, int64_t cells_per_line,
                         const std::function<void(int32_t, int32_t)> &fill);
// The same over [band.first, band.end) of lines.
void fill_on_two_threads(target_lines band, int64_t cells_per_line,
                         const std::function<void(int32_t, int32_t)> &fill);

#endif
