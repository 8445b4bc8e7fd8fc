// The questions of the test at a confidence level: each DEM's error, a number or an
// error grid beside the DEMs, and the level.
#ifndef ORMELIX_CONFIDENCE_DIALOGUE_H
#define ORMELIX_CONFIDENCE_DIALOGUE_H

#include <cstdint>
#include <memory>
#include <string>

#include "gridfiles/grid_frame.h"
#include "gridfiles/line_reader.h"

// Asks the first DEM's error, the second's and the confidence level, into sigma_dem1,
// dtab_sigma1, nomsigma1, the same for the second, and confidence_pct; folder is the
// working folder, where error grids are looked for. first and second are the DEMs' own
// cells, as read: each error grid is read on them, then brought onto the result's frame
// as its DEM was.
void ask_confidence_test(const std::string &folder, const grid_frame &first, const grid_frame &second);

// What an answer to an error question is: a standard deviation (into *sigma), a number
// that is not one (negative, infinite, not a number), the name of an error grid to look
// for, or a name that would lead outside the root folder.
enum error_answer { ERROR_NUMBER, ERROR_NOT_AN_ERROR, ERROR_GRID_NAME, ERROR_BAD_NAME };
error_answer read_error_answer(const std::string &word, double *sigma);
// A confidence level in percent, above 0 and below 100, into *level; false otherwise.
bool read_confidence_level(const std::string &word, double *level);

// Why an error grid cannot give its DEM's errors: what is wrong, in a sentence each
// front door follows with what to do (the dialogue asks again, the command line stops).
// An empty text: nothing.
struct error_grid_fault {
    std::string text;
    bool empty() const { return text.empty(); }
};

// Reads the error grid at path (whole, with its ending) in that form, through the form's
// reader, into *grid, and the mean of its errors into *mean; the fault when it does not
// lie on the DEM's cells or holds a negative error (the grid is then released). The
// globals of the run's frame are left as they were. When the run's epochs are read in
// bands and lines is not null, the grid is opened into *lines instead: read through once
// band by band for its check and mean, holding none of its cells, its bands then read
// again beside its DEM's (*grid null).
error_grid_fault read_error_grid(const std::string &path, int32_t form, const grid_frame &dem, double ***grid,
                                 std::unique_ptr<line_reader> *lines, double *mean);

// Why a grid of that frame cannot give the errors of a DEM on dem's cells (empty when
// it can); name is the grid's file as messages show it.
error_grid_fault error_grid_misfit(const std::string &name, const grid_frame &frame, const grid_frame &dem);

#endif
