#include "treatment/stable_ground.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "globals/given_answers.h"
#include "console/console.h"
#include "globals/globals.h"
#include "nrutil.h"
#include "regrid/frame_step.h"
#include "treatment/band_table.h"
#include "text/number_text.h"

namespace {

stable_ground_figures run_figures;
bool run_gathered = false;
// Read band by band: the mask's reader, the sums of the bands, the mask of a band.
std::unique_ptr<line_reader> stable_lines;
stable_ground_sums band_sums;
band_table<uint8_t> band_mask;

// A double's bits made an unsigned key of the same order (no NaN among the values).
inline uint64_t order_key(double value)
{
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return (bits >> 63) != 0 ? ~bits : bits | (uint64_t(1) << 63);
}

// The median of values as numpy gives it: the mean of the two middle values of an even
// count.
template <typename T>
double median_of(const std::vector<T> &values, const double *about = nullptr)
{
    const size_t n = values.size();
    if (n % 2 == 1)
        return kth_smallest(values, n / 2, nullptr, about);
    double lower;
    const double upper = kth_smallest(values, n / 2, &lower, about);
    return lower + (upper - lower) / 2.0;
}

} // namespace

template <typename T>
double kth_smallest(const std::vector<T> &values, size_t k, double *before, const double *about)
{
    // Each value as it is taken: itself, or its distance from about.
    const double centre = about != nullptr ? *about : 0.0;
    const auto taken = [&](double value) { return about != nullptr ? std::fabs(value - centre) : value; };
    const size_t rank = k;
    // The values are counted by the next 16 bits of their keys among those that share
    // the k-th's leading bits found so far, until its bucket is small enough to select in.
    const size_t small = std::max(size_t(1) << 16, values.size() / 16);
    std::vector<size_t> counts(size_t(1) << 16);
    uint64_t prefix = 0;
    int known = 0;
    for (;;) {
        std::fill(counts.begin(), counts.end(), 0);
        const int shift = 48 - known;
        for (const double value : values) {
            const uint64_t key = order_key(taken(value));
            if (known == 0 || key >> (64 - known) == prefix)
                counts[(key >> shift) & 0xffff]++;
        }
        size_t bucket = 0;
        while (k >= counts[bucket])
            k -= counts[bucket++];
        prefix = (prefix << 16) | bucket;
        known += 16;
        if (counts[bucket] > small && known < 64)
            continue;
        std::vector<double> in_bucket;
        in_bucket.reserve(counts[bucket]);
        for (const double value : values)
            if (order_key(taken(value)) >> (64 - known) == prefix)
                in_bucket.push_back(taken(value));
        const auto at = in_bucket.begin() + static_cast<std::ptrdiff_t>(k);
        std::nth_element(in_bucket.begin(), at, in_bucket.end());
        // The value before is the largest of the bucket's below, or of the buckets before.
        if (before != nullptr && rank > 0)
            *before = k > 0 ? *std::max_element(in_bucket.begin(), at) : kth_smallest(values, rank - 1, nullptr, about);
        return *at;
    }
}

template double kth_smallest(const std::vector<float> &, size_t, double *, const double *);
template double kth_smallest(const std::vector<double> &, size_t, double *, const double *);

void stable_cells(double *const *values, int32_t first_line, int32_t first_column, int32_t lines, int32_t columns,
                  uint8_t *const *mask)
{
    for (int32_t i = 0; i < lines; i++) {
        const double *line = values[first_line + i] + first_column;
        // NaN, no data, is not stable ground; NaN != 0 is true.
        for (int32_t j = 0; j < columns; j++)
            mask[i][j] = line[j] != 0.0 && !std::isnan(line[j]);
    }
}

uint8_t **run_stable_cells(double **values, int32_t lines)
{
    int32_t first_line = 0, first_column = 0;
    first_grid_window(&first_line, &first_column);
    uint8_t **mask = ucmatrice(nb_col, nb_lig);
    require_grid(mask, nb_col, nb_lig);
    stable_cells(values, first_line, first_column, nb_lig, nb_col, mask);
    frdmatrice(values, lines);
    return mask;
}

void add_stable_lines(const uint8_t *const *mask, double *const *first, double *const *second, int32_t first_line,
                      int32_t end_line, int32_t columns, stable_ground_sums *sums)
{
    // NaN in either epoch is no data. A line's changes are taken without a branch (a mask
    // of scattered cells would mislead the processor at every other one), then added.
    std::vector<double> line(static_cast<size_t>(std::max(columns, 0)));
    for (int32_t i = first_line; i < end_line; i++) {
        const uint8_t *stable = mask[i];
        const double *dem1 = first[i], *dem2 = second[i];
        size_t taken = 0;
        for (int32_t j = 0; j < columns; j++) {
            const double change = dem1[j] - dem2[j];
            line[taken] = change;
            taken += static_cast<size_t>((stable[j] != 0) & (change == change));
        }
        const auto line_end = line.begin() + static_cast<std::ptrdiff_t>(taken);
        if (!sums->wide) {
            bool exact = true;
            for (size_t k = 0; k < taken; k++)
                exact &= static_cast<double>(static_cast<float>(line[k])) == line[k];
            if (!exact) {
                // The floats so far become doubles, in their order, and so does every change after.
                sums->change.reserve(sums->narrow.capacity());
                sums->change.assign(sums->narrow.begin(), sums->narrow.end());
                std::vector<float>().swap(sums->narrow);
                sums->wide = true;
            }
        }
        if (sums->wide)
            sums->change.insert(sums->change.end(), line.begin(), line_end);
        else
            sums->narrow.insert(sums->narrow.end(), line.begin(), line_end);
        for (size_t k = 0; k < taken; k++)
            add_compensated(&sums->sum, line[k]);
    }
}

