// The ASCII grid file (".asc"): a six-line header, then the values as text, top line
// first. Real grids run to gigabytes of text, so the file is read in large blocks and
// its words are parsed in place, never copied whole into memory.
#ifndef ORMELIX_ASCII_GRID_H
#define ORMELIX_ASCII_GRID_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "gridfiles/line_reader.h"

// Size of one read from a grid file.
constexpr size_t ASCII_BLOCK_SIZE = size_t(4) << 20;

// The unread part of a text file, read block by block. text[begin, end) holds the
// characters read but not yet used; line is the file line (from 1) of text[begin].
struct text_source {
    FILE *fp = nullptr;
    std::vector<char> text;
    size_t begin = 0;
    size_t end = 0;
    size_t block_size = ASCII_BLOCK_SIZE;
    bool at_end = false;   // the file has given all it has
    bool failed = false;   // a read error ended it
    int error = 0;         // the errno of that error, kept when it happened
    int64_t line = 1;
};

void text_source_start(text_source *src, FILE *fp, size_t block_size = ASCII_BLOCK_SIZE);
// Moves the unread characters to the front and reads more after them, growing the
// buffer when little room is left. False when the file gave nothing more.
bool text_source_refill(text_source *src);
// The next white-space-separated word, whole even across blocks; *line is its file
// line. The word stays valid until the next call. False at the end of the file.
bool text_source_word(text_source *src, std::string *word, int64_t *line);

// What a header says. The corner is always the lower-left corner of the grid, the
// centre forms already shifted by half a cell. Grids of cells that are not square
// give "dx" and "dy" lines (the width and the height of a cell) in place of
// "cellsize", as GDAL writes them, so such a header has seven lines.
enum ascii_header_fault {
    header_fine,
    header_ends_early,        // the file ends before header line fault_line is complete
    header_bad_count,         // line 1 or 2: not a whole number greater than 0
    header_value_not_number,  // lines 3 to 7
    header_cell_size_not_positive,  // cellsize, dx or dy: 0, negative or infinite
};
struct ascii_header {
    int32_t ncols = 0, nrows = 0;
    double xll = 0.0, yll = 0.0;
    double cellsize = 0.0;        // the width of a cell: dx when the header gives dx and dy
    double cellsize_y = 0.0;      // its height: dy, or cellsize
    bool dx_dy = false;
    double dx = 0.0, dy = 0.0;
    double nodata_value;          // NaN when the header has no no-data line
    bool nodata_present = false;
    bool x_center = false, y_center = false;
    bool first_value_present = false;  // no no-data line: this word opens the body
    double first_value = 0.0;
    ascii_header_fault fault = header_fine;
    int fault_line = 0;           // header line 1..7
    int64_t fault_file_line = 0;
    std::string fault_word;
};
// Reads the header by position; keywords are only looked at for the centre forms and
// for "dx", which makes the next line "dy".
// Returns false with the fault filled when it cannot be read; the counts are kept
// as soon as they are read, even when a later header line is faulty.
bool parse_ascii_header(text_source *src, ascii_header *header);

// A run of body text turned into consecutive cells of a grid, the cells numbered
// line after line from 0. [first, last) must start and end on word boundaries.
// Cells equal to nodata_value, and nan words, are stored as NaN.
struct cells_parse {
    const char *stop;      // just after the last value stored, or at the refused word
    int64_t cells;         // values stored
    int64_t line_breaks;   // line feeds passed before stop
    bool bad_word;         // stopped at a word that is not a number
};
cells_parse parse_cells(const char *first, const char *last, double *const *grid, int32_t nb_col,
                        int64_t first_cell, int64_t cell_count, double nodata_value);

enum ascii_body_fault_kind { body_fine, body_missing_value, body_not_number, body_read_failed };
struct ascii_body_fault {
    ascii_body_fault_kind kind = body_fine;
    int32_t line = 0, column = 0;   // grid line and column, from 1
    int64_t file_line = 0;
    std::string word;
    int error = 0;   // body_read_failed: the errno of the failed read
};
// Fills grid, nb_lig lines by nb_col columns, from the body that follows the header,
// printing the progress line on progress (when not null) before lines 100, 200, ...
// Values after the last cell are never looked at. Runs of text of half a block or more
// are parsed by two threads; cells, faults and progress lines are those of one pass.
bool read_ascii_body(text_source *src, const ascii_header &header, double **grid, int32_t nb_col,
                     int32_t nb_lig, FILE *progress, ascii_body_fault *fault);

// The message that stops the run on a fault of the body of the grid file path.
std::string ascii_body_fault_message(const std::string &path, const ascii_header &header,
                                     const ascii_body_fault &fault);

// The grid file open on fp, its body checked whole by read_ascii_body, read a band of
// lines of columns cells at a time, parsed from its header again in blocks of
// block_size: the cells of read_ascii_body, the faults of its messages naming the file
// path. The reader takes over fp and closes it.
std::unique_ptr<line_reader> ascii_line_reader(FILE *fp, const std::string &path, int32_t columns,
                                               size_t block_size = ASCII_BLOCK_SIZE);

// Read the first or the second input grid, opened by the dialogue, into its globals.
void ascii_lecture1();
void ascii_lecture2();

struct input_grid;
// The input ASCII grid grid.nomim (NAME.asc), opened and read, with the text
// of NAME.prj beside it when there is one. Read by bands, its body is checked whole
// all the same (the same progress lines, the same faults), and parsed again band by
// band by grid.reader.
void open_ascii_input(input_grid &grid);

#endif
