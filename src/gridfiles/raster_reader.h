// Loads an input raster pair into a grid of altitudes in metres.
#ifndef ORMELIX_RASTER_READER_H
#define ORMELIX_RASTER_READER_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "gridfiles/raster_pair.h"

struct input_grid;

// One line of count samples of type itype from fp as 32-bit integers into line; 16-bit
// samples pass through narrow (unused, and may be null, for 32-bit ones). False when the
// file holds fewer.
bool read_raster_line(FILE *fp, int32_t itype, uint16_t *narrow, int32_t *line, size_t count);
// The message that stops the run when line (from 0) of a sample file of lines lines
// cannot be read whole.
std::string raster_short_read_message(const std::string &path, int32_t line, int32_t lines);

// Reads lines x columns samples of type itype from fp, one block per line, into itab;
// 16-bit samples pass through jtab (unused, and may be null, for 32-bit ones). *range
// is the range of the samples read. Returns how many lines were complete: lines when
// the whole grid was read.
int32_t read_raster_samples(FILE *fp, int32_t itype, uint16_t *const *jtab, int32_t *const *itab,
                            int32_t lines, int32_t columns, integer_range *range);

// The samples in the given unit as metres, into dtab; returns the range in metres.
metre_range convert_grid_to_metres(int32_t *const *itab, double *const *dtab, int32_t lines,
                                   int32_t columns, int32_t unit);

// Read the first or the second input pair, opened by the dialogue, into its globals.
void dem1_lecture();
void dem2_lecture();

// The input raster pair of sample file grid.nomim and descriptor grid.nomdescr, of sample
// type grid.itype: its files found, its descriptor read (or, through grid.ask, its
// counts had and the descriptor written), its samples read (by bands: their range shown
// and their unit asked all the same, the sample file left to grid.reader).
void open_raster_input(input_grid &grid);

#endif
