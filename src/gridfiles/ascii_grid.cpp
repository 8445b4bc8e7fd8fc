#include "gridfiles/ascii_grid.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "console/console.h"
#include "console/progress.h"
#include "gridfiles/grid_memory.h"
#include "gridfiles/input_grid.h"
#include "gridfiles/raster_pair.h"
#include "platform/worker_thread.h"
#include "globals/globals.h"
#include "nrutil.h"
#include "platform/platform.h"
#include "text/number_text.h"

namespace {

const double NO_VALUE = std::numeric_limits<double>::quiet_NaN();

bool same_keyword(const std::string &word, const char *keyword)
{
    size_t n = std::strlen(keyword);
    if (word.size() != n)
        return false;
    for (size_t i = 0; i < n; i++) {
        char c = word[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != keyword[i])
            return false;
    }
    return true;
}

inline double held_value(double value, double nodata_value)
{
    return (value == nodata_value || value != value) ? NO_VALUE : value;
}

// The end of the word that starts at p. Most grid values are shorter than eight
// characters, so one eight-byte load usually finds the white space after them.
inline const char *word_end(const char *p, const char *last)
{
    const uint64_t ones = 0x0101010101010101ULL;
    while (last - p >= 8) {
        uint64_t chunk;
        std::memcpy(&chunk, p, 8);
        // The lowest flagged byte is the first one below '!'; bytes above it may be
        // flagged wrongly, but only the lowest is used.
        const uint64_t below = (chunk - ones * 0x21) & ~chunk & (ones * 0x80);
        if (below == 0) {
            p += 8;
            continue;
        }
        p += __builtin_ctzll(below) >> 3;
        if (is_white(*p))
            return p;
        p++;  // a control character inside the word: it goes on
    }
    while (p < last && !is_white(*p))
        p++;
    return p;
}

// Copies values, held consecutively, into the cells from first_cell on.
void store_cells(const double *values, int64_t count, double *const *grid, int32_t nb_col, int64_t first_cell)
{
    int64_t row = first_cell / nb_col;
    int32_t col = static_cast<int32_t>(first_cell % nb_col);
    while (count > 0) {
        const int64_t run = std::min<int64_t>(count, nb_col - col);
        std::memcpy(grid[row] + col, values, static_cast<size_t>(run) * sizeof(double));
        values += run;
        count -= run;
        row++;
        col = 0;
    }
}

// Where a run of text can be cut in two for two threads: at the first white space
// from the given share of its length on; last when there is none.
const char *split_point(const char *first, const char *last, double first_share)
{
    const char *p = first + static_cast<ptrdiff_t>(static_cast<double>(last - first) * first_share);
    while (p < last && !is_white(*p))
        p++;
    return p;
}

// The share of a run that this thread parses, set to even out the two threads' times.
struct split_balance {
    double first_share = 0.5;
};

// Values of the second half of a split run, parsed before it is known which cell
// they start at. Grown on demand; only the pages written are ever touched.
struct value_scratch {
    std::unique_ptr<double[]> values;
    int64_t capacity = 0;
};

double *scratch_for(value_scratch *scratch, int64_t count)
{
    if (count > scratch->capacity) {
        scratch->values.reset(new (std::nothrow) double[static_cast<size_t>(count)]);
        scratch->capacity = scratch->values ? count : 0;
    }
    return scratch->values.get();
}

// The text [first, last) parsed into the cells from first_cell on, by two threads when
// the run is long: the first half straight into the grid, the second into scratch
// values that are then moved to the cells after the first half's. What is reported
// is what one pass over the whole run would report: values beyond cell_count, and
// faults among them, are never looked at.
cells_parse parse_cells_in_two(const char *first, const char *last, double *const *grid, int32_t nb_col,
                               int64_t first_cell, int64_t cell_count, double nodata_value,
                               value_scratch *scratch, split_balance *balance, worker_thread *worker)
{
    using steady = std::chrono::steady_clock;
    const char *middle = split_point(first, last, balance->first_share);
    // A run holds at most one word in two characters.
    const int64_t second_most = std::min<int64_t>(cell_count, (last - middle) / 2 + 1);
    double *values = nullptr;
    if (middle < last && second_most <= std::numeric_limits<int32_t>::max())
        values = scratch_for(scratch, second_most);
    if (values == nullptr || (!worker->running && !worker_start(worker)))
        return parse_cells(first, last, grid, nb_col, first_cell, cell_count, nodata_value);

    // The scratch values are one grid line long.
    double *scratch_line[1] = {values};
    cells_parse second{};
    double second_time = 0.0;
    worker_post(worker, [&] {
        const steady::time_point begun = steady::now();
        second = parse_cells(middle, last, scratch_line, static_cast<int32_t>(second_most), 0, second_most,
                             nodata_value);
        second_time = seconds_between(begun, steady::now());
    });
    const steady::time_point first_start = steady::now();
    cells_parse done = parse_cells(first, middle, grid, nb_col, first_cell, cell_count, nodata_value);
    const steady::time_point first_end = steady::now();
    worker_wait(worker);
    if (done.bad_word || done.cells == cell_count)
        return done;
    // The first half was used up to its end without a fault: the second follows on.
    const int64_t wanted = std::min(second.cells, cell_count - done.cells);
    store_cells(values, wanted, grid, nb_col, first_cell + done.cells);

    // The parsing speed of each thread gives the next share: this one also meets the
    // grid's memory first.
    balance->first_share = rebalanced_share(
        balance->first_share,
        {seconds_between(first_start, first_end), static_cast<double>(middle - first), second_time,
         static_cast<double>(last - middle), 0.0},
        0.3, 0.7);
    // Values the second half parsed beyond those wanted stay in the text for whoever
    // reads on (the next band of lines): the stop is just after the last one wanted.
    if (second.cells > wanted)
        second = parse_cells(middle, last, scratch_line, static_cast<int32_t>(second_most), 0, wanted, nodata_value);
    done.cells += wanted;
    done.line_breaks += second.line_breaks;
    done.stop = second.stop;
    // A word that is not a number after the last cell wanted is never looked at.
    done.bad_word = second.bad_word && done.cells < cell_count;
    return done;
}

// Which lines of the grid a reading of the body fills: from first_line on (the lines of
// its faults counted from the grid's first), its progress shown or not, and runs of text
// split between two threads only when at least least_split_cells are wanted (a band of
// a few lines takes its cells from the start of a run).
struct body_part {
    int32_t first_line = 0;
    bool shown = true;
    int64_t least_split_cells = 0;
};

bool read_body(text_source *src, const ascii_header &header, double *const *grid, int32_t nb_col, int32_t nb_lig,
               FILE *progress, ascii_body_fault *fault, worker_thread *worker, const body_part &part)
{
    const int64_t total = static_cast<int64_t>(nb_lig) * nb_col;
    const double nodata_value = header.nodata_present ? header.nodata_value : NO_VALUE;
    int64_t cell = 0;
    if (header.first_value_present && part.first_line == 0 && total > 0) {
        grid[0][0] = held_value(header.first_value, nodata_value);
        cell = 1;
    }
    // Runs of at least half a block are parsed by two threads.
    const size_t split_size = std::max<size_t>(src->block_size / 2, 2);
    value_scratch scratch;
    split_balance balance;
    int32_t next_row = 100;
    // The progress line of a grid line is shown once its first cell is reached.
    auto show_progress = [&] {
        if (!part.shown)
            return;
        progress_to(static_cast<double>(cell) / static_cast<double>(total));
        while (next_row < nb_lig && cell >= static_cast<int64_t>(next_row) * nb_col) {
            if (progress) {
                std::fprintf(progress, "\tline %d                   \r", next_row);
                std::fflush(progress);
            }
            next_row += 100;
        }
    };
    while (cell < total) {
        // Parse only up to the last white space read: a word cut by the block's end
        // waits for the next block.
        const char *text = src->text.data();
        size_t cut = src->end;
        if (!src->at_end) {
            while (cut > src->begin && !is_white(text[cut - 1]))
                cut--;
        }
        if (cut == src->begin) {
            if (src->at_end) {
                show_progress();
                fault->kind = src->failed ? body_read_failed : body_missing_value;
                fault->line = part.first_line + static_cast<int32_t>(cell / nb_col) + 1;
                fault->column = static_cast<int32_t>(cell % nb_col) + 1;
                fault->file_line = src->line;
                fault->error = src->error;
                return false;
            }
            text_source_refill(src);
            continue;
        }

        cells_parse done =
            cut - src->begin >= split_size && total - cell >= part.least_split_cells
                ? parse_cells_in_two(text + src->begin, text + cut, grid, nb_col, cell, total - cell, nodata_value,
                                     &scratch, &balance, worker)
                : parse_cells(text + src->begin, text + cut, grid, nb_col, cell, total - cell, nodata_value);
        src->begin = static_cast<size_t>(done.stop - text);
        src->line += done.line_breaks;
        cell += done.cells;
        show_progress();
        if (done.bad_word) {
            size_t word_end = src->begin;
            while (word_end < cut && !is_white(text[word_end]))
                word_end++;
            fault->kind = body_not_number;
            fault->line = part.first_line + static_cast<int32_t>(cell / nb_col) + 1;
            fault->column = static_cast<int32_t>(cell % nb_col) + 1;
            fault->file_line = src->line;
            fault->word.assign(text + src->begin, text + word_end);
            return false;
        }
    }
    show_progress();
    return true;
}

// A word from the file as a message shows it: short, and printable.
std::string shown_word(const std::string &word)
{
    const size_t longest = 40;
    std::string shown;
    for (size_t i = 0; i < word.size() && i < longest; i++) {
        unsigned char c = static_cast<unsigned char>(word[i]);
        shown.push_back(c < 32 || c == 127 ? '?' : static_cast<char>(c));
    }
    if (word.size() > longest)
        shown += "...";
    return shown;
}

std::string unreadable_message(const std::string &path, int error)
{
    return text_printf("\n\tFile %s could not be read to its end (%s)\n", path.c_str(), std::strerror(error));
}

// error: the errno of the read that failed, kept when it failed.
[[noreturn]] void stop_unreadable(const std::string &path, int error)
{
    stop_with_message("%s", unreadable_message(path, error).c_str());
}

std::string header_fault_message(const std::string &path, const ascii_header &header)
{
    std::string word = shown_word(header.fault_word);
    const char *shown = word.c_str();
    switch (header.fault) {
    case header_bad_count:
        return text_printf("\n\tFile %s, header line %d: \"%s\" is not a whole number greater than 0\n",
                           path.c_str(), header.fault_line, shown);
    case header_value_not_number:
        return text_printf("\n\tFile %s, header line %d: \"%s\" is not a number\n", path.c_str(),
                           header.fault_line, shown);
    case header_cell_size_not_positive:
        return text_printf("\n\tFile %s, header line %d: \"%s\" is not a cell size greater than 0\n",
                           path.c_str(), header.fault_line, shown);
    default:
        return text_printf("\n\tFile %s ends within its header, at header line %d of %d\n", path.c_str(),
                           header.fault_line, header.dx_dy ? 7 : 6);
    }
}

[[noreturn]] void stop_on_header(const std::string &path, const ascii_header &header)
{
    stop_with_message("%s", header_fault_message(path, header).c_str());
}

[[noreturn]] void stop_on_body(const std::string &path, const ascii_header &header, const ascii_body_fault &fault)
{
    stop_with_message("%s", ascii_body_fault_message(path, header, fault).c_str());
}

// An ASCII grid read a band of lines at a time, its body validated whole when it was
// opened: each band parses the text again from where the band before it stopped, the
// first line's band from the header read again.
class ascii_band_reader : public line_reader {
public:
    ascii_band_reader(FILE *fp, const std::string &path, int32_t columns, size_t block_size)
        : fp_(fp), path_(path), columns_(columns), block_size_(block_size)
    {
    }
    ~ascii_band_reader() override
    {
        worker_stop(&worker_);
        std::fclose(fp_);
    }
    ascii_band_reader(const ascii_band_reader &) = delete;
    ascii_band_reader &operator=(const ascii_band_reader &) = delete;

