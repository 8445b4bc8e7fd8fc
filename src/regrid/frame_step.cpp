#include "regrid/frame_step.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "console/console.h"
#include "globals/globals.h"
#include "gridfiles/raster_pair.h"
#include "nrutil.h"
#include "regrid/band_lines.h"
#include "text/number_text.h"

namespace {

// A first cell's centre this close outside the second's extent is still inside it.
const double CENTRE_SLACK = 1e-6;

bool whole_cells(double offset)
{
    return std::fabs(offset - std::round(offset)) <= CORNER_TOLERANCE;
}

frame_plan apart()
{
    frame_plan plan;
    plan.kind = frames_apart;
    return plan;
}

frame_plan common_part(const grid_frame &a, const grid_frame &b, double column_offset, double bottom_offset)
{
    // The second's line j is the first's line j - line_offset.
    const double line_offset = bottom_offset + b.lines - a.lines;
    const double c0 = std::max(0.0, column_offset), c1 = std::min<double>(a.columns, column_offset + b.columns);
    const double l0 = std::max(0.0, -line_offset), l1 = std::min<double>(a.lines, b.lines - line_offset);
    if (!(c1 > c0 && l1 > l0))
        return apart();
    frame_plan plan;
    if (column_offset == 0 && line_offset == 0 && a.lines == b.lines && a.columns == b.columns) {
        plan.kind = frames_same;
        plan.lines = a.lines;
        plan.columns = a.columns;
        plan.xll = a.xll;
        plan.yll = a.yll;
        return plan;
    }
    plan.kind = frames_common_part;
    plan.first_column = static_cast<int32_t>(c0);
    plan.first_line = static_cast<int32_t>(l0);
    plan.columns = static_cast<int32_t>(c1 - c0);
    plan.lines = static_cast<int32_t>(l1 - l0);
    plan.second_column = static_cast<int32_t>(c0 - column_offset);
    plan.second_line = static_cast<int32_t>(l0 + line_offset);
    plan.xll = a.xll + c0 * a.dx;
    plan.yll = a.yll + (a.lines - l1) * a.dy;
    return plan;
}

frame_plan out_of_step(const grid_frame &a, const grid_frame &b)
{
    const double top_a = a.yll + a.lines * a.dy, top_b = b.yll + b.lines * b.dy;
    const double right_b = b.xll + b.columns * b.dx;
    // The first's cells whose centres lie in the second's extent, edges included.
    const double c0 = std::max(0.0, std::ceil((b.xll - a.xll) / a.dx - 0.5 - CENTRE_SLACK));
    const double c1 = std::min(a.columns - 1.0, std::floor((right_b - a.xll) / a.dx - 0.5 + CENTRE_SLACK));
    const double l0 = std::max(0.0, std::ceil((top_a - top_b) / a.dy - 0.5 - CENTRE_SLACK));
    const double l1 = std::min(a.lines - 1.0, std::floor((top_a - b.yll) / a.dy - 0.5 + CENTRE_SLACK));
    if (!(c1 >= c0 && l1 >= l0))
        return apart();
    frame_plan plan;
    plan.first_column = static_cast<int32_t>(c0);
    plan.first_line = static_cast<int32_t>(l0);
    plan.columns = static_cast<int32_t>(c1 - c0) + 1;
    plan.lines = static_cast<int32_t>(l1 - l0) + 1;
    plan.xll = a.xll + c0 * a.dx;
    plan.yll = a.yll + (a.lines - 1 - l1) * a.dy;
    const double fine = std::min(a.dx / b.dx, a.dy / b.dy);
    plan.kind = fine >= 2.0 * (1.0 - CELL_SIZE_TOLERANCE) ? frames_area_mean : frames_bilinear;
    const double column_step = a.dx / b.dx, line_step = a.dy / b.dy;
    // From the second's left and top edges, in its cells.
    const double left = (a.xll + c0 * a.dx - b.xll) / b.dx;
    const double top = (top_b - top_a + l0 * a.dy) / b.dy;
    if (plan.kind == frames_area_mean)
        plan.positions = {left, column_step, top, line_step};
    else  // cell centres, from the centre of the second's first cell
        plan.positions = {left + column_step / 2 - 0.5, column_step, top + line_step / 2 - 0.5, line_step};
    return plan;
}

std::string cells_text(const char *which, int32_t first_line, int32_t first_column, int32_t lines, int32_t columns)
{
    return text_printf("lines %d to %d and columns %d to %d of the %s", first_line + 1, first_line + lines,
                       first_column + 1, first_column + columns, which);
}

run_frames record;
// The grids as read whose lines a cut shares: kept, as the run's grids are, until it ends
// (never destroyed, so that they stay reachable to the end of the process).
std::vector<double **> &grids_cut = *new std::vector<double **>;

double **resampled(double **on_second_cells)
{
    const frame_plan &plan = record.plan;
    double **out = dmatrice(plan.columns, plan.lines);
    require_grid(out, plan.columns, plan.lines);
    const grid_view source{on_second_cells, record.second.lines, record.second.columns};
    const grid_view target{out, plan.lines, plan.columns};
    if (plan.kind == frames_area_mean)
        area_mean_fill(source, target, plan.positions);
    else if (plan.kind == frames_reprojected)
        bilinear_fill(source, target, plan.carried);
    else
        bilinear_fill_affine(source, target, plan.positions);
    return out;
}

double **cut(double **grid, int32_t first_column, int32_t first_line)
{
    double **part = dcutmatrice(grid, first_column, first_line, record.plan.lines);
    require_grid(part, record.plan.columns, record.plan.lines);
    grids_cut.push_back(grid);
    return part;
}

bool moves()
{
    return record.planned && record.plan.kind != frames_same;
}

bool keeping_as_read = false;
double **kept_as_read = nullptr;

// The positions of a reprojected frame at its cells moved by east and north: each moved
// cell's position interpolated between the carried positions of the whole cells around
// it, or carried on from the frame's outer two lines or columns beyond its edge.
source_positions moved_carried(const frame_plan &plan, double east, double north)
{
    const source_positions carried = plan.carried;
    const int32_t lines = plan.lines, columns = plan.columns;
    return [carried, lines, columns, east, north](int32_t line, int32_t count, double *out_columns,
                                                  double *out_lines) {
        const double v = line - north;
        const int32_t l0 = lines < 2 ? 0 : std::clamp(static_cast<int32_t>(std::floor(v)), 0, lines - 2);
        const int32_t l1 = lines < 2 ? 0 : l0 + 1;
        const double fv = lines < 2 ? 0.0 : v - l0;
        const size_t n = static_cast<size_t>(columns);
        std::vector<double> c0(n), r0(n), c1(n), r1(n);
        carried(l0, columns, c0.data(), r0.data());
        carried(l1, columns, c1.data(), r1.data());
        for (int32_t j = 0; j < count; j++) {
            const double u = j + east;
            const int32_t a = columns < 2 ? 0 : std::clamp(static_cast<int32_t>(std::floor(u)), 0, columns - 2);
            const int32_t b = columns < 2 ? 0 : a + 1;
            const double fu = columns < 2 ? 0.0 : u - a;
            const auto mix = [&](const std::vector<double> &top, const std::vector<double> &bottom) {
                const size_t ia = static_cast<size_t>(a), ib = static_cast<size_t>(b);
                return (1.0 - fv) * ((1.0 - fu) * top[ia] + fu * top[ib]) +
                       fv * ((1.0 - fu) * bottom[ia] + fu * bottom[ib]);
            };
            out_columns[j] = mix(c0, c1);
            out_lines[j] = mix(r0, r1);
        }
    };
}

} // namespace

