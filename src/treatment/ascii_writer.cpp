#include "treatment/ascii_writer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

#include "console/console.h"
#include "console/progress.h"
#include "coordinates/coordinate_system.h"
#include "platform/worker_thread.h"
#include "globals/globals.h"
#include "text/number_text.h"
#include "treatment/frame_area.h"
#include "treatment/output_choices.h"
#include "treatment/output_space.h"

namespace {

// The longest text of one cell: the number and its tab.
const size_t CELL_TEXT_MAX = FIXED6_MAX_CHARS + 1;

// The lines at hand: lines [first_line, ...) of the grid in rows.
struct line_band {
    double *const *rows;
    size_t first_line;
};

// Cells [first_cell, first_cell + count) of the grid, in line order and all within the
// band, formatted into out while they surely fit; returns how many were.
size_t format_grid_cells(const line_band &band, size_t columns, size_t first_cell, size_t count, char *out,
                         const char *out_end, char **text_end)
{
    size_t row = first_cell / columns - band.first_line;
    size_t col = first_cell % columns;
    size_t done = 0;
    *text_end = out;
    while (done < count) {
        const size_t run = std::min(count - done, columns - col);
        const size_t got = format_ascii_cells(band.rows[row] + col, run, *text_end, out_end, text_end);
        done += got;
        if (got < run)
            break;
        row++;
        col = 0;
    }
    return done;
}

// The output as it is made: text blocks go to the file in cell order, and the
// progress line of a grid line is shown before the block that holds its first cell.
struct grid_output {
    FILE *fp;
    line_band band;
    size_t columns, lines;
    FILE *progress;
    size_t next_row;
};

bool write_text(grid_output *out, size_t cells_end, const char *text, size_t size)
{
    while (out->next_row < out->lines && out->next_row * out->columns < cells_end) {
        if (out->progress) {
            std::fprintf(out->progress, "\tline %zu              \r", out->next_row);
            std::fflush(out->progress);
        }
        out->next_row += 100;
    }
    progress_to(static_cast<double>(cells_end) / static_cast<double>(out->columns * out->lines));
    // A full disk is found at the first block, not after gigabytes of text.
    return std::fwrite(text, 1, size, out->fp) == size;
}

// Formats and writes cells [first_cell, end_cell) through block, one full block at a
// time. The cells up to first_cell + already are in block's first text_size characters.
bool write_cells(grid_output *out, size_t first_cell, size_t end_cell, size_t already, std::vector<char> *block,
                 size_t text_size)
{
    char *const start = block->data();
    const char *const stop = start + block->size();
    size_t cell = first_cell + already;
    char *fill = start + text_size;
    while (cell < end_cell) {
        cell += format_grid_cells(out->band, out->columns, cell, end_cell - cell, fill, stop, &fill);
        if (cell < end_cell) {
            if (!write_text(out, cell, start, static_cast<size_t>(fill - start)))
                return false;
            fill = start;
        }
    }
    return write_text(out, cell, start, static_cast<size_t>(fill - start));
}

// A run of cells formatted, wholly or from its start, into a block not yet written.
struct formatted_run {
    size_t first_cell, end_cell;
    size_t done;        // cells formatted into block
    size_t text_size;   // characters they took
    std::vector<char> *block;
};

void format_run(const line_band &band, size_t columns, formatted_run *run)
{
    char *end = nullptr;
    run->done = format_grid_cells(band, columns, run->first_cell, run->end_cell - run->first_cell,
                                  run->block->data(), run->block->data() + run->block->size(), &end);
    run->text_size = static_cast<size_t>(end - run->block->data());
}

bool write_run(grid_output *out, const formatted_run &run)
{
    return write_cells(out, run.first_cell, run.end_cell, run.done, run.block, run.text_size);
}

// The text of each band of lines in rounds of two runs of cells, formatted at once by two
// threads and written in order. While the worker formats its run of a round, this thread
// writes the text of the round before and then formats its own, shorter, run: the
// lengths are set so that both threads take about as long. A band's text is all written
// before the next band comes: its lines may then go.
struct round_output {
    grid_output out;
    size_t block_size;
    std::vector<char> first_block;
    std::vector<char> second_blocks[2];  // the worker's, one per round in turn
    formatted_run pending[2];            // the round formatted, not yet written
    bool have_pending;
    double bytes_per_cell;               // text length per cell seen so far, with room
    double share;                        // this thread's part of a round
    int turn;
    worker_thread worker;
};

struct round_lengths {
    size_t first, second;
};

// The worker's run aims to fill most of a block, from the text length of the cells
// seen so far; a run that does not fit is finished after its block is written. False
// when less than a block of cells is left before the band's end: the rest goes out on
// one thread.
bool plan_round(const round_output &rounds, size_t cell, size_t total, round_lengths *lengths)
{
    size_t second = static_cast<size_t>(static_cast<double>(rounds.block_size - CELL_TEXT_MAX) /
                                        rounds.bytes_per_cell) + 1;
    size_t first = std::max<size_t>(1, static_cast<size_t>(rounds.share / (1.0 - rounds.share) *
                                                            static_cast<double>(second)));
    const size_t left = total - cell;
    if (left < first + second) {
        if (left < second)
            return false;
        // The last round, shortened in the same proportions.
        first = std::max<size_t>(1, left * first / (first + second));
        second = left - first;
    }
    *lengths = {first, second};
    return true;
}

bool write_pending(round_output *rounds)
{
    const bool had = rounds->have_pending;
    rounds->have_pending = false;
    return !had || (write_run(&rounds->out, rounds->pending[0]) && write_run(&rounds->out, rounds->pending[1]));
}

// One round from cell on. False as soon as a write fails.
bool format_round(round_output *rounds, size_t cell, const round_lengths &lengths)
{
    using steady = std::chrono::steady_clock;
    std::vector<char> &second_block = rounds->second_blocks[rounds->turn];
    if (second_block.empty())
        second_block.resize(rounds->block_size);
    formatted_run first{cell, cell + lengths.first, 0, 0, &rounds->first_block};
    formatted_run second{first.end_cell, first.end_cell + lengths.second, 0, 0, &second_block};
    const line_band band = rounds->out.band;
    const size_t columns = rounds->out.columns;
    double second_time = 0.0;
    worker_post(&rounds->worker, [&] {
        const steady::time_point begun = steady::now();
        format_run(band, columns, &second);
        second_time = seconds_between(begun, steady::now());
    });
    const steady::time_point start = steady::now();
    const bool written = write_pending(rounds);
    const steady::time_point formatting = steady::now();
    if (written)
        format_run(band, columns, &first);
    const steady::time_point finished = steady::now();
    worker_wait(&rounds->worker);
    if (!written)
        return false;
    rounds->pending[0] = first;
    rounds->pending[1] = second;
    rounds->have_pending = true;

    // This thread's run is at least a tenth of the worker's, and never longer.
    rounds->share = rebalanced_share(rounds->share,
                                     {seconds_between(formatting, finished), static_cast<double>(first.done),
                                      second_time, static_cast<double>(second.done),
                                      seconds_between(start, formatting)},
                                     1.0 / 11.0, 0.5);
    rounds->bytes_per_cell = 1.25 * static_cast<double>(first.text_size + second.text_size) /
                             static_cast<double>(first.done + second.done);
    rounds->turn ^= 1;
    return true;
}

// The characters of one cell's text, its tab included; values of 10^8 and more, rare in
// grids, are formatted into text to be counted.
size_t fixed6_cell_length(double value, std::vector<char> *text)
{
    if (value != value)
        value = ASCII_OUTPUT_NODATA;
    const double size = std::fabs(value);
    if (size < 1e8) {
        const double whole = std::floor(size + 0.0000005);  // as the six decimals round it
        size_t digits = 1;
        for (double ten = 10.0; whole >= ten; ten *= 10.0)
            digits++;
        return (std::signbit(value) ? 1 : 0) + digits + 8;
    }
    text->resize(FIXED6_MAX_CHARS);
    return static_cast<size_t>(format_fixed6(text->data(), value) - text->data()) + 1;
}

// The output of the run, from its start to its finish.
ascii_grid_writer *run_writer = nullptr;
size_t run_header_chars = 0;
bool space_judged = false;

} // namespace