    bool read_lines(int32_t first, int32_t end, double *const *rows, std::string *fault) override
    {
        if ((first < next_ || next_ < 0) && !restart(fault))
            return false;
        // Lines skipped (bands out of order) are parsed into one line left aside.
        if (first > next_) {
            std::vector<double> aside(static_cast<size_t>(columns_));
            const std::vector<double *> skipped(static_cast<size_t>(first - next_), aside.data());
            if (!read(next_, first, skipped.data(), fault))
                return false;
        }
        return read(first, end, rows, fault);
    }

private:
    // The header read again: the body's first value comes next.
    bool restart(std::string *fault)
    {
        next_ = -1;
        std::rewind(fp_);
        text_source_start(&src_, fp_, block_size_);
        header_ = ascii_header();
        const bool read = parse_ascii_header(&src_, &header_);
        if (src_.failed) {
            *fault = unreadable_message(path_, src_.error);
            return false;
        }
        if (!read) {
            *fault = header_fault_message(path_, header_);
            return false;
        }
        next_ = 0;
        return true;
    }
    bool read(int32_t first, int32_t end, double *const *rows, std::string *fault)
    {
        body_part part;
        part.first_line = first;
        part.shown = false;
        part.least_split_cells = static_cast<int64_t>(src_.block_size / 16);
        ascii_body_fault failure;
        if (!read_body(&src_, header_, rows, columns_, end - first, nullptr, &failure, &worker_, part)) {
            next_ = -1;
            *fault = ascii_body_fault_message(path_, header_, failure);
            return false;
        }
        next_ = end;
        return true;
    }