frame_plan plan_frame_step(const grid_frame &a, const grid_frame &b)
{
    if (!(a.dx > 0 && a.dy > 0 && b.dx > 0 && b.dy > 0) || a.lines <= 0 || a.columns <= 0 || b.lines <= 0 ||
        b.columns <= 0)
        return apart();
    const double column_offset = (b.xll - a.xll) / a.dx, bottom_offset = (b.yll - a.yll) / a.dy;
    if (same_cell_sizes(a, b) && whole_cells(column_offset) &&
        whole_cells(bottom_offset))
        return common_part(a, b, std::round(column_offset), std::round(bottom_offset));
    return out_of_step(a, b);
}

std::string extent_text(const grid_frame &f)
{
    return "X " + exact_real_text(f.xll) + " to " + exact_real_text(f.xll + f.columns * f.dx) + ", Y " +
           exact_real_text(f.yll) + " to " + exact_real_text(f.yll + f.lines * f.dy);
}

std::string grid_frame_text(const grid_frame &f)
{
    std::string text = text_printf("%d lines, %d columns", f.lines, f.columns);
    if (!f.has_corner)
        return text + ", pixel size " + exact_real_text(f.dx) + " (no map coordinates)";
    return text + ", lower-left corner " + exact_real_text(f.xll) + " " + exact_real_text(f.yll) + ", cells of " +
           exact_real_text(f.dx) + " by " + exact_real_text(f.dy);
}