struct ascii_grid_writer {
    round_output rounds;
    bool written = true;  // false once a write failed
};

std::string format_ascii_header(int32_t ncols, int32_t nrows, double xll, double yll, double cellsize,
                                double cellsize_y)
{
    // Six decimals would move a grid in degrees off its inputs' cells.
    const std::string cells = cells_square(cellsize, cellsize_y)
                                  ? "\ncellsize " + exact_real_text(cellsize)
                                  : "\ndx " + exact_real_text(cellsize) + "\ndy " + exact_real_text(cellsize_y);
    return "ncols " + std::to_string(ncols) + "\nnrows " + std::to_string(nrows) + "\nxllcorner " +
           exact_real_text(xll) + "\nyllcorner " + exact_real_text(yll) + cells + "\nnodata_value -9999.9999\n";
}

size_t format_ascii_cells(const double *cells, size_t count, char *out, const char *out_end,
                          char **text_end)
{
    size_t done = 0;
    while (done < count && static_cast<size_t>(out_end - out) >= CELL_TEXT_MAX) {
        const double value = cells[done];
        out = format_fixed6(out, value != value ? ASCII_OUTPUT_NODATA : value);
        *out++ = '\t';
        done++;
    }
    *text_end = out;
    return done;
}

ascii_grid_writer *start_ascii_grid(FILE *fp, int32_t nb_col, int32_t nb_lig, double xll, double yll,
                                    double cellsize, double cellsize_y, FILE *progress, size_t block_size)
{
    ascii_grid_writer *writer = new ascii_grid_writer;
    const std::string header = format_ascii_header(nb_col, nb_lig, xll, yll, cellsize, cellsize_y);
    writer->written = std::fwrite(header.data(), 1, header.size(), fp) == header.size();
    round_output &rounds = writer->rounds;
    rounds.out = {fp, {nullptr, 0}, static_cast<size_t>(std::max(nb_col, 0)), static_cast<size_t>(std::max(nb_lig, 0)),
                  progress, 100};
    rounds.block_size = std::max(block_size, CELL_TEXT_MAX);
    rounds.have_pending = false;
    rounds.bytes_per_cell = 16.0;
    rounds.share = 0.5;
    rounds.turn = 0;
    return writer;
}

