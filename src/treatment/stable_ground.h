// The change on stable ground (cells a mask marks as unchanged between the epochs):
// its median is the vertical bias between them, its NMAD the error of the change.
#ifndef ORMELIX_STABLE_GROUND_H
#define ORMELIX_STABLE_GROUND_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gridfiles/line_reader.h"
#include "platform/memory.h"
#include "treatment/change_budget.h"

struct stable_ground_figures {
    size_t cells = 0;     // stable cells with data in both grids
    double median = 0.0;  // of first - second there, metres
    double nmad = 0.0;    // 1.4826 x the median absolute deviation from the median
    double mean = 0.0;
    double std_dev = 0.0; // of the whole population of those cells (n, not n - 1)
};

// The mask of lines x columns cells of a grid of values as read, from its cell
// (first_line, first_column): 1 where the value is neither 0 nor NaN, else 0.
void stable_cells(double *const *values, int32_t first_line, int32_t first_column, int32_t lines, int32_t columns,
                  uint8_t *const *mask);
// The --stable grid as read (lines of the first grid's own cells) made the mask of the
// result's frame, its values released.
uint8_t **run_stable_cells(double **values, int32_t lines);

// The figures of first - second over the cells where mask is 1 and both grids have data
// (all 0 when there is none).
stable_ground_figures stable_ground(const uint8_t *const *mask, double *const *first, double *const *second,
                                    int32_t lines, int32_t columns);

// The same a band of lines at a time: lines [first_line, end_line) of the mask and the grids
// (tables of every line, holding those) added in order, band after band; then the figures,
// those of the whole grid's.
struct stable_ground_sums {
    // The changes in the lines' order: as floats while every one is a float exactly (half
    // the memory, for the single-precision grids most surveys come in), as doubles from
    // the first that is not, or from the start when wide is set before the first line.
    std::vector<float> narrow;
    std::vector<double> change;
    bool wide = false;
    compensated_sum sum;
};
void add_stable_lines(const uint8_t *const *mask, double *const *first, double *const *second, int32_t first_line,
                      int32_t end_line, int32_t columns, stable_ground_sums *sums);
stable_ground_figures finish_stable_ground(const stable_ground_sums *sums);
// The k-th smallest of values (k from 0, below their count; no NaN among them), as
// std::nth_element finds it, without reordering them or copying more than a part; and
// into *before (when given, k above 0) the (k - 1)-th, the other middle of an even count.
// With about given, of the values' distances from it, |value - *about|, as if the values
// had been replaced by them.
template <typename T>
double kth_smallest(const std::vector<T> &values, size_t k, double *before = nullptr, const double *about = nullptr);

// Before a band of band_cells cells, once lines_done of the frame's lines are done: room
// in list for the whole frame's at the rate of the cells so far (a tenth more), taken
// only when the band may not fit, so that a list grows by a copy or two rather than by
// doubling; the room not written takes no memory.
template <typename T>
void make_band_room(std::vector<T> *list, int32_t lines_done, int32_t lines, size_t band_cells)
{
    if (list->size() + band_cells <= list->capacity())
        return;
    const double rate = lines_done > 0 ? static_cast<double>(list->size()) / lines_done : 0.0;
    const size_t expected = static_cast<size_t>(1.1 * rate * lines);
    list->reserve(std::max(list->size() + band_cells, std::max(expected, 2 * list->capacity())));
    // The room after what is held, in large pages: a fault each 2 MiB rather than each 4 KiB.
    advise_large_pages(list->data() + list->size(), (list->capacity() - list->size()) * sizeof(T));
}

// The figures as the budget's columns and lines, appended after the change's.
budget_record stable_ground_record(const stable_ground_figures &figures);

// The run's figures, of the mask of --stable (null without it): gathered before the
// result grid is made, in the memory the mask's values left (and a test from the stable
// ground needs them before the pass).
void gather_run_stable_ground();
// For epochs read in bands, the --stable mask is read band by band too: its reader, kept
// here (null once a first pass has made the figures); each band's stable cells added with
// the run's grids holding its lines (values: a table of every line of the first grid's own
// cells, holding those the band covers); the figures once the bands are done.
void keep_run_stable_lines(std::unique_ptr<line_reader> reader);
line_reader *run_stable_lines();
void add_band_stable_ground(double *const *values, int32_t first, int32_t end);
// changes, when given, takes the stable changes of the bands (first - second where the
// mask is not 0 and both grids have data, in the lines' order) for the error model; asked
// for before the first band, they are kept as doubles from the start.
void hand_on_band_stable_changes();
void finish_band_stable_ground(std::vector<double> *changes = nullptr);
const stable_ground_figures *run_stable_ground();

#endif
