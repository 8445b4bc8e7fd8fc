// The step that brings two georeferenced epochs onto one frame before they are
// differenced: the common part of two grids on one lattice of cells, or the second
// resampled onto the first's cells when they are out of step. After it the globals of
// the frame (nb_lig, nb_col, X_min, Y_min, dpix_size, dpix_size_y, dtab_dem1, dtab_dem2)
// describe the result's frame, so that the difference, the writers, the budget and the
// report work on it unchanged.
#ifndef ORMELIX_FRAME_STEP_H
#define ORMELIX_FRAME_STEP_H

#include <cstdint>
#include <string>

#include "gridfiles/grid_frame.h"
#include "regrid/resample.h"

enum frame_step_kind {
    frames_same,         // one frame: nothing to do
    frames_common_part,  // one lattice of cells: the part both grids cover
    frames_bilinear,     // out of step: the second's values at the first's cell centres
    frames_area_mean,    // the second at least twice as fine: its mean over each first cell
    frames_reprojected,  // another coordinate system: bilinear at centres carried by PROJ
    frames_apart,        // no cell in common
};

// Where the result lies, on the first grid's cells.
struct frame_plan {
    frame_step_kind kind = frames_same;
    int32_t lines = 0, columns = 0;              // the result's counts
    int32_t first_line = 0, first_column = 0;    // its top-left cell in the first grid
    int32_t second_line = 0, second_column = 0;  // the same cell in the second (common part)
    double xll = 0.0, yll = 0.0;                 // its lower-left corner
    // Resampled: the second's positions of the result's cell centres (bilinear), or
    // the second's cells each result cell spans, from its edges (area mean).
    affine_positions positions = {0.0, 1.0, 0.0, 1.0};
    // Reprojected: the second's positions of the result's cell centres, line by line.
    source_positions carried;
};

// Two grids are on one lattice when their cell sizes agree within a millionth and their
// corners are a whole number of cells apart within 1/1000 of a cell. The result frame
// is then their common part; otherwise the first's cells whose centres lie in the
// second's extent.
frame_plan plan_frame_step(const grid_frame &first, const grid_frame &second);

// "X 5.741666666667 to 6.533333333333, Y 49.441666666667 to 50.191666666667"
std::string extent_text(const grid_frame &frame);
// A grid's frame as the report lists it: counts, corner, cells.
std::string grid_frame_text(const grid_frame &frame);
// What the console says right after the second grid's summary; empty for one frame.
std::string frame_step_text(const frame_plan &plan);
// The last line of the alignment warning when the second grid is resampled.
std::string resampling_line(frame_step_kind kind);
// What the report says was done to bring the grids onto one frame.
std::string frame_step_report_text(const frame_plan &plan);

// The run's step: the two grids' own frames and the plan, once planned.
struct run_frames {
    bool planned = false;
    grid_frame first, second;
    frame_plan plan;
};
const run_frames &run_frame_record();
// Keeps the two grids' own frames for the report, whether or not a step is planned.
void keep_input_frames(const grid_frame &first, const grid_frame &second);

// Plans the step of the run's two grids (read at their own frames) and keeps it; stops
// the run, naming both grids and their extents, when they have no cell in common.
const frame_plan &plan_run_frame_step(const grid_frame &first, const grid_frame &second);
// Keeps a plan made elsewhere (a reprojection) as the run's, with the same stop.
const frame_plan &keep_run_plan(const grid_frame &first, const grid_frame &second, const frame_plan &plan);
// Applies the kept plan to the globals: the first grid cut to the result's frame (its
// lines shared, not copied), the second cut or resampled onto it.
void frame_step();
// The same for a run whose epochs are read in bands: the globals of the result's frame
// alone, each band being brought onto it as it comes (band_lines.h).
void frame_step_counts();

// The same step for another grid of the run, so that it follows its DEM: a grid on the
// second's own cells (nb_lig2 x nb_col2), or on the first's. Each takes the grid and
// returns one of the result's frame: the grid itself when the frames are one, else a new
// one (a cut shares the given grid's lines, kept until the run ends; a grid resampled is
// released).
double **second_grid_onto_frame(double **on_second_cells);
double **first_grid_onto_frame(double **on_first_cells);
// The second grid as read brought onto the result's frame with every result cell moved
// by east and north first cells (an alignment's shift): the plan's one resampling of the
// values as read, its positions offset, never a second interpolation of a grid already
// resampled. On one lattice the moved cells are bilinear in the grid as read (its values
// themselves with no shift); across systems the carried positions are interpolated between
// the whole cells around each moved one, a few cells' reach of a smooth map.
void fill_second_moved(const grid_view &as_read, const grid_view &target, const frame_plan &plan, double east_cells,
                       double north_cells);
// The same step as a plan of its own, for the bands of a run read in bands: the plan whose
// kernel gives, line by line, what fill_second_moved gives (the plan itself with no shift).
frame_plan moved_frame_plan(const frame_plan &plan, double east_cells, double north_cells);
// An alignment to come needs the second DEM as read after the step: kept by frame_step()
// once this is called, until release_second_as_read(). second_as_read() is that grid, or
// the run's dtab_dem2 when the step left it as read (one frame, no plan); a grid of the
// second's own cells read later is of the same counts.
void keep_second_as_read();
grid_view second_as_read();
void release_second_as_read();
// A grid of the second's own cells as the kernels see it.
grid_view second_cells_view(double **on_second_cells);
// The plan of the run's step; a plan of one frame of the run's counts when it has none.
frame_plan run_plan_or_same();

// The result's top-left cell among the first grid's own cells (0, 0 when the frames are
// one): a grid on the first's cells covers the result's frame from there.
void first_grid_window(int32_t *line, int32_t *column);

#endif