    FILE *fp_;
    std::string path_;
    int32_t columns_;
    size_t block_size_;
    text_source src_;
    ascii_header header_;
    worker_thread worker_;
    int32_t next_ = -1;  // the line the text is at; -1 before the header is read
};

// One reader for both input grids: they differ only in the globals they fill.
void read_ascii_grid(FILE **fp, const std::string &path, int32_t *ncols, int32_t *nrows, bool second,
                     double ***grid, grid_frame *frame, input_grid &bands)
{
    std::printf("\n");
    text_source src;
    text_source_start(&src, *fp);
    ascii_header header;
    bool header_read = parse_ascii_header(&src, &header);
    if (src.failed)
        stop_unreadable(path, src.error);
    if (!header_read && header.fault_line <= 2)
        stop_on_header(path, header);
    *ncols = header.ncols;
    *nrows = header.nrows;
    // A second grid of another frame than a raster pair's is refused before any of its
    // values is read; after a georeferenced first grid it is read at its own frame.
    if (second && Coord_UTM_dem1_OK == 0 && (nb_col2 != nb_col || nb_lig2 != nb_lig))
        stop_frame_differs("second DEM", path, nb_lig2, nb_col2, nb_lig, nb_col);
    if (!header_read)
        stop_on_header(path, header);
    choose_band_reading(bands, header.nrows, header.ncols);
    if (bands.by_bands)
        ;  // the grid takes no memory of the run's grids
    else if (!second)
        prepare_grid_memory();
    else
        prepare_more_grid_memory(header.nrows, header.ncols);

    frame->has_corner = true;
    frame->lines = header.nrows;
    frame->columns = header.ncols;
    frame->xll = header.xll;
    frame->yll = header.yll;
    frame->dx = header.cellsize;
    frame->dy = header.cellsize_y;
    frame->has_nodata = header.nodata_present;
    frame->nodata = header.nodata_present ? header.nodata_value : 0.0;

    ascii_body_fault fault;
    if (bands.by_bands) {
        // The body checked as the whole reading reads it (its progress lines, its faults),
        // every line of it parsed into the same one.
        // A value takes two bytes at least, its separator included: the file holds no more
        // lines than its size allows, whatever its header announces.
        // Nor more values on a line.
        *grid = nullptr;
        size_t table = static_cast<size_t>(*nrows), width = static_cast<size_t>(*ncols);
        unsigned long long bytes = 0;
        if (open_file_size(*fp, &bytes)) {
            const size_t values = static_cast<size_t>(std::min<unsigned long long>(bytes / 2 + 2, SIZE_MAX / 2));
            table = std::min(table, values / width + 2);
            width = std::min(width, values);
        }
        std::vector<double> line(width);
        const std::vector<double *> lines(table, line.data());
        worker_thread worker;
        const bool read = read_body(&src, header, lines.data(), *ncols, *nrows, stdout, &fault, &worker, body_part());
        worker_stop(&worker);
        if (!read)
            stop_on_body(path, header, fault);
        bands.reader = ascii_line_reader(*fp, path, *ncols);
        *fp = nullptr;
        return;
    }
    *grid = dmatrice(*ncols, *nrows);
    require_grid(*grid, *ncols, *nrows);
    if (!read_ascii_body(&src, header, *grid, *ncols, *nrows, stdout, &fault))
        stop_on_body(path, header, fault);
    std::fclose(*fp);
    *fp = nullptr;
}

// The text of the file whole; false when there is none.
bool read_whole_file(const std::string &path, std::string *text)
{
    FILE *fp = open_program_file(path, "rb");
    if (fp == nullptr)
        return false;
    text->clear();
    std::string block(4096, '\0');
    size_t got;
    while ((got = std::fread(&block[0], 1, block.size(), fp)) > 0)
        text->append(block, 0, got);
    std::fclose(fp);
    return true;
}

} // namespace