std::string frame_step_text(const frame_plan &p)
{
    const std::string corner = exact_real_text(p.xll) + " " + exact_real_text(p.yll);
    switch (p.kind) {
    case frames_common_part:
        return text_printf("\n\tThe two DEMs share %d lines and %d columns of cells, lower-left corner %s:", p.lines,
                           p.columns, corner.c_str()) +
               "\n\t\t" + cells_text("first DEM", p.first_line, p.first_column, p.lines, p.columns) + "\n\t\t" +
               cells_text("second DEM", p.second_line, p.second_column, p.lines, p.columns) +
               "\n\tTheir difference is taken on this common part.\n";
    case frames_bilinear:
    case frames_area_mean:
    case frames_reprojected:
        return text_printf("\n\tThe second DEM covers %d lines and %d columns of the first DEM's cells, lower-left "
                           "corner %s:",
                           p.lines, p.columns, corner.c_str()) +
               "\n\t\t" + cells_text("first DEM", p.first_line, p.first_column, p.lines, p.columns) +
               "\n\tTheir difference is taken on these cells.\n";
    default:
        return "";
    }
}

std::string resampling_line(frame_step_kind kind)
{
    if (kind == frames_area_mean)
        return "\n\tThe second DEM is resampled onto the first DEM's cells: the mean of its cells inside each "
               "cell, weighed by their area inside it (no data where less than half of the cell has data).\n";
    return "\n\tThe second DEM is resampled onto the first DEM's cells: bilinear, from its four cell centres "
           "nearest to each cell's centre.\n";
}

std::string frame_step_report_text(const frame_plan &p)
{
    const std::string first = cells_text("first grid", p.first_line, p.first_column, p.lines, p.columns);
    switch (p.kind) {
    case frames_common_part:
        return "cut to their common part: " + first + ", " +
               cells_text("second grid", p.second_line, p.second_column, p.lines, p.columns);
    case frames_bilinear:
        return "the second grid resampled onto the first grid's cells (bilinear, from its four nearest cell "
               "centres), on " + first;
    case frames_area_mean:
        return "the second grid resampled onto the first grid's cells (the area-weighted mean of its cells "
               "inside each), on " + first;
    case frames_reprojected:
        return "the second grid reprojected onto the first grid's cells (each cell's centre carried into its "
               "coordinate system by PROJ, bilinear from its four nearest cell centres), on " + first;
    default:
        return "none: both grids have this frame";
    }
}

const run_frames &run_frame_record()
{
    return record;
}

void keep_input_frames(const grid_frame &first, const grid_frame &second)
{
    record.first = first;
    record.second = second;
}

const frame_plan &plan_run_frame_step(const grid_frame &first, const grid_frame &second)
{
    return keep_run_plan(first, second, plan_frame_step(first, second));
}

const frame_plan &keep_run_plan(const grid_frame &first, const grid_frame &second, const frame_plan &plan)
{
    keep_input_frames(first, second);
    record.planned = true;
    record.plan = plan;
    if (record.plan.kind == frames_apart)
        stop_with_message("\n\tThe DEMs %s and %s have no cell in common:\n\t\t%s covers %s\n\t\t%s covers %s\n\t"
                          "Give two grids of the same ground.\n",
                          nomim1.c_str(), nomim2.c_str(), nomim1.c_str(), extent_text(first).c_str(),
                          nomim2.c_str(), extent_text(second).c_str());
    return record.plan;
}

void frame_step()
{
    if (!moves())
        return;
    const frame_plan &plan = record.plan;
    if (keeping_as_read) {
        kept_as_read = dtab_dem2;
        dtab_dem2 = plan.kind == frames_common_part ? cut(dtab_dem2, plan.second_column, plan.second_line)
                                                    : resampled(dtab_dem2);
    } else {
        dtab_dem2 = second_grid_onto_frame(dtab_dem2);
    }
    dtab_dem1 = first_grid_onto_frame(dtab_dem1);
    frame_step_counts();
}

