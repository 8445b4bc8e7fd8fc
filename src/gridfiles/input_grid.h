// What differs between the first and the second input grid: the globals each one's
// opening and reading fill. Every file form opens and reads a grid through one of these.
#ifndef ORMELIX_INPUT_GRID_H
#define ORMELIX_INPUT_GRID_H

#include <cstdint>
#include <cstdio>
#include <string>

struct geo_keys;

struct input_grid {
    std::string &nomim;      // the stem on entry; the grid's file once opened
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
    // Read at its own counts and judged by its caller (an error grid): the frame checks
    // of the second grid and the run's memory are not its.
    bool own_frame = false;
};

// The two input grids, bound to their globals.
input_grid &first_input();
input_grid &second_input();

// Stops the run when the second grid's counts are not the first grid's and a raster
// pair is one of them: without map coordinates they can only be differenced cell by
// cell. Two grids that give map coordinates (georeferenced) may differ: the frame step
// brings them onto one frame. Does nothing for the first grid.
void check_second_frame(const input_grid &grid, bool georeferenced);

#endif
