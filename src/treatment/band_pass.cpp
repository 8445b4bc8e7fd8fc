#include "treatment/band_pass.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "console/console.h"
#include "globals/globals.h"
#include "gridfiles/grid_memory.h"
#include "gridfiles/input_grid.h"
#include "platform/memory.h"
#include "platform/worker_thread.h"
#include "regrid/band_lines.h"
#include "treatment/band_table.h"
#include "treatment/class_budget.h"
#include "treatment/stable_ground.h"

namespace {

// A row of blocks of each file and of the GeoTIFF output, beside the bands.
const double FILE_BLOCK_LINES = 256.0;
// What the program holds before any grid: its libraries, PROJ's database, the report's map.
const double PROGRAM_BYTES = 48.0 * 1024 * 1024;
// The most lines of a band: more saves nothing, and a band of a few megabytes is reused
// from the processor's caches rather than fetched as fresh memory.
const int32_t BAND_LINES_MOST = 256;

// Each DEM's error grid read in bands (null without), on the DEM's own cells.
std::unique_ptr<line_reader> error_lines[2];

struct run_band_state {
    held_lines first, second;
    held_lines classes, stable;  // grids of the first's cells read beside it
    held_lines errors[2];        // each DEM's error grid, on its DEM's cells
    frame_plan plan;
    int32_t first_line = 0, first_column = 0;
    bool resampled = false;  // the second's band is computed, not its lines themselves
    std::vector<double *> pointed;  // the second's lines themselves, to be copied and adjusted
    std::vector<double *> first_rows, first_error_rows;
    band_table<double> second_rows, out_rows;  // the second's band resampled; the result's
    band_table<double> second_error_rows;      // the second's error band, as its values'
    // The thread that reads a band's files beside the run's own.
    std::shared_ptr<worker_thread> band_reader;
    int32_t band_first = 0, band_end = 0;
    int32_t rows_first = 0, rows_end = 0;  // the first's lines pointed at: the band's and its neighbours
};
run_band_state bands;
// The first's lines beside each band that are held too (the slope's kernel reads one).
int32_t neighbour_lines = 0;

// A thread kept for the run's bands, ended with them (or when a stopped run exits).
std::shared_ptr<worker_thread> start_band_worker()
{
    std::shared_ptr<worker_thread> worker(new worker_thread(), [](worker_thread *w) {
        worker_stop(w);
        delete w;
    });
    return worker_start(worker.get()) ? worker : nullptr;
}

// Each error grid's lines of the band [first, end) (true without the grid): the first's
// on the first DEM's lines, the second's brought onto the result's frame by the second
// DEM's very kernel and lines.
bool load_first_error_band(int32_t first, int32_t end, std::string *fault)
{
    held_lines &first_errors = bands.errors[0];
    if (first_errors.reader == nullptr)
        return true;
    for (int32_t i = bands.band_first; i < bands.band_end; i++)
        bands.first_error_rows[static_cast<size_t>(i)] = nullptr;
    if (!hold_lines(&first_errors, bands.first_line + first, bands.first_line + end, fault))
        return false;
    for (int32_t i = first; i < end; i++)
        bands.first_error_rows[static_cast<size_t>(i)] =
            first_errors.table[static_cast<size_t>(bands.first_line + i)] + bands.first_column;
    return true;
}

bool load_second_error_band(int32_t first, int32_t end, std::string *fault)
{
    held_lines &second_errors = bands.errors[1];
    if (second_errors.reader == nullptr)
        return true;
    int32_t from = 0, to = 0;
    second_lines_of_band(bands.plan, second_errors.lines, first, end, &from, &to);
    if (!hold_lines(&second_errors, from, to, fault))
        return false;
    bands.second_error_rows.hold(first, end, nb_lig, bands.resampled ? nb_col : 0);
    second_band_onto_frame(bands.plan, held_view(second_errors), bands.second_error_rows.lines.data(), nb_col,
                           first, end);
    return true;
}

// An alignment's plan of the second's bands, and what is done to each band after it.
frame_plan moved_plan;
second_band_adjust moved_adjust;

// The second's lines of the band [first, end) onto the result's frame; false with the
// file's fault.
bool load_second_band(int32_t first, int32_t end, std::string *fault)
{
    int32_t from = 0, to = 0;
    second_lines_of_band(bands.plan, bands.second.lines, first, end, &from, &to);
    if (!hold_lines(&bands.second, from, to, fault))
        return false;
    // On one lattice the second's band is its held lines themselves, pointed at.
    double **second_rows = bands.second_rows.hold(first, end, nb_lig, bands.resampled ? nb_col : 0);
    if (bands.pointed.empty()) {
        second_band_onto_frame(bands.plan, held_view(bands.second), second_rows, nb_col, first, end);
    } else {
        // The held lines are the grid's, read again by the next band: the band adjusted is a copy.
        second_band_onto_frame(bands.plan, held_view(bands.second), bands.pointed.data(), nb_col, first, end);
        for (int32_t i = first; i < end; i++)
            std::copy(bands.pointed[static_cast<size_t>(i)], bands.pointed[static_cast<size_t>(i)] + nb_col,
                      second_rows[i]);
    }
    if (moved_adjust)
        moved_adjust(second_rows, first, end);
    return true;
}


int32_t own_lines(const grid_frame &frame, int32_t lines)
{
    return frame.lines > 0 ? frame.lines : lines;
}

int32_t own_columns(const grid_frame &frame, int32_t columns)
{
    return frame.columns > 0 ? frame.columns : columns;
}

} // namespace

