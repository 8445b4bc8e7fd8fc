// The questions of the test at a confidence level: each DEM's error, a number or an
// error grid beside the DEMs, and the level.
#ifndef ORMELIX_CONFIDENCE_DIALOGUE_H
#define ORMELIX_CONFIDENCE_DIALOGUE_H

#include <cstdint>
#include <string>

#include "ormelix/alignment.h"

// The cells of an input grid as it was read: an error grid of that grid must lie on them.
struct dem_cells {
    int32_t lines = 0, columns = 0;
    grid_placement placement = {false, 0.0, 0.0, 0.0, 0.0};
};

// Asks the first DEM's error, the second's and the confidence level, into sigma_dem1,
// dtab_sigma1, nomsigma1, the same for the second, and confidence_pct; folder is the
// working folder, where error grids are looked for. first and second are the DEMs' own
// cells, as read: each error grid is read on them, then brought onto the result's frame
// as its DEM was.
void ask_confidence_test(const std::string &folder, const dem_cells &first, const dem_cells &second);

// What an answer to an error question is: a standard deviation (into *sigma), a number
// that is not one (negative, infinite, not a number), the name of an error grid to look
// for, or a name that would lead outside the root folder.
enum error_answer { ERROR_NUMBER, ERROR_NOT_AN_ERROR, ERROR_GRID_NAME, ERROR_BAD_NAME };
error_answer read_error_answer(const std::string &word, double *sigma);
// A confidence level in percent, above 0 and below 100, into *level; false otherwise.
bool read_confidence_level(const std::string &word, double *level);

// Reads the error grid at stem (the dialogue's: its form's extension added by the reader;
// the command line's: the whole path) in that form, through the form's reader, into
// *grid, and the mean of its errors into *mean. "" when it lies on the DEM's cells and
// holds no negative error, else why not (the grid is then released). The globals a
// reader sets for the run's frame are left as they were.
std::string read_error_grid(const std::string &stem, int32_t form, const dem_cells &dem, double ***grid,
                            double *mean);

// Why a grid of lines x columns placed so cannot give the errors of a DEM on dem's cells
// ("" when it can); name is the grid's file as messages show it.
std::string error_grid_misfit(const std::string &name, int32_t lines, int32_t columns,
                              const grid_placement &placement, const dem_cells &dem);

#endif
