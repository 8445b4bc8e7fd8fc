// Saves the result as an ASCII grid: six header lines, then every cell as "%lf" and a
// tab, on one body line. Cells without data are written as the declared no-data value.
#ifndef ORMELIX_ASCII_WRITER_H
#define ORMELIX_ASCII_WRITER_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// The value that every output header declares for cells without data.
constexpr double ASCII_OUTPUT_NODATA = -9999.9999;

// The six header lines, each ended by a line break; for cells that are not square, seven:
// "dx" and "dy" lines, the width and the height, in place of "cellsize", as GDAL writes
// and reads them. The reals are written as "%lf" writes them when that reads back to the
// same double, else in full.
std::string format_ascii_header(int32_t ncols, int32_t nrows, double xll, double yll, double cellsize,
                                double cellsize_y);

// Writes cells from the start as "%lf\t" (NaN as the no-data value) into out while the
// next one surely fits before out_end; returns how many were written and sets
// *text_end after the last character.
size_t format_ascii_cells(const double *cells, size_t count, char *out, const char *out_end,
                          char **text_end);

// Size of one write to the output file.
constexpr size_t ASCII_OUTPUT_BLOCK_SIZE = size_t(4) << 20;

// A grid written to fp a band of lines at a time, in blocks of block_size, with the
// progress line printed on progress (when not null) before lines 100, 200, ... Bands of
// more than a block of text are formatted by two threads. The text and the lines shown
// are the same whatever the bands and the threads.
struct ascii_grid_writer;
// Writes the header.
ascii_grid_writer *start_ascii_grid(FILE *fp, int32_t nb_col, int32_t nb_lig, double xll, double yll,
                                    double cellsize, double cellsize_y, FILE *progress,
                                    size_t block_size = ASCII_OUTPUT_BLOCK_SIZE);
// Writes lines [first, end), which are rows[0 .. end - first), after the lines before
// them; the rows are not used once it returns. False once a write failed (errno says
// why); the writer is then to be finished.
bool write_ascii_lines(ascii_grid_writer *writer, int32_t first, int32_t end, double *const *rows);
// Ends the writer; false when a write failed. fp is left open.
bool finish_ascii_grid(ascii_grid_writer *writer);
// The whole grid at once.
bool write_ascii_grid(FILE *fp, double *const *grid, int32_t nb_col, int32_t nb_lig, double xll, double yll,
                      double cellsize, double cellsize_y, FILE *progress,
                      size_t block_size = ASCII_OUTPUT_BLOCK_SIZE);

// The characters of the text of count lines of columns cells, counted over *counted of
// them evenly spread (all of them up to a million cells).
size_t ascii_lines_text_length(double *const *rows, int32_t count, int32_t columns, int32_t *counted);

// The ASCII grid of the output stem, NAME.asc, and its creation.
void ascii_output_paths(const std::string &stem, std::string *grid, std::string *unused);
void create_ascii_output(const std::string &grid, const std::string &unused);

// The georeference of an output with map coordinates: the corner and cells of the last
// input grid that has one, or, when both inputs are raster pairs, the corner the front
// door chose (output_choices.h) and the second raster's pixel size. Sets X_min and Y_min,
// and a cell's width and height.
void output_corner_and_cell_size(double *cellsize, double *cellsize_y);
// The dialogue's choice of that corner: asked.
void ask_output_corner(double *x, double *y);

// Writes the result to the output opened by the dialogue; the range is not shown. At its
// first band, the run stops when the grid will not fit the disk.
void ascii_start_output(double d_min, double d_max);
void ascii_output_lines(int32_t first, int32_t end, double *const *rows);
void ascii_finish_output();
// The three over the whole result.
void ascii_output(double d_min, double d_max);

#endif