bool write_ascii_lines(ascii_grid_writer *writer, int32_t first, int32_t end, double *const *rows)
{
    round_output &rounds = writer->rounds;
    if (!writer->written || end <= first || rounds.out.columns == 0)
        return writer->written;
    if (rounds.first_block.empty())
        rounds.first_block.resize(rounds.block_size);
    rounds.out.band = {rows, static_cast<size_t>(first)};
    const size_t band_end = static_cast<size_t>(end) * rounds.out.columns;
    size_t cell = static_cast<size_t>(first) * rounds.out.columns;
    bool written = true;
    round_lengths lengths;
    while (written && plan_round(rounds, cell, band_end, &lengths)) {
        if (!rounds.worker.running && !worker_start(&rounds.worker))
            break;  // no second thread to be had
        written = format_round(&rounds, cell, lengths);
        cell += lengths.first + lengths.second;
    }
    writer->written = written && write_pending(&rounds) &&
                      write_cells(&rounds.out, cell, band_end, 0, &rounds.first_block, 0);
    return writer->written;
}

bool finish_ascii_grid(ascii_grid_writer *writer)
{
    worker_stop(&writer->rounds.worker);
    const bool written = writer->written;
    delete writer;
    return written;
}

bool write_ascii_grid(FILE *fp, double *const *grid, int32_t nb_col, int32_t nb_lig, double xll, double yll,
                      double cellsize, double cellsize_y, FILE *progress, size_t block_size)
{
    ascii_grid_writer *writer = start_ascii_grid(fp, nb_col, nb_lig, xll, yll, cellsize, cellsize_y, progress,
                                                 block_size);
    write_ascii_lines(writer, 0, nb_lig, grid);
    return finish_ascii_grid(writer);
}

