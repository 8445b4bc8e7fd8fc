// The run's difference pass: the kernel of difference.h on the grids of the run, with the
// run's test (a limit, or a confidence level from each DEM's error).
#ifndef ORMELIX_RUN_PASS_H
#define ORMELIX_RUN_PASS_H

#include <cstdint>
#include <functional>
#include <vector>

#include "error_model/correlated_error.h"
#include "treatment/change_map.h"
#include "treatment/difference.h"

struct worker_thread;

// Takes the run's test from the globals; the other calls below need it.
void prepare_run_pass();
// The pass over lines [first_line, end_line) of the grids read into the result, into
// *part; line_areas holds the area of a cell of every line.
void run_difference_of_lines(int32_t first_line, int32_t end_line, const double *line_areas,
                             difference_part *part);
// The pass, with the run's test, over the cells [start, end) of one line of the grids
// read (their results into scratch), into *part: a budget of part of the grid (a class)
// taken as the run's own is.
void run_difference_of_run(int32_t line, int32_t start, int32_t end, double *scratch, const double *line_areas,
                           difference_part *part);
// The run's errors of the cells when its test has them by cell (null otherwise). Errors
// made line by line (set_run_line_errors) are in place for a line once the pass or the
// gathering of its detected cells has taken it, on the thread that took it.
const cell_errors *run_cell_errors();
// Each DEM's error of the cells of a line made where the pass asks it, in place of error
// grids (both DEMs' the same): fill(line, errors) writes the line's errors, one a column.
// An empty function reads the grids again.
void set_run_line_errors(const std::function<void(int32_t line, double *errors)> &fill);
// Whether the run's errors are made line by line.
bool run_errors_by_line();
// Errors made line by line: those of the band [first_line, end_line) made once for every
// thread that takes its lines, half on helper when it runs. Nothing for other errors.
void make_run_band_errors(int32_t first_line, int32_t end_line, worker_thread *helper);
// The mean of the errors made line by line over the lines made so far, in the lines'
// order (0 without them).
double run_line_errors_mean();
// The cells of lines [first_line, end_line) that the pass counts as detected, by its very
// rule, each with the standard deviation of its change times its area, into *cells:
// the errors with their correlation weigh the cells the budget counts.
void collect_detected_cells(int32_t first_line, int32_t end_line, const double *line_areas,
                            correlated_error_collector *cells);

#endif