bool run_works_in_bands()
{
    return first_input().by_bands && first_input().reader != nullptr && second_input().reader != nullptr;
}

void start_run_bands()
{
    bands = run_band_state();
    bands.plan = moved_adjust ? moved_plan : run_plan_or_same();
    first_grid_window(&bands.first_line, &bands.first_column);
    const run_frames &frames = run_frame_record();
    const int32_t first_lines = frames.planned ? own_lines(frames.first, nb_lig) : nb_lig;
    const int32_t first_columns = frames.planned ? own_columns(frames.first, nb_col) : nb_col;
    start_held_lines(&bands.first, first_input().reader.get(), first_lines, first_columns);
    start_held_lines(&bands.second, second_input().reader.get(), nb_lig2, nb_col2);
    if (run_class_lines() != nullptr)
        start_held_lines(&bands.classes, run_class_lines(), first_lines, first_columns);
    if (run_stable_lines() != nullptr)
        start_held_lines(&bands.stable, run_stable_lines(), first_lines, first_columns);
    if (error_lines[0] != nullptr) {
        start_held_lines(&bands.errors[0], error_lines[0].get(), first_lines, first_columns);
        bands.first_error_rows.assign(static_cast<size_t>(nb_lig), nullptr);
        dtab_sigma1 = bands.first_error_rows.data();
    }
    if (error_lines[1] != nullptr) {
        start_held_lines(&bands.errors[1], error_lines[1].get(), nb_lig2, nb_col2);
        dtab_sigma2 = bands.second_error_rows.hold(0, 0, nb_lig, nb_col);
    }
    bands.band_reader = start_band_worker();
    // What the run holds from here (the bands' lines, the report's map, the stable
    // changes) in large pages where the system offers them: a fault for each small page
    // of fresh memory costs more than decoding its cells. Only the memory touched is taken.
    grid_memory_hint(static_cast<size_t>(run_memory()));
    bands.resampled = bands.plan.kind != frames_same && bands.plan.kind != frames_common_part;
    if (moved_adjust && !bands.resampled) {
        bands.pointed.assign(static_cast<size_t>(nb_lig), nullptr);
        bands.resampled = true;
    }
    const size_t lines = static_cast<size_t>(nb_lig);
    bands.first_rows.assign(lines, nullptr);
    dtab_dem1 = bands.first_rows.data();
    dtab_dem2 = bands.second_rows.hold(0, 0, nb_lig, nb_col);
    dtab_out = bands.out_rows.hold(0, 0, nb_lig, nb_col);
}

int32_t run_band_lines(size_t row_lines)
{
    int32_t lines = forced_band_lines();
    if (lines <= 0) {
        // Per line of the result: the first's line, the second's lines it reads, its own
        // band when resampled, and the result's.
        const double second_share = bands.resampled ? std::max(1.0, static_cast<double>(bands.second.lines) /
                                                                       std::max(1, nb_lig))
                                                    : 1.0;
        // Error grids read in bands take as much again as the epoch they lie beside.
        const double first_share = bands.errors[0].reader != nullptr ? 2.0 : 1.0;
        const double second_grids = bands.errors[1].reader != nullptr ? 2.0 : 1.0;
        const double per_line = 8.0 * (first_share * bands.first.columns +
                                       second_grids * second_share * bands.second.columns +
                                       (bands.resampled ? second_grids + 1.0 : 1.0) * nb_col);
        const double blocks = 8.0 * FILE_BLOCK_LINES *
                              (first_share * bands.first.columns + second_grids * bands.second.columns + nb_col);
        const double fit = (run_memory() - PROGRAM_BYTES - blocks) / per_line;
        lines = std::max(1, static_cast<int32_t>(std::min(fit, static_cast<double>(BAND_LINES_MOST))));
    }
    const int32_t row = static_cast<int32_t>(std::max<size_t>(row_lines, 1));
    return std::max(1, std::min(nb_lig, std::max(row, (lines + row - 1) / row * row)));
}