size_t ascii_lines_text_length(double *const *rows, int32_t count, int32_t columns, int32_t *counted)
{
    // Lines evenly spread, about a million cells: a grid's lines are much alike.
    const size_t cells = static_cast<size_t>(std::max(count, 0)) * static_cast<size_t>(std::max(columns, 0));
    const int32_t step = static_cast<int32_t>(std::max<size_t>(1, cells / (size_t(1) << 20)));
    std::vector<char> text;
    size_t length = 0;
    *counted = 0;
    for (int32_t i = 0; i < count; i += step, ++*counted)
        for (int32_t j = 0; j < columns; j++)
            length += fixed6_cell_length(rows[i][j], &text);
    return length;
}

void ascii_output_paths(const std::string &stem, std::string *grid, std::string *unused)
{
    *grid = stem + ".asc";
    unused->clear();
}

void create_ascii_output(const std::string &grid, const std::string &)
{
    f3 = create_output_file(grid, "w");
    // GIS tools read the grid's coordinate system from NAME.prj beside it.
    const std::string prj = crs_prj_text(result_coordinate_system().crs);
    if (prj.empty())
        return;
    FILE *fp = create_output_file(grid.substr(0, grid.size() - 4) + ".prj", "wb");
    if (std::fwrite(prj.data(), 1, prj.size(), fp) != prj.size())
        stop_output_failed(fp);
    finish_output(fp);
}

void ask_output_corner(double *x, double *y)
{
    std::printf("\n\n\tUTM Coordinates : ");
    *x = ask_real("\n\t\tX_min ? ");
    *y = ask_real("\t\tY_min ? ");
}

void output_corner_and_cell_size(double *cellsize, double *cellsize_y)
{
    if (Coord_UTM_dem1_OK != 0 || Coord_UTM_dem2_OK != 0) {
        *cellsize = dpix_size;
        *cellsize_y = dpix_size_y;
        return;
    }
    // Two raster inputs: no file has given a corner, nor a cell size, for which the second
    // raster's pixel size in metres stands.
    output_answers.corner(&X_min, &Y_min);
    *cellsize = dpix_size2;
    *cellsize_y = dpix_size2;
}

void ascii_start_output(double, double)
{
    double cellsize = 0.0, cellsize_y = 0.0;
    output_corner_and_cell_size(&cellsize, &cellsize_y);
    std::printf("\n\n\tsaving \n\n");
    std::fflush(stdout);
    run_writer = start_ascii_grid(f3, nb_col, nb_lig, X_min, Y_min, cellsize, cellsize_y, stdout);
    run_header_chars = format_ascii_header(nb_col, nb_lig, X_min, Y_min, cellsize, cellsize_y).size();
    space_judged = false;
}

void ascii_output_lines(int32_t first, int32_t end, double *const *rows)
{
    if (!space_judged) {
        // The header is still in the file's buffer: nothing of the grid is on the disk.
        space_judged = true;
        int32_t counted = 0;
        const double counted_chars = static_cast<double>(ascii_lines_text_length(rows, end - first, nb_col, &counted));
        require_disk_space(f3, ascii_output_estimate(run_header_chars, counted_chars, counted, nb_lig));
    }
    if (!write_ascii_lines(run_writer, first, end, rows)) {
        const int error = errno;
        finish_ascii_grid(run_writer);
        run_writer = nullptr;
        errno = error;
        stop_output_failed(f3);
    }
}

void ascii_finish_output()
{
    const bool written = finish_ascii_grid(run_writer);
    run_writer = nullptr;
    if (!written)
        stop_output_failed(f3);
    finish_output(f3);
    f3 = nullptr;
}

void ascii_output(double d_min, double d_max)
{
    ascii_start_output(d_min, d_max);
    ascii_output_lines(0, nb_lig, dtab_out);
    ascii_finish_output();
}
