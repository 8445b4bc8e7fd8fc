// The change on stable ground (cells a mask marks as unchanged between the epochs):
// its median is the vertical bias between them, its NMAD the error of the change.
#ifndef ORMELIX_STABLE_GROUND_H
#define ORMELIX_STABLE_GROUND_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
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
// Values kept in blocks that never move as more come: the changes of a mask of most of a
// large frame take their memory once, not copied again and again as a growing vector's.
class value_blocks {
public:
    void push_back(double value)
    {
        if (used_ == BLOCK) {
            void *block = large_block(BLOCK * sizeof(double));
            if (block == nullptr)
                throw std::bad_alloc();
            blocks_.emplace_back(static_cast<double *>(block));
            used_ = 0;
        }
        blocks_.back()[used_++] = value;
    }
    size_t size() const { return blocks_.empty() ? 0 : (blocks_.size() - 1) * BLOCK + used_; }
    bool empty() const { return size() == 0; }
    // f(value) for each value in order; f(double &) may change it.
    template <typename F> void for_each(F f) const
    {
        for (size_t b = 0; b < blocks_.size(); b++) {
            const size_t n = b + 1 < blocks_.size() ? BLOCK : used_;
            double *block = blocks_[b].get();
            for (size_t i = 0; i < n; i++)
                f(block[i]);
        }
    }

private:
    struct freed {
        void operator()(double *block) const { free_large_block(block); }
    };
    static constexpr size_t BLOCK = size_t(1) << 20;  // 8 MiB of values
    std::vector<std::unique_ptr<double[], freed>> blocks_;
    size_t used_ = BLOCK;  // in the last block
};

struct stable_ground_sums {
    value_blocks change;
    compensated_sum sum;
};
void add_stable_lines(const uint8_t *const *mask, double *const *first, double *const *second, int32_t first_line,
                      int32_t end_line, int32_t columns, stable_ground_sums *sums);
stable_ground_figures finish_stable_ground(stable_ground_sums *sums);
// The k-th smallest of values (k from 0, below their count; no NaN among them), as
// std::nth_element finds it, without reordering them or copying more than a part; and
// into *before (when given, k above 0) the (k - 1)-th, the other middle of an even count.
double kth_smallest(const value_blocks &values, size_t k, double *before = nullptr);

// The figures as the budget's columns and lines, appended after the change's.
budget_record stable_ground_record(const stable_ground_figures &figures);

// The run's figures, of the mask of --stable (null without it): gathered before the
// result grid is made, in the memory the mask's values left (and a test from the stable
// ground needs them before the pass).
void gather_run_stable_ground();
// For epochs read in bands (when no figure is wanted before the pass), the --stable mask
// is read band by band too: its reader, kept here; each band's stable cells added with the
// run's grids holding its lines (values: a table of every line of the first grid's own
// cells, holding those the band covers); the figures once the bands are done.
void keep_run_stable_lines(std::unique_ptr<line_reader> reader);
line_reader *run_stable_lines();
void add_band_stable_ground(double *const *values, int32_t first, int32_t end);
void finish_band_stable_ground();
const stable_ground_figures *run_stable_ground();

#endif
