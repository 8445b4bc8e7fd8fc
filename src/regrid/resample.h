// Values of one grid taken at the cells of another: the kernels that resample a grid of
// doubles. They read and write memory only; where the positions come from is the
// caller's (an affine step between two frames of one coordinate system, or positions
// carried through a change of coordinate system).
#ifndef ORMELIX_RESAMPLE_H
#define ORMELIX_RESAMPLE_H

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
