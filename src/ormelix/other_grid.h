// Grids read beside the two epochs, each on a DEM's cells: an error grid, the classes,
// the stable-ground mask.
#ifndef ORMELIX_OTHER_GRID_H
#define ORMELIX_OTHER_GRID_H

#include <cstdint>
#include <memory>
#include <string>

#include "gridfiles/grid_frame.h"
#include "gridfiles/input_grid.h"

struct other_grid {
    grid_frame frame;        // as its file places it
    double **cells = nullptr;
    std::unique_ptr<line_reader> reader;  // read in bands: its cells, band by band
};

// The grid at path (whole, with its ending) in that form, with its descriptor for a
// raster pair, read by the form's reader at its own frame; a raster pair must have the
// counts of dem, the cells it lies on. The run's globals stay as they are: the frame
// comes back with the cells. Whether it lies on dem is the caller's to judge
// (same_cells), and to word.
// by_bands: opened only, its cells left to its reader.
other_grid read_other_grid(const std::string &path, int32_t form, int32_t itype, const std::string &descriptor,
                           const grid_frame &dem, const input_questions &ask, bool by_bands = false);

#endif