void frame_step_counts()
{
    if (!moves())
        return;
    const frame_plan &plan = record.plan;
    nb_lig = plan.lines;
    nb_col = plan.columns;
    X_min = plan.xll;
    Y_min = plan.yll;
    dpix_size = record.first.dx;
    dpix_size_y = record.first.dy;
    pix_size2 = truncate_to_int32(record.first.dx);
}

double **second_grid_onto_frame(double **on_second_cells)
{
    if (!moves() || on_second_cells == nullptr)
        return on_second_cells;
    if (record.plan.kind == frames_common_part)
        return cut(on_second_cells, record.plan.second_column, record.plan.second_line);
    // Resampled, the grid as read is no longer needed: the run holds no more grids than
    // an aligned one.
    double **onto = resampled(on_second_cells);
    frdmatrice(on_second_cells, record.second.lines);
    return onto;
}

void first_grid_window(int32_t *line, int32_t *column)
{
    *line = moves() ? record.plan.first_line : 0;
    *column = moves() ? record.plan.first_column : 0;
}

double **first_grid_onto_frame(double **on_first_cells)
{
    if (!moves() || on_first_cells == nullptr)
        return on_first_cells;
    return cut(on_first_cells, record.plan.first_column, record.plan.first_line);
}

void fill_second_moved(const grid_view &as_read, const grid_view &target, const frame_plan &plan, double east,
                       double north)
{
    const frame_plan moved = moved_frame_plan(plan, east, north);
    if (moved.kind == frames_same || moved.kind == frames_common_part) {
        // No shift: the values themselves, not a bilinear of weights 0 that a gap beside
        // would spoil.
        const int32_t line0 = moved.kind == frames_same ? 0 : moved.second_line;
        const int32_t column0 = moved.kind == frames_same ? 0 : moved.second_column;
        for (int32_t i = 0; i < target.lines; i++)
            std::copy(as_read.cells[line0 + i] + column0, as_read.cells[line0 + i] + column0 + target.columns,
                      target.cells[i]);
        return;
    }
    // The moved plan's kernel over every line, as the bands of a run read in bands take it.
    std::vector<double *> rows(target.cells, target.cells + target.lines);
    second_band_onto_frame(moved, as_read, rows.data(), target.columns, 0, target.lines);
}

frame_plan moved_frame_plan(const frame_plan &plan, double east, double north)
{
    if (east == 0.0 && north == 0.0)
        return plan;
    frame_plan moved = plan;
    const affine_positions &p = plan.positions;
    switch (plan.kind) {
    case frames_common_part:
    case frames_same: {
        const int32_t line0 = plan.kind == frames_same ? 0 : plan.second_line;
        const int32_t column0 = plan.kind == frames_same ? 0 : plan.second_column;
        moved.kind = frames_bilinear;
        moved.positions = {column0 + east, 1.0, line0 - north, 1.0};
        break;
    }
    case frames_reprojected:
        moved.carried = moved_carried(plan, east, north);
        break;
    default:
        moved.positions = {p.column0 + east * p.column_step, p.column_step, p.line0 - north * p.line_step,
                           p.line_step};
        break;
    }
    return moved;
}

void keep_second_as_read()
{
    keeping_as_read = true;
}

grid_view second_as_read()
{
    return kept_as_read != nullptr ? second_cells_view(kept_as_read) : grid_view{dtab_dem2, nb_lig, nb_col};
}

grid_view second_cells_view(double **on_second_cells)
{
    if (moves())
        return {on_second_cells, record.second.lines, record.second.columns};
    return {on_second_cells, nb_lig, nb_col};
}

void release_second_as_read()
{
    // A cut's lines are the grid as read's: it stays with the others cut.
    if (kept_as_read != nullptr && record.plan.kind != frames_common_part)
        frdmatrice(kept_as_read, record.second.lines);
    kept_as_read = nullptr;
    keeping_as_read = false;
}

frame_plan run_plan_or_same()
{
    if (moves())
        return record.plan;
    frame_plan plan;
    plan.lines = nb_lig;
    plan.columns = nb_col;
    return plan;
}
