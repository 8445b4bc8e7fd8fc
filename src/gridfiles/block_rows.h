// A band of lines from a file stored in rows of blocks (a GeoTIFF's strips or rows of
// tiles, GDAL's natural blocks): the rows of blocks a band covers whole are decoded
// straight into its lines; a row it covers in part is decoded once and held, so that the
// next band, which starts inside it, takes its lines from there. One row of blocks is
// held at most, besides the band.
#ifndef ORMELIX_BLOCK_ROWS_H
#define ORMELIX_BLOCK_ROWS_H

#include <cstdint>
#include <string>

#include "gridfiles/line_reader.h"

class block_row_lines : public line_reader {
public:
    // A grid of lines lines, in rows of block_lines lines (the last one may be shorter).
    block_row_lines(int32_t lines, int32_t block_lines);
    bool read_lines(int32_t first, int32_t end, double *const *rows, std::string *fault) override;

protected:
    // Rows of blocks [first_row, end_row) decoded into rows, rows[0] being the first line
    // of first_row. False with the run-stopping message in *fault.
    virtual bool decode_rows(int32_t first_row, int32_t end_row, double *const *rows, std::string *fault) = 0;
    // Row of blocks row decoded and held in place of the one held before.
    virtual bool hold_row(int32_t row, std::string *fault) = 0;
    // Line line (from the row's first) of the row held, as metres into cells.
    virtual void held_line(int32_t line, double *cells) = 0;

    int32_t lines_, block_lines_;

private:
    int32_t held_ = -1;  // the row held, -1 for none
};

#endif
