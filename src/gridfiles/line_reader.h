// An input grid whose cells are read a band of lines at a time, top to bottom, as the run
// needs them, rather than whole when it is opened: a frame larger than the run's memory is
// worked through in bands, each input holding only the lines (or the one row of blocks of
// its file) that the band needs.
#ifndef ORMELIX_LINE_READER_H
#define ORMELIX_LINE_READER_H

#include <cstdint>
#include <string>

struct line_reader {
    virtual ~line_reader() = default;
    // Lines [first, end) of the grid into rows[0 .. end - first), each of the grid's
    // columns: metres, cells without data NaN, the very values its whole reading gives.
    // Bands come in order, each starting where the one before ended, but for first == 0,
    // which starts the grid again (a second pass over it). False with the message that
    // stops the run in *fault, naming the file as its whole reading words it.
    virtual bool read_lines(int32_t first, int32_t end, double *const *rows, std::string *fault) = 0;
};

#endif
