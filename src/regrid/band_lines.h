// The two epochs brought onto the result's frame a band of lines at a time, for a frame
// worked in bands: each grid's lines read in order by its reader and held only while a
// band needs them, the second's taken through the very kernel of the whole frame step.
#ifndef ORMELIX_BAND_LINES_H
#define ORMELIX_BAND_LINES_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gridfiles/line_reader.h"
#include "regrid/frame_step.h"
#include "regrid/resample.h"

// The lines of a grid that its reader gives in order, held while bands need them.
struct held_lines {
    line_reader *reader = nullptr;
    int32_t lines = 0, columns = 0;
    std::vector<double *> table;  // a pointer a line of the grid, null where not held
    int32_t first = 0, end = 0;   // the lines held
    int32_t next = 0;             // the line the reader gives next
    // Each line's memory, written by the reader before it is read: never cleared.
    std::vector<std::unique_ptr<double[]>> memory;
    std::vector<size_t> spare;    // memory not holding a line
    std::vector<size_t> of_line;  // memory of each held line
};
void start_held_lines(held_lines *held, line_reader *reader, int32_t lines, int32_t columns);
// Holds lines [first, end) of the grid (within its lines), reading those not held; the
// lines before first are let go. A band that goes back above what is held reads the grid
// again from its top. False with the reader's message.
bool hold_lines(held_lines *held, int32_t first, int32_t end, std::string *fault);
// What is held, as the kernels see the grid: its lines not held are null.
grid_view held_view(const held_lines &held);

// The second grid's lines [*from, *to) that the plan's kernel reads for the result's lines
// [first, end); empty (from == to) when it reads none.
void second_lines_of_band(const frame_plan &plan, int32_t second_lines, int32_t first, int32_t end, int32_t *from,
                          int32_t *to);
// The result's lines [first, end) of the second grid from its held lines (source) into
// target, a grid of the result's frame holding those lines: by the plan's kernel, or, on
// one lattice, pointed at the held lines themselves (target's line table is written).
void second_band_onto_frame(const frame_plan &plan, const grid_view &source, double **target, int32_t columns,
                            int32_t first, int32_t end);

#endif