void text_source_start(text_source *src, FILE *fp, size_t block_size)
{
    src->fp = fp;
    src->block_size = block_size > 0 ? block_size : 1;
    src->text.assign(src->block_size, '\0');
    src->begin = 0;
    src->end = 0;
    src->at_end = false;
    src->failed = false;
    src->error = 0;
    src->line = 1;
}

bool text_source_refill(text_source *src)
{
    size_t left = src->end - src->begin;
    if (src->begin > 0 && left > 0)
        std::memmove(src->text.data(), src->text.data() + src->begin, left);
    src->begin = 0;
    src->end = left;
    if (src->at_end)
        return false;
    size_t room = src->text.size() - src->end;
    // A word longer than a block (only ever a strange keyword) makes the buffer grow.
    if (room == 0 || room < src->block_size / 2) {
        src->text.resize(std::max(src->text.size() * 2, src->end + src->block_size));
        room = src->text.size() - src->end;
    }
    errno = 0;
    size_t got = std::fread(src->text.data() + src->end, 1, room, src->fp);
    src->end += got;
    if (got < room) {
        src->at_end = true;
        src->failed = std::ferror(src->fp) != 0;
        // Kept now: what is read and parsed after this may change errno.
        if (src->failed)
            src->error = errno != 0 ? errno : EIO;
    }
    return got > 0;
}

