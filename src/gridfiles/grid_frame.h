// Where a grid read from a file lies: every reader returns it with the grid's cells, and
// every comparison of two grids' cells goes through it.
#ifndef ORMELIX_GRID_FRAME_H
#define ORMELIX_GRID_FRAME_H

#include <cstdint>

struct grid_frame {
    bool has_corner = false;      // map coordinates: false for a raster pair, which has none
    int32_t lines = 0, columns = 0;
    double xll = 0.0, yll = 0.0;  // lower-left corner
    double dx = 0.0, dy = 0.0;    // cell width and height (a raster pair: its pixel size)
    bool has_nodata = false;      // the file names a no-data value
    double nodata = 0.0;
    bool geographic = false;      // its coordinate system counts in degrees
};

// Two cell sizes are one when they differ by at most a millionth of the larger; two
// corners are one when they lie within a thousandth of a cell of each other.
constexpr double CELL_SIZE_TOLERANCE = 1e-6;
constexpr double CORNER_TOLERANCE = 1e-3;

bool same_cell_size(double a, double b);
// Both sizes of a's cells are b's.
bool same_cell_sizes(const grid_frame &a, const grid_frame &b);
// b's corner within CORNER_TOLERANCE of a's cells (dx across, dy up).
bool same_corner(const grid_frame &a, const grid_frame &b);
// The two frames hold the same cells: their counts, and, when both have map
// coordinates, their cell sizes and corners.
bool same_cells(const grid_frame &a, const grid_frame &b);

#endif
