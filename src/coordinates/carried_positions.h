// Where each cell centre of one grid lies in a grid of another coordinate system,
// carried through PROJ. Carrying every centre of 25 million cells would take seconds:
// the centres are carried on a lattice of nodes every CARRY_STEP cells, and the
// positions between them interpolated, each square of the lattice checked at its centre
// and the middles of its sides; a square where the interpolation strays by 1/100 of a
// cell or more has each of its centres carried.
#ifndef ORMELIX_CARRIED_POSITIONS_H
#define ORMELIX_CARRIED_POSITIONS_H

#include <cstdint>
#include <string>
#include <vector>

#include "gridfiles/grid_frame.h"

constexpr int32_t CARRY_STEP = 64;
// The most an interpolated position may stray from the carried one, in the other grid's cells.
constexpr double CARRY_TOLERANCE = 0.01;

// The positions of a target grid's cell centres in a source grid: in source cells, 0
// being the centre of the source's first column and of its top line; NaN where PROJ
// cannot carry a centre.
struct carried_positions {
    int32_t step = CARRY_STEP;
    std::vector<int32_t> node_lines, node_columns;  // the target cells of the nodes
    std::vector<double> column_at, line_at;         // at each node, line after line
    // For each square of the lattice, where its carried centres start in `exact`
    // (columns and lines in pairs), or -1 when it is interpolated.
    std::vector<int64_t> exact_start;
    std::vector<double> exact;
    size_t carried_squares = 0;  // squares whose every centre was carried

    // Fills the positions of count target cells of a line from first_column on. Reads
    // memory only: two threads may call it at once.
    void line(int32_t line, int32_t first_column, int32_t count, double *columns, double *lines) const;
};

// Carries the target grid's cell centres (in target_crs) into source_crs, both WKT2 as
// geo_keys::crs holds them. False when PROJ knows no transformation between them.
bool carry_cell_centres(const std::string &target_crs, const std::string &source_crs, const grid_frame &target,
                        const grid_frame &source, carried_positions *out);

#endif