namespace {

template <typename T>
stable_ground_figures figures_of(const std::vector<T> &change, const compensated_sum &sum)
{
    stable_ground_figures figures;
    figures.cells = change.size();
    if (change.empty())
        return figures;
    const double n = static_cast<double>(change.size());
    figures.mean = compensated_total(sum) / n;
    compensated_sum squares;
    for (const double d : change)
        add_compensated(&squares, (d - figures.mean) * (d - figures.mean));
    figures.std_dev = std::sqrt(compensated_total(squares) / n);
    figures.median = median_of(change);
    figures.nmad = 1.4826 * median_of(change, &figures.median);
    return figures;
}

} // namespace

stable_ground_figures finish_stable_ground(const stable_ground_sums *sums)
{
    return sums->wide ? figures_of(sums->change, sums->sum) : figures_of(sums->narrow, sums->sum);
}

stable_ground_figures stable_ground(const uint8_t *const *mask, double *const *first, double *const *second,
                                    int32_t lines, int32_t columns)
{
    // The mask's cells counted first: the changes of a mask of most of the frame take
    // their room once.
    size_t count = 0;
    for (int32_t i = 0; i < lines; i++)
        for (int32_t j = 0; j < columns; j++)
            count += mask[i][j];
    stable_ground_sums sums;
    sums.narrow.reserve(count);
    add_stable_lines(mask, first, second, 0, lines, columns, &sums);
    return finish_stable_ground(&sums);
}

budget_record stable_ground_record(const stable_ground_figures &f)
{
    budget_record record;
    record.columns.push_back(count_column("stable_cells", static_cast<int64_t>(f.cells)));
    const struct {
        const char *column, *label;
        double value;
    } figures[] = {
        {"stable_median_m", "stable ground, median", f.median},
        {"stable_nmad_m", "stable ground, NMAD", f.nmad},
        {"stable_mean_m", "stable ground, mean", f.mean},
        {"stable_std_m", "stable ground, std deviation", f.std_dev},
    };
    record.lines.push_back(text_line("stable ground, cells", std::to_string(f.cells)));
    for (const auto &figure : figures) {
        record.columns.push_back(real_column_if(figure.column, f.cells > 0, figure.value));
        record.lines.push_back(pieces_line(figure.label, {{"", figure.value, "m"}}));
    }
    return record;
}

void gather_run_stable_ground()
{
    run_gathered = dtab_stable != nullptr;
    if (run_gathered)
        run_figures = stable_ground(dtab_stable, dtab_dem1, dtab_dem2, nb_lig, nb_col);
}

const stable_ground_figures *run_stable_ground()
{
    return run_gathered ? &run_figures : nullptr;
}

void keep_run_stable_lines(std::unique_ptr<line_reader> reader)
{
    stable_lines = std::move(reader);
    band_sums = stable_ground_sums();
}

line_reader *run_stable_lines()
{
    return stable_lines.get();
}

void add_band_stable_ground(double *const *values, int32_t first, int32_t end)
{
    if (stable_lines == nullptr)
        return;
    int32_t first_line = 0, first_column = 0;
    first_grid_window(&first_line, &first_column);
    uint8_t *const *mask = band_mask.hold(first, end, nb_lig, nb_col);
    stable_cells(values, first_line + first, first_column, end - first, nb_col, mask + first);
    const size_t band_cells = static_cast<size_t>(end - first) * static_cast<size_t>(nb_col);
    if (band_sums.wide)
        make_band_room(&band_sums.change, first, nb_lig, band_cells);
    else
        make_band_room(&band_sums.narrow, first, nb_lig, band_cells);
    add_stable_lines(mask, dtab_dem1, dtab_dem2, first, end, nb_col, &band_sums);
}

void hand_on_band_stable_changes()
{
    band_sums.wide = true;
}

void finish_band_stable_ground(std::vector<double> *changes)
{
    if (stable_lines == nullptr)
        return;
    run_gathered = true;
    run_figures = finish_stable_ground(&band_sums);
    if (changes != nullptr && !band_sums.wide)
        changes->assign(band_sums.narrow.begin(), band_sums.narrow.end());
    else if (changes != nullptr)
        *changes = std::move(band_sums.change);
    band_sums = stable_ground_sums();
}
