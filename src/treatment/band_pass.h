// A run whose epochs are read in bands of lines: the line tables of dtab_dem1, dtab_dem2
// and dtab_out (and of the error grids read in bands) hold one band's lines at a time,
// each brought onto the result's frame as it comes, in the memory the run is given
// (--memory).
#ifndef ORMELIX_BAND_PASS_H
#define ORMELIX_BAND_PASS_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "gridfiles/line_reader.h"
#include "regrid/frame_step.h"

// True when the run's epochs were opened to be read in bands.
bool run_works_in_bands();
// Makes the line tables of the result's frame, each line null until its band comes.
void start_run_bands();
// The lines of a band: as many as the run's memory holds with the files' own blocks beside
// them (or as forced), a whole number of row_lines (the report map's rows of cells).
int32_t run_band_lines(size_t row_lines);
// Brings lines [first, end) of both epochs onto the result's frame in the tables, with
// room for the result's; the band before is let go. Stops the run on a file's fault. The
// --classes grid's lines are left unread for a pass that reads none.
void load_run_band(int32_t first, int32_t end, bool classes = true);
// Lines [first, end) of the second epoch alone (dtab_dem2's), for a pass that reads no other.
void load_run_second_band(int32_t first, int32_t end);
// Lines [first, end) of the --stable mask alone (run_band_stable_values'), likewise.
void load_run_stable_band(int32_t first, int32_t end);
// From the next band loaded: the first's lines beside each band, as many above and below
// within the result's frame, held and in dtab_dem1 as well (the slope's kernel reads
// one line each side). 0 by default.
void hold_run_band_neighbours(int32_t lines);
// The values of the --classes grid read in bands (null without): a table of every line
// of the first grid's own cells, holding those of the band loaded.
double *const *run_band_class_values();
// The same of the --stable mask.
double *const *run_band_stable_values();
// Each DEM's error grid (second: the second DEM's) to be read in bands, on its DEM's own
// cells: the band's errors are then in dtab_sigma1 and dtab_sigma2, on the result's frame,
// the first's cut as the first DEM is, the second's brought there as the second DEM is.
void keep_run_error_lines(bool second, std::unique_ptr<line_reader> reader);
// The second epoch's bands of every pass started from now on (start_run_bands) taken through
// this plan rather than the run's (an alignment's, its positions moved), each band of the
// result's frame then handed to adjust, in memory of its own.
using second_band_adjust = std::function<void(double *const *cells, int32_t first, int32_t end)>;
void move_run_second(const frame_plan &plan, const second_band_adjust &adjust);
// Lets every band go.
void end_run_bands();

#endif