bool text_source_word(text_source *src, std::string *word, int64_t *line)
{
    for (;;) {
        while (src->begin < src->end && is_white(src->text[src->begin])) {
            if (src->text[src->begin] == '\n')
                src->line++;
            src->begin++;
        }
        if (src->begin < src->end)
            break;
        if (!text_source_refill(src))
            return false;
    }
    size_t scanned = src->begin;
    for (;;) {
        while (scanned < src->end && !is_white(src->text[scanned]))
            scanned++;
        if (scanned < src->end || src->at_end)
            break;
        size_t offset = scanned - src->begin;
        text_source_refill(src);
        scanned = src->begin + offset;
    }
    word->assign(src->text.data() + src->begin, src->text.data() + scanned);
    *line = src->line;
    src->begin = scanned;
    return true;
}

bool parse_ascii_header(text_source *src, ascii_header *header)
{
    header->nodata_value = NO_VALUE;
    std::string keyword, value;
    int64_t file_line = 0;
    auto refuse = [&](ascii_header_fault fault, int header_line, const std::string &word) {
        header->fault = fault;
        header->fault_line = header_line;
        header->fault_file_line = fault == header_ends_early ? src->line : file_line;
        header->fault_word = word;
        return false;
    };
    // A keyword and its value; false with the fault filled when the file ends first.
    auto read_line = [&](int header_line) {
        if (!text_source_word(src, &keyword, &file_line) || !text_source_word(src, &value, &file_line))
            return refuse(header_ends_early, header_line, "");
        return true;
    };
    auto read_real = [&](int header_line, double *real) {
        if (!parse_real_word(value.data(), value.data() + value.size(), real))
            return refuse(header_value_not_number, header_line, value);
        return true;
    };

    // field numbers the six values; header_line counts the lines, seven with dx and dy.
    for (int field = 1, header_line = 1; field <= 6; field++, header_line++) {
        if (field == 6) {
            // The no-data line may be left out, and so may the whole body: the body
            // reader reports the missing values.
            if (!text_source_word(src, &keyword, &file_line))
                break;
            if (parse_real_word(keyword.data(), keyword.data() + keyword.size(), &header->first_value)) {
                header->first_value_present = true;
                break;
            }
            if (!text_source_word(src, &value, &file_line))
                return refuse(header_ends_early, header_line, "");
        } else if (!read_line(header_line)) {
            return false;
        }
        if (field <= 2) {
            int32_t count = 0;
            if (!parse_whole_number(value, &count) || count <= 0)
                return refuse(header_bad_count, header_line, value);
            (field == 1 ? header->ncols : header->nrows) = count;
            continue;
        }
        double real = 0.0;
        if (!read_real(header_line, &real))
            return false;
        switch (field) {
        case 3:
            header->xll = real;
            header->x_center = same_keyword(keyword, "xllcenter");
            break;
        case 4:
            header->yll = real;
            header->y_center = same_keyword(keyword, "yllcenter");
            break;
        case 5:
            // A cell of no size, or of a negative one, would give the budget no area or a
            // negative one.
            if (!(real > 0.0 && std::isfinite(real)))
                return refuse(header_cell_size_not_positive, header_line, value);
            header->cellsize = real;
            if (same_keyword(keyword, "dx")) {
                header->dx_dy = true;
                header->dx = real;
                header_line++;
                if (!read_line(header_line) || !read_real(header_line, &header->dy))
                    return false;
                if (!(header->dy > 0.0 && std::isfinite(header->dy)))
                    return refuse(header_cell_size_not_positive, header_line, value);
            }
            break;
        default:
            header->nodata_value = real;
            header->nodata_present = true;
            break;
        }
    }
    header->cellsize_y = header->dx_dy ? header->dy : header->cellsize;
    if (header->x_center)
        header->xll -= header->cellsize / 2.0;
    if (header->y_center)
        header->yll -= header->cellsize_y / 2.0;
    return true;
}

