// What differs between the first and the second input grid: the globals each one's
// opening and reading fill. Every file form opens and reads a grid through one of these.
#ifndef ORMELIX_INPUT_GRID_H
#define ORMELIX_INPUT_GRID_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "gridfiles/grid_frame.h"
#include "gridfiles/line_reader.h"

struct geo_keys;
struct input_grid;

// What a reader needs that a grid's files may not say, asked through the front door
// that opened the grid: the dialogue asks on the console, the command line, whose
// answers are all given, stops the run or answers from its options.
struct input_questions {
    // A raster pair without its descriptor: fills grid.lines, grid.columns and
    // grid.pix_size, or stops the run.
    void (*missing_descriptor)(input_grid &grid);
    // A raster pair whose descriptor gives no pixel size: one greater than 0.
    int32_t (*pixel_size)(const input_grid &grid);
    // The unit of a raster pair's integers (0 metres .. 3 millimetres), once their range
    // is shown.
    int32_t (*unit)(const input_grid &grid);
};

struct input_grid {
    std::string &nomim;      // the grid's file (a raster pair's sample file), whole
    std::string &nomdescr;   // a raster pair's descriptor; empty for other forms
    int32_t &format;
    int32_t &itype;
    FILE *&f;
    FILE *&fd;
    int32_t &lines;
    int32_t &columns;
    int32_t &pix_size;
    double &dpix;
    int32_t &descr_ok;
    int32_t &corner_ok;
    int32_t &geographic;
    geo_keys &geokeys;
    double **&dtab;          // the grid of altitudes read
    bool second;
    // Read at its own counts and judged by its caller (an error grid, classes, a mask):
    // the DEM's cells it must lie on. The frame checks of the second grid and the run's
    // memory are not its. Null for the two epochs.
    const grid_frame *own_frame = nullptr;
    const input_questions *ask = nullptr;
    // Where the grid lies, as its reader found it.
    grid_frame frame;
    // Set before the grid is opened when the run works in bands of lines: its opening
    // reads no cell into dtab (left null), readies no memory for them, and leaves reader
    // to read them band by band.
    bool by_bands = false;
    std::unique_ptr<line_reader> reader;
};

// The two input grids, bound to their globals.
input_grid &first_input();
input_grid &second_input();

// Stops the run when the second grid's counts are not the first grid's and a raster
// pair is one of them: without map coordinates they can only be differenced cell by
// cell. Two grids that give map coordinates (georeferenced) may differ: the frame step
// brings them onto one frame. Does nothing for the first grid.
void check_second_frame(const input_grid &grid, bool georeferenced);

// Once an epoch's counts are known, before any of its cells is read: whether it is read
// in bands (the first's frame passes the run's memory; the second as the first), into
// grid.by_bands. An auxiliary grid (own_frame set) is left as its caller set it.
void choose_band_reading(input_grid &grid, int32_t lines, int32_t columns);

// A georeferenced file opened, before its cells are read: a warning when it holds more
// bands than the first one read, its counts taken, its frame judged and the memory of
// the run made ready for it, unless it is read by bands (a stop here reads nothing).
void take_file_counts(input_grid &grid, int32_t lines, int32_t columns, int bands);

#endif
