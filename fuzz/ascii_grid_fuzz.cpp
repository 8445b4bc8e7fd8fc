// Arbitrary bytes read as an ASCII grid file, header and body. The file is read twice,
// once in small blocks so that words and line breaks straddle every block edge, once in
// a single block, and both readings are held against a plain word-by-word reading:
// they must agree on every cell, every count and every fault; the file read again by
// bands of lines, in the small blocks, gives the same cells and the same fault.
#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "platform/worker_thread.h"
#include "gridfiles/ascii_grid.h"
#include "text/number_text.h"
#include "nrutil.h"
#include "console/console.h"

namespace {

const double NO_VALUE = std::numeric_limits<double>::quiet_NaN();


struct grid_reading {
    bool header_read = false;
    ascii_header header;
    bool body_tried = false;
    bool body_read = false;
    ascii_body_fault fault;
    std::vector<double> cells;
};

// The body is only read when its grid is small beside the file: a header may announce
// billions of cells, and the program's answer to those is the storage message.
bool body_is_read(const ascii_header &header, size_t size)
{
    const int64_t cells = static_cast<int64_t>(header.ncols) * header.nrows;
    return cells <= static_cast<int64_t>(2 * size + 64);
}

grid_reading read_in_blocks(const uint8_t *data, size_t size, size_t block, FILE *progress)
{
    grid_reading reading;
    FILE *fp = fuzz::memory_file(data, size);
    text_source src;
    text_source_start(&src, fp, block);
    reading.header_read = parse_ascii_header(&src, &reading.header);
    FUZZ_CHECK(!src.failed);
    const ascii_header &header = reading.header;
    if (reading.header_read) {
        FUZZ_CHECK(header.ncols > 0 && header.nrows > 0);
        FUZZ_CHECK(header.fault == header_fine);
    } else {
        FUZZ_CHECK(header.fault != header_fine);
        FUZZ_CHECK(header.fault_line >= 1 && header.fault_line <= 7);
    }
    if (reading.header_read && body_is_read(header, size)) {
        reading.body_tried = true;
        double **grid = dmatrice(header.ncols, header.nrows);
        FUZZ_CHECK(grid != nullptr);
        for (int32_t i = 0; i < header.nrows; i++)
            for (int32_t j = 0; j < header.ncols; j++)
                grid[i][j] = fuzz::untouched_cell();
        reading.body_read =
            read_ascii_body(&src, header, grid, header.ncols, header.nrows, progress, &reading.fault);
        for (int32_t i = 0; i < header.nrows; i++)
            reading.cells.insert(reading.cells.end(), grid[i], grid[i] + header.ncols);
        frdmatrice(grid, header.nrows);
    }
    std::fclose(fp);
    return reading;
}

// The plain reading: all words at once, each with its file line.
struct word {
    std::string text;
    int64_t line;
};

bool is_white(uint8_t c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool real_word(const std::string &text, double *value)
{
    return parse_real_word(text.data(), text.data() + text.size(), value);
}

grid_reading read_word_by_word(const uint8_t *data, size_t size)
{
    std::vector<word> words;
    int64_t line = 1;
    for (size_t i = 0; i < size;) {
        if (is_white(data[i])) {
            line += data[i] == '\n';
            i++;
            continue;
        }
        size_t start = i;
        while (i < size && !is_white(data[i]))
            i++;
        words.push_back({std::string(data + start, data + i), line});
    }
    const int64_t last_line = line; // where a reader that hit the end stands

    grid_reading reading;
    ascii_header &h = reading.header;
    h.nodata_value = NO_VALUE;
    size_t next = 0;
    auto fault = [&](ascii_header_fault kind, int header_line, int64_t file_line, const std::string &text) {
        h.fault = kind;
        h.fault_line = header_line;
        h.fault_file_line = file_line;
        h.fault_word = text;
    };
    // After a dx line the dy line is header line 6, and the no-data line the seventh.
    int dy_lines = 0;
    for (int field = 1; field <= 6 && h.fault == header_fine; field++) {
        const int header_line = field + dy_lines;
        if (next == words.size()) {
            if (field < 6)
                fault(header_ends_early, header_line, last_line, "");
            break;
        }
        const word &keyword = words[next++];
        if (field == 6 && real_word(keyword.text, &h.first_value)) {
            h.first_value_present = true;
            break;
        }
        if (next == words.size()) {
            fault(header_ends_early, header_line, last_line, "");
            break;
        }
        const word &value = words[next++];
        if (field <= 2) {
            int32_t count = 0;
            if (!parse_whole_number(value.text, &count) || count <= 0)
                fault(header_bad_count, header_line, value.line, value.text);
            else
                (field == 1 ? h.ncols : h.nrows) = count;
            continue;
        }
        double real = 0.0;
        if (!real_word(value.text, &real)) {
            fault(header_value_not_number, header_line, value.line, value.text);
            continue;
        }
        if (field == 3) {
            h.xll = real;
            h.x_center = keyword.text.size() == 9 && strncasecmp(keyword.text.c_str(), "xllcenter", 9) == 0;
        } else if (field == 4) {
            h.yll = real;
            h.y_center = keyword.text.size() == 9 && strncasecmp(keyword.text.c_str(), "yllcenter", 9) == 0;
        } else if (field == 5) {
            if (!(real > 0.0 && std::isfinite(real))) {
                fault(header_cell_size_not_positive, header_line, value.line, value.text);
                continue;
            }
            h.cellsize = real;
            if (keyword.text.size() != 2 || strncasecmp(keyword.text.c_str(), "dx", 2) != 0)
                continue;
            h.dx_dy = true;
            h.dx = real;
            dy_lines = 1;
            if (next + 1 >= words.size()) {
                fault(header_ends_early, 6, last_line, "");
                continue;
            }
            next++;  // the dy keyword, never looked at
            const word &dy = words[next++];
            if (!real_word(dy.text, &h.dy))
                fault(header_value_not_number, 6, dy.line, dy.text);
            else if (!(h.dy > 0.0 && std::isfinite(h.dy)))
                fault(header_cell_size_not_positive, 6, dy.line, dy.text);
        } else {
            h.nodata_value = real;
            h.nodata_present = true;
        }
    }
    reading.header_read = h.fault == header_fine;
    if (!reading.header_read)
        return reading;
    h.cellsize_y = h.dx_dy ? h.dy : h.cellsize;
    if (h.x_center)
        h.xll -= h.cellsize / 2.0;
    if (h.y_center)
        h.yll -= h.cellsize_y / 2.0;
    if (!body_is_read(h, size))
        return reading;

    reading.body_tried = true;
    reading.body_read = true;
    const int64_t total = static_cast<int64_t>(h.ncols) * h.nrows;
    reading.cells.assign(static_cast<size_t>(total), fuzz::untouched_cell());
    const double nodata = h.nodata_present ? h.nodata_value : NO_VALUE;
    auto held = [&](double v) { return (v == nodata || v != v) ? NO_VALUE : v; };
    int64_t cell = 0;
    if (h.first_value_present) {
        reading.cells[0] = held(h.first_value);
        cell = 1;
    }
    for (; cell < total; cell++) {
        ascii_body_fault &f = reading.fault;
        f.line = static_cast<int32_t>(cell / h.ncols) + 1;
        f.column = static_cast<int32_t>(cell % h.ncols) + 1;
        if (next == words.size()) {
            f.kind = body_missing_value;
            f.file_line = last_line;
            reading.body_read = false;
            break;
        }
        const word &w = words[next++];
        double value;
        if (!real_word(w.text, &value)) {
            f.kind = body_not_number;
            f.file_line = w.line;
            f.word = w.text;
            reading.body_read = false;
            break;
        }
        reading.cells[static_cast<size_t>(cell)] = held(value);
    }
    if (reading.body_read)
        reading.fault = ascii_body_fault();
    return reading;
}

void expect_same(const grid_reading &a, const grid_reading &b)
{
    FUZZ_CHECK(a.header_read == b.header_read);
    const ascii_header &x = a.header, &y = b.header;
    FUZZ_CHECK(x.fault == y.fault);
    FUZZ_CHECK(x.fault_line == y.fault_line);
    FUZZ_CHECK(x.fault_file_line == y.fault_file_line);
    FUZZ_CHECK(x.fault_word == y.fault_word);
    // The counts are kept even when a later header line is faulty.
    FUZZ_CHECK(x.ncols == y.ncols && x.nrows == y.nrows);
    if (!a.header_read)
        return;
    FUZZ_CHECK(fuzz::same_double(x.xll, y.xll) && fuzz::same_double(x.yll, y.yll));
    FUZZ_CHECK(fuzz::same_double(x.cellsize, y.cellsize) && fuzz::same_double(x.cellsize_y, y.cellsize_y));
    FUZZ_CHECK(x.dx_dy == y.dx_dy && fuzz::same_double(x.dx, y.dx) && fuzz::same_double(x.dy, y.dy));
    FUZZ_CHECK(x.nodata_present == y.nodata_present);
    FUZZ_CHECK(fuzz::same_double(x.nodata_value, y.nodata_value));
    FUZZ_CHECK(x.x_center == y.x_center && x.y_center == y.y_center);
    FUZZ_CHECK(x.first_value_present == y.first_value_present);
    if (x.first_value_present)
        FUZZ_CHECK(fuzz::same_double(x.first_value, y.first_value));

    FUZZ_CHECK(a.body_tried == b.body_tried);
    if (!a.body_tried)
        return;
    FUZZ_CHECK(a.body_read == b.body_read);
    FUZZ_CHECK(a.fault.kind == b.fault.kind);
    FUZZ_CHECK(a.fault.line == b.fault.line && a.fault.column == b.fault.column);
    FUZZ_CHECK(a.fault.file_line == b.fault.file_line);
    FUZZ_CHECK(a.fault.word == b.fault.word);
    FUZZ_CHECK(a.cells.size() == b.cells.size());
    for (size_t k = 0; k < a.cells.size(); k++)
        FUZZ_CHECK(fuzz::same_double(a.cells[k], b.cells[k]));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Under libFuzzer every worker runs on this thread: the shares of work are cut and
    // put together as with two threads, without a thread started and handed every block
    // of each of thousands of small inputs a second. The replay of the kept inputs, which
    // calls no initialisation, takes the two threads.
    set_worker_threads(false);
    return 0;
}

namespace {

// The file by bands of three lines, then again from line 0 in one band, read in blocks
// of block: the cells and the fault of its reading in those blocks.
void check_bands(const uint8_t *data, size_t size, size_t block, const grid_reading &whole)
{
    const char name[] = "c:\\images\\site\\fuzz.asc";
    std::unique_ptr<line_reader> reader =
        ascii_line_reader(fuzz::memory_file(data, size), name, whole.header.ncols, block);
    fuzz::check_band_reading(reader.get(), whole.header.nrows, whole.header.ncols, {3, whole.header.nrows},
                             whole.cells, whole.body_read,
                             ascii_body_fault_message(name, whole.header, whole.fault));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte picks the block size, 1 to 32 or 32 to 2064; the rest is the file.
    const size_t small_block = data[0] < 128 ? 1 + data[0] % 32 : 32 + (data[0] - 128) * 16u;
    data++;
    size--;
    static FILE *progress = std::fopen("/dev/null", "w");

    grid_reading small = read_in_blocks(data, size, small_block, progress);
    // Runs of half a block or more are parsed by two threads: the small blocks mostly take
    // that way, this block (twice the file) the one-thread way.
    grid_reading whole = read_in_blocks(data, size, 2 * size + 64, nullptr);
    grid_reading plain = read_word_by_word(data, size);
    expect_same(small, plain);
    expect_same(whole, plain);
    if (small.body_tried)
        check_bands(data, size, small_block, small);
    // A body read to its end has written every cell; a stopped one every cell before
    // the fault and none after it.
    if (small.body_tried) {
        const int64_t reached =
            small.body_read
                ? static_cast<int64_t>(small.cells.size())
                : static_cast<int64_t>(small.fault.line - 1) * small.header.ncols + (small.fault.column - 1);
        for (size_t k = 0; k < small.cells.size(); k++)
            FUZZ_CHECK(fuzz::is_untouched(small.cells[k]) == (static_cast<int64_t>(k) >= reached));
    }
    return 0;
}