void load_run_band(int32_t first, int32_t end, bool classes)
{
    // The band's files are read on two threads, each taking the next file not yet taken
    // (each file has its own reader and table): the epochs first, then the error grids,
    // then the class grid and the mask, so that the larger reads are spread first and
    // the smaller fill in behind whichever thread is free.
    for (int32_t i = bands.rows_first; i < bands.rows_end; i++)
        bands.first_rows[static_cast<size_t>(i)] = nullptr;
    // The first's neighbour lines within the result's frame: its edges are the kernels' edges.
    const int32_t rows_first = std::max(0, first - neighbour_lines);
    const int32_t rows_end = std::min(nb_lig, end + neighbour_lines);
    enum { SECOND, FIRST, SECOND_ERRORS, FIRST_ERRORS, STABLE, CLASSES, READS };
    struct band_read {
        bool ok = true;
        std::string fault;
    } reads[READS];
    const auto read = [&](int k) {
        std::string *fault = &reads[k].fault;
        const int32_t top = bands.first_line;
        switch (k) {
        case SECOND:
            return load_second_band(first, end, fault);
        case FIRST:
            return hold_lines(&bands.first, top + rows_first, top + rows_end, fault);
        case SECOND_ERRORS:
            return load_second_error_band(first, end, fault);
        case FIRST_ERRORS:
            return load_first_error_band(first, end, fault);
        case STABLE:
            return bands.stable.reader == nullptr || hold_lines(&bands.stable, top + first, top + end, fault);
        default:
            return !classes || bands.classes.reader == nullptr ||
                   hold_lines(&bands.classes, top + first, top + end, fault);
        }
    };
    std::atomic<int> next{0};
    const auto take_reads = [&] {
        for (int k = next++; k < READS; k = next++)
            reads[k].ok = read(k);
    };
    worker_thread *const band_reader = bands.band_reader.get();
    if (band_reader != nullptr)
        worker_post(band_reader, take_reads);
    take_reads();
    if (band_reader != nullptr)
        worker_wait(band_reader);
    // A fault stops the run once no thread reads, as the files come in the run: the
    // first's, the class grid's, the mask's, the second's, then the error grids'.
    for (const int k : {FIRST, CLASSES, STABLE, SECOND, FIRST_ERRORS, SECOND_ERRORS})
        if (!reads[k].ok)
            stop_with_message("%s", reads[k].fault.c_str());
    for (int32_t i = rows_first; i < rows_end; i++)
        bands.first_rows[static_cast<size_t>(i)] =
            bands.first.table[static_cast<size_t>(bands.first_line + i)] + bands.first_column;
    bands.rows_first = rows_first;
    bands.rows_end = rows_end;
    bands.out_rows.hold(first, end, nb_lig, nb_col);
    bands.band_first = first;
    bands.band_end = end;
}

void load_run_second_band(int32_t first, int32_t end)
{
    std::string fault;
    if (!load_second_band(first, end, &fault))
        stop_with_message("%s", fault.c_str());
    bands.band_first = first;
    bands.band_end = end;
}

void load_run_stable_band(int32_t first, int32_t end)
{
    std::string fault;
    if (bands.stable.reader != nullptr &&
        !hold_lines(&bands.stable, bands.first_line + first, bands.first_line + end, &fault))
        stop_with_message("%s", fault.c_str());
    bands.band_first = first;
    bands.band_end = end;
}

void hold_run_band_neighbours(int32_t lines)
{
    neighbour_lines = std::max(0, lines);
}

double *const *run_band_class_values()
{
    return bands.classes.reader != nullptr ? bands.classes.table.data() : nullptr;
}

double *const *run_band_stable_values()
{
    return bands.stable.reader != nullptr ? bands.stable.table.data() : nullptr;
}

void keep_run_error_lines(bool second, std::unique_ptr<line_reader> reader)
{
    error_lines[second ? 1 : 0] = std::move(reader);
}

void move_run_second(const frame_plan &plan, const second_band_adjust &adjust)
{
    moved_plan = plan;
    moved_adjust = adjust;
}

void end_run_bands()
{
    if (bands.errors[0].reader != nullptr)
        dtab_sigma1 = nullptr;
    if (bands.errors[1].reader != nullptr)
        dtab_sigma2 = nullptr;
    bands = run_band_state();
    dtab_dem1 = dtab_dem2 = dtab_out = nullptr;
}