cells_parse parse_cells(const char *first, const char *last, double *const *grid, int32_t nb_col,
                        int64_t first_cell, int64_t cell_count, double nodata_value)
{
    cells_parse result{first, 0, 0, false};
    if (cell_count <= 0)
        return result;
    int64_t row = first_cell / nb_col;
    int32_t col = static_cast<int32_t>(first_cell % nb_col);
    double *line = grid[row];
    const char *p = first;
    int64_t stored = 0;
    int64_t breaks = 0;
    while (stored < cell_count) {
        while (p < last && is_white(*p)) {
            breaks += (*p == '\n');
            p++;
        }
        if (p == last)
            break;
        const char *word = p;
        p = word_end(p, last);
        double value;
        if (!parse_real_word(word, p, &value)) {
            p = word;
            result.bad_word = true;
            break;
        }
        line[col] = held_value(value, nodata_value);
        stored++;
        if (++col == nb_col) {
            col = 0;
            if (stored < cell_count)
                line = grid[++row];
        }
    }
    result.stop = p;
    result.cells = stored;
    result.line_breaks = breaks;
    return result;
}

bool read_ascii_body(text_source *src, const ascii_header &header, double **grid, int32_t nb_col,
                     int32_t nb_lig, FILE *progress, ascii_body_fault *fault)
{
    *fault = ascii_body_fault();
    worker_thread worker;
    const bool read = read_body(src, header, grid, nb_col, nb_lig, progress, fault, &worker, body_part());
    worker_stop(&worker);
    return read;
}

std::unique_ptr<line_reader> ascii_line_reader(FILE *fp, const std::string &path, int32_t columns, size_t block_size)
{
    return std::unique_ptr<line_reader>(new ascii_band_reader(fp, path, columns, block_size));
}

std::string ascii_body_fault_message(const std::string &path, const ascii_header &header,
                                     const ascii_body_fault &fault)
{
    switch (fault.kind) {
    case body_not_number:
        return text_printf("\n\tFile %s, line %lld: \"%s\" is not a number (grid line %d, column %d)\n",
                           path.c_str(), static_cast<long long>(fault.file_line), shown_word(fault.word).c_str(),
                           fault.line, fault.column);
    case body_missing_value:
        return text_printf("\n\tFile %s ends before the value of grid line %d, column %d: its header "
                           "announces %d lines of %d values\n",
                           path.c_str(), fault.line, fault.column, header.nrows, header.ncols);
    default:
        return unreadable_message(path, fault.error);
    }
}

void ascii_lecture1()
{
    read_ascii_grid(&f1, nomim1, &nb_col, &nb_lig, false, &dtab_dem1, &first_input().frame, first_input());
}

void ascii_lecture2()
{
    read_ascii_grid(&f2, nomim2, &nb_col2, &nb_lig2, true, &dtab_dem2, &second_input().frame, second_input());
    pix_size2 = truncate_to_int32(second_input().frame.dx);
}

void open_ascii_input(input_grid &grid)
{
    // GIS tools write the coordinate system of NAME.asc as NAME.prj beside it; PROJ reads
    // it once the grid is read.
    grid.geokeys = geo_keys();
    grid.frame = grid_frame();
    const std::string stem = grid.nomim.substr(0, grid.nomim.size() - 4);
    grid.geokeys.has_prj = read_whole_file(stem + ".prj", &grid.geokeys.prj);
    grid.geographic = 0;
    grid.f = open_program_file(grid.nomim, "r");
    if (grid.f == nullptr)
        stop_with_message("\n\tFile %s unknown\n", grid.nomim.c_str());
    if (grid.own_frame)
        read_ascii_grid(&grid.f, grid.nomim, &grid.columns, &grid.lines, true, &grid.dtab, &grid.frame, grid);
    else if (grid.second)
        ascii_lecture2();
    else
        ascii_lecture1();
    grid.corner_ok = 1;
}
