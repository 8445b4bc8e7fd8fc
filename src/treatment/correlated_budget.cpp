#include "treatment/correlated_budget.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

#include "console/console.h"
#include "error_model/correlation_figures.h"
#include "error_model/terrain_slope.h"
#include "error_model/variogram_picture.h"
#include "globals/given_answers.h"
#include "globals/globals.h"
#include "nrutil.h"
#include "platform/worker_thread.h"
#include "text/number_text.h"
#include "treatment/change_test.h"
#include "treatment/frame_area.h"
#include "treatment/run_pass.h"
#include "treatment/stable_ground.h"
#include "treatment/stable_pass.h"

namespace {

bool modelled = false;
correlation_figures run_figures;
slope_sigma run_by_slope;
bool by_slope = false;
// The detected cells the pass gathers for the model, one collector a thread: each
// takes a half of the lines, in order.
correlated_error_collector gathered[2];

// The stride of the even spread of all stable cells the bins by slope are measured on,
// held whole or in bands: every cell up to SLOPE_SIGMA_MOST_CELLS of them.
size_t slope_spread_stride(size_t all)
{
    return all > SLOPE_SIGMA_MOST_CELLS ? (all + SLOPE_SIGMA_MOST_CELLS - 1) / SLOPE_SIGMA_MOST_CELLS : 1;
}

// Lines [0, nb_lig) in two halves, the second on another thread when there is one:
// work(0, 0, half) here and work(1, half, nb_lig) there, or work(0, 0, nb_lig) alone.
void on_two_halves(const std::function<void(size_t, int32_t, int32_t)> &work)
{
    const int32_t half = nb_lig / 2;
    worker_thread worker;
    const bool shared = half > 0 && worker_start(&worker);
    if (shared)
        worker_post(&worker, [&] { work(1, half, nb_lig); });
    work(0, 0, shared ? half : nb_lig);
    if (shared) {
        worker_wait(&worker);
        worker_stop(&worker);
    }
}

// The stable cells with data of the grids held whole in each half, then an even spread
// of them (every one when there are few), each with its slope.
std::vector<slope_sample> run_slope_samples(const line_spacing &spacing)
{
    size_t stable[2] = {0, 0};
    const auto is_stable = [](int32_t i, int32_t j) {
        const double d = dtab_dem1[i][j] - dtab_dem2[i][j];
        return dtab_stable[i][j] != 0 && d == d;
    };
    on_two_halves([&](size_t half, int32_t first, int32_t end) {
        size_t count = 0;
        for (int32_t i = first; i < end; i++) {
            const uint8_t *mask = dtab_stable[i];
            const double *dem1 = dtab_dem1[i], *dem2 = dtab_dem2[i];
            for (int32_t j = 0; j < nb_col; j++) {
                const double d = dem1[j] - dem2[j];
                count += static_cast<size_t>((mask[j] != 0) & (d == d));
            }
        }
        stable[half] = count;
    });
    const size_t all = stable[0] + stable[1];
    const size_t stride = slope_spread_stride(all);
    std::vector<slope_sample> samples[2];
    on_two_halves([&](size_t half, int32_t first, int32_t end) {
        // The spread runs on from the first half's cells into the second's.
        size_t seen = half == 0 ? 0 : stable[0];
        // The next cell of the spread, counted among the stable ones.
        size_t next = (seen + stride - 1) / stride * stride;
        samples[half].reserve(stable[half] / stride + 1);
        for (int32_t i = first; i < end; i++)
            for (int32_t j = 0; j < nb_col; j++) {
                if (!is_stable(i, j) || seen++ != next)
                    continue;
                next += stride;
                // As a float, as the bands keep it.
                const double slope = static_cast<float>(
                    horn_slope_at(dtab_dem1, nb_lig, nb_col, i, j, spacing.east[i], spacing.north[i]));
                samples[half].push_back(slope_sample{slope, dtab_dem1[i][j] - dtab_dem2[i][j],
                                                     static_cast<size_t>(i) * static_cast<size_t>(nb_col) + j});
            }
    });
    samples[0].insert(samples[0].end(), samples[1].begin(), samples[1].end());
    return std::move(samples[0]);
}

// The same spread of the stable cells a first pass over the bands gathered, each half of
// the lines on its own thread.
std::vector<slope_sample> gathered_slope_samples()
{
    const gathered_stable_cells &cells = run_gathered_stable_cells();
    const size_t all = cells.changes.size();
    const size_t stride = slope_spread_stride(all);
    // The cells at multiples of the stride, each half's written from its first one's place.
    const auto multiples_before = [stride](size_t k) { return (k + stride - 1) / stride; };
    std::vector<slope_sample> samples(multiples_before(all));
    on_two_halves([&](size_t, int32_t first, int32_t end) {
        size_t put = multiples_before(cells.line_start[static_cast<size_t>(first)]);
        for (size_t i = static_cast<size_t>(first); i < static_cast<size_t>(end); i++)
            for (size_t k = multiples_before(cells.line_start[i]) * stride; k < cells.line_start[i + 1]; k += stride)
                samples[put++] = slope_sample{cells.slopes[k], cells.changes[k],
                                              i * static_cast<size_t>(nb_col) + static_cast<size_t>(cells.columns[k])};
    });
    return samples;
}

} // namespace

void run_sigma_by_slope()
{
    const line_spacing spacing = ground_line_spacing(run_frame_geometry());
    std::vector<slope_sample> samples =
        stable_cells_gathered() ? gathered_slope_samples() : run_slope_samples(spacing);
    run_by_slope = fit_sigma_by_slope(samples);
    samples = std::vector<slope_sample>();
    if (run_by_slope.bins.empty())
        stop_with_message("\n\tThe error by slope cannot be measured on the stable ground of %s: %s.\n",
                          answers.stable_path.c_str(), run_by_slope.reason.c_str());
    by_slope = true;
    // Both DEMs take half the variance of the change, each cell's from its slope: made
    // line by line where the pass asks them, rather than held in grids of the frame.
    const std::vector<double> east = spacing.east, north = spacing.north;
    set_run_line_errors([east, north](int32_t i, double *line) {
        horn_slope_line(dtab_dem1, nb_lig, nb_col, i, east[static_cast<size_t>(i)], north[static_cast<size_t>(i)], line);
        sigma_at_slopes(run_by_slope, std::sqrt(2.0), line, static_cast<size_t>(nb_col));
    });
    dtab_sigma1 = dtab_sigma2 = nullptr;
    nomsigma1 = nomsigma2 = "the stable ground by slope";
    // Their mean is known once the pass has made them (finish_sigma_by_slope).
    sigma_dem1 = sigma_dem2 = 0.0;
}

void finish_sigma_by_slope()
{
    if (by_slope)
        sigma_dem1 = sigma_dem2 = run_line_errors_mean();
}

namespace {

// The run's stable ground as the variogram reads it: each cell's difference standardised
// by its error of the change, √(σ₁² + σ₂²), from the error grids, the uniform errors or
// the slope there; NaN off stable ground, without data or where that error is not above
// 0. Read cell by cell where asked, without a grid of the frame.
class run_stable_field {
public:
    run_stable_field()
    {
        errors.first = dtab_sigma1;
        errors.second = dtab_sigma2;
        errors.uniform_first = sigma_dem1;
        errors.uniform_second = sigma_dem2;
        if (by_slope) {
            spacing = ground_line_spacing(run_frame_geometry());
            double least = run_by_slope.overall_sigma_m;
            for (const slope_sigma_bin &bin : run_by_slope.bins)
                least = std::min(least, bin.sigma_m);
            // Errors between the bins' stay above the least of them: far from 0, every
            // cell's is above 0 without being worked out.
            always_positive = least > 1e-100;
        } else if (errors.first == nullptr && errors.second == nullptr) {
            always_positive = sigma_of(0, 0) > 0.0;
        }
    }
    double sigma_of(size_t i, size_t j) const
    {
        if (by_slope) {
            const int32_t line = static_cast<int32_t>(i), column = static_cast<int32_t>(j);
            return sigma_with_slope(i, j, static_cast<float>(horn_slope_at(dtab_dem1, nb_lig, nb_col, line, column,
                                                                           spacing.east[i], spacing.north[i])));
        }
        return sigma_with_slope(i, j, 0.0);
    }
    // The same of a cell whose slope is known (taken by --sigma stable-slope only).
    double sigma_with_slope(size_t i, size_t j, double slope_deg) const
    {
        if (by_slope) {
            const double e = sigma_at_slope(run_by_slope, slope_deg) / std::sqrt(2.0);
            return std::sqrt(e * e + e * e);
        }
        const double e1 = errors.first != nullptr ? errors.first[i][j] : errors.uniform_first;
        const double e2 = errors.second != nullptr ? errors.second[i][j] : errors.uniform_second;
        return std::sqrt(e1 * e1 + e2 * e2);
    }
    // The stable cells of line i.
    size_t count_line(size_t i) const
    {
        const uint8_t *mask = dtab_stable[i];
        const double *first = dtab_dem1[i], *second = dtab_dem2[i];
        size_t count = 0;
        if (always_positive) {
            for (size_t j = 0; j < columns; j++) {
                const double change = first[j] - second[j];
                count += static_cast<size_t>((mask[j] == 1) & (change == change));
            }
            return count;
        }
        for (size_t j = 0; j < columns; j++)
            count += is_stable(i, j) ? 1 : 0;
        return count;
    }
    bool is_stable(size_t i, size_t j) const
    {
        const double change = dtab_dem1[i][j] - dtab_dem2[i][j];
        return dtab_stable[i][j] == 1 && change == change && (always_positive || sigma_of(i, j) > 0.0);
    }
    void prefetch(size_t i, size_t j) const
    {
        __builtin_prefetch(&dtab_stable[i][j]);
        __builtin_prefetch(&dtab_dem1[i][j]);
        __builtin_prefetch(&dtab_dem2[i][j]);
        if (by_slope) {
            __builtin_prefetch(&dtab_dem1[i > 0 ? i - 1 : i][j]);
            __builtin_prefetch(&dtab_dem1[i + 1 < static_cast<size_t>(nb_lig) ? i + 1 : i][j]);
        } else if (errors.first != nullptr || errors.second != nullptr) {
            __builtin_prefetch(errors.first != nullptr ? &errors.first[i][j] : &errors.uniform_first);
            __builtin_prefetch(errors.second != nullptr ? &errors.second[i][j] : &errors.uniform_second);
        }
    }
    float value_at(size_t i, size_t j) const
    {
        if (!is_stable(i, j))
            return std::nanf("");
        return static_cast<float>((dtab_dem1[i][j] - dtab_dem2[i][j]) / sigma_of(i, j));
    }

    const size_t columns = static_cast<size_t>(nb_col);

private:
    change_errors errors;
    line_spacing spacing;
    bool always_positive = false;
};

// The stable field of the cells a first pass over the bands gathered: each cell's
// standardised value kept where its error is above 0, in the lines' order, found by a bit
// for each cell of the frame (set for the cells kept) and the count of the cells kept
// before each word of 64 bits: a cell is reached at its first reading of memory.
struct gathered_field {
    struct cell {
        int32_t column;
        float value;
    };
    std::vector<size_t> line_start;
    // The cells, each in the place of a change the first pass gathered (its memory reused).
    std::vector<double> memory;
    size_t count = 0;
    size_t frame_columns = 0;
    std::vector<uint64_t> kept_bits;
    std::vector<size_t> kept_before;

    cell at(size_t k) const
    {
        cell c;
        std::memcpy(&c, &memory[k], sizeof c);
        return c;
    }
    void put(size_t k, cell c) { std::memcpy(&memory[k], &c, sizeof c); }

    void start_places(size_t lines)
    {
        kept_bits.assign((lines * frame_columns + 63) / 64, 0);
    }
    void keep_place(size_t line, size_t column)
    {
        const size_t place = line * frame_columns + column;
        kept_bits[place / 64] |= uint64_t(1) << (place % 64);
    }
    void count_places()
    {
        kept_before.resize(kept_bits.size());
        size_t before = 0;
        for (size_t w = 0; w < kept_bits.size(); w++) {
            kept_before[w] = before;
            before += static_cast<size_t>(__builtin_popcountll(kept_bits[w]));
        }
    }
    float value_at(size_t line, size_t column) const
    {
        const size_t place = line * frame_columns + column;
        const uint64_t word = kept_bits[place / 64];
        const uint64_t below = (uint64_t(1) << (place % 64)) - 1;
        if (((word >> (place % 64)) & 1) == 0)
            return std::nanf("");
        return at(kept_before[place / 64] + static_cast<size_t>(__builtin_popcountll(word & below))).value;
    }
    void prefetch(size_t line, size_t column) const
    {
        const size_t place = line * frame_columns + column;
        __builtin_prefetch(&kept_bits[place / 64]);
        __builtin_prefetch(&kept_before[place / 64]);
    }
};
static_assert(sizeof(gathered_field::cell) == sizeof(double), "a cell takes a change's place");

// The variogram's stable cells from what the first pass gathered, which it lets go.
void gathered_variogram_cells(const run_stable_field &field, gathered_field *kept, variogram_cells *stable)
{
    gathered_stable_cells cells = take_gathered_stable_cells();
    kept->line_start = std::move(cells.line_start);
    kept->frame_columns = field.columns;
    kept->memory = std::move(cells.changes);
    const size_t lines = kept->line_start.size() - 1;
    kept->start_places(lines);
    size_t count = 0;
    // By slope, each cell's error of each DEM, as sigma_with_slope finds it, the bins
    // looked through a line at a time.
    std::vector<double> line_errors(by_slope ? field.columns : 0);
    for (size_t i = 0; i < lines; i++) {
        const size_t first = kept->line_start[i], end = kept->line_start[i + 1];
        kept->line_start[i] = count;
        if (by_slope) {
            std::copy(cells.slopes.begin() + static_cast<std::ptrdiff_t>(first),
                      cells.slopes.begin() + static_cast<std::ptrdiff_t>(end), line_errors.begin());
            sigma_at_slopes(run_by_slope, std::sqrt(2.0), line_errors.data(), end - first);
        }
        // Cell k's change is read before a cell is put in its place or one before it.
        for (size_t k = first; k < end && !cells.standardised.empty(); k++)
            if (cells.standardised[k] == cells.standardised[k]) {
                kept->keep_place(i, static_cast<size_t>(cells.columns[k]));
                kept->put(count++, {cells.columns[k], cells.standardised[k]});
            }
        for (size_t k = first; k < end && cells.standardised.empty(); k++) {
            const int32_t j = cells.columns[k];
            const double e = by_slope ? line_errors[k - first] : 0.0;
            const double sigma = by_slope ? std::sqrt(e * e + e * e) : field.sigma_with_slope(i, static_cast<size_t>(j), 0.0);
            if (sigma > 0.0) {
                kept->keep_place(i, static_cast<size_t>(j));
                kept->put(count++, {j, static_cast<float>(kept->memory[k] / sigma)});
            }
        }
    }
    kept->count = count;
    kept->line_start[lines] = count;
    kept->count_places();
    cells = gathered_stable_cells();
    stable->stable_cells = count;
    const size_t stride = variogram_origin_stride(count);
    stable->origins.reserve(count / stride + 1);
    stable->origin_values.reserve(count / stride + 1);
    for (size_t i = 0; i < lines; i++)
        for (size_t k = (kept->line_start[i] + stride - 1) / stride * stride; k < kept->line_start[i + 1]; k += stride) {
            const gathered_field::cell c = kept->at(k);
            stable->origins.push_back(i * field.columns + static_cast<size_t>(c.column));
            stable->origin_values.push_back(c.value);
        }
    stable->value_at = [kept](size_t line, size_t column) { return kept->value_at(line, column); };
    stable->prefetch = [kept](size_t line, size_t column) { kept->prefetch(line, column); };
}

} // namespace

void model_run_correlation()
{
    modelled = false;
    gathered[0] = gathered[1] = correlated_error_collector();
    if ((dtab_stable == nullptr && !stable_cells_gathered()) || basis != TEST_CONFIDENCE)
        return;
    const run_stable_field field;
    if (stable_cells_gathered()) {
        gathered_field kept;
        variogram_cells stable;
        gathered_variogram_cells(field, &kept, &stable);
        run_figures = correlation_model(stable, run_frame_geometry());
        if (by_slope)
            run_figures.sigma_by_slope = run_by_slope.bins;
        modelled = true;
        return;
    }
    // The stable cells of each line, then every stride-th of them in the lines' order
    // with its value, each half of the lines on its own thread.
    std::vector<size_t> line_counts(static_cast<size_t>(nb_lig));
    on_two_halves([&](size_t, int32_t first, int32_t end) {
        for (int32_t i = first; i < end; i++)
            line_counts[static_cast<size_t>(i)] = field.count_line(static_cast<size_t>(i));
    });
    variogram_cells stable;
    size_t before_half[2] = {0, 0};
    for (int32_t i = 0; i < nb_lig; i++) {
        stable.stable_cells += line_counts[static_cast<size_t>(i)];
        if (i + 1 == nb_lig / 2)
            before_half[1] = stable.stable_cells;
    }
    const size_t stride = variogram_origin_stride(stable.stable_cells);
    std::vector<size_t> origins[2];
    std::vector<float> values[2];
    on_two_halves([&](size_t half, int32_t first, int32_t end) {
        size_t seen = half == 0 ? 0 : before_half[1];
        const size_t columns = field.columns;
        for (int32_t i = first; i < end; i++) {
            const size_t line = static_cast<size_t>(i);
            // The next chosen cell, counted among the stable ones; a line without it is
            // skipped whole.
            size_t next = (seen + stride - 1) / stride * stride;
            if (next >= seen + line_counts[line]) {
                seen += line_counts[line];
                continue;
            }
            for (size_t j = 0; j < columns; j++) {
                if (!field.is_stable(line, j))
                    continue;
                if (seen++ != next)
                    continue;
                next += stride;
                origins[half].push_back(line * columns + j);
                values[half].push_back(field.value_at(line, j));
            }
        }
    });
    stable.origins = std::move(origins[0]);
    stable.origins.insert(stable.origins.end(), origins[1].begin(), origins[1].end());
    stable.origin_values = std::move(values[0]);
    stable.origin_values.insert(stable.origin_values.end(), values[1].begin(), values[1].end());
    stable.value_at = [&](size_t line, size_t column) { return field.value_at(line, column); };
    stable.prefetch = [&](size_t line, size_t column) { field.prefetch(line, column); };
    run_figures = correlation_model(stable, run_frame_geometry());
    if (by_slope)
        run_figures.sigma_by_slope = run_by_slope.bins;
    modelled = true;
}

bool correlation_gathers_cells()
{
    return modelled && run_figures.available;
}

void gather_correlated_cells(size_t half, int32_t first_line, int32_t end_line, const std::vector<double> &line_areas)
{
    collect_detected_cells(first_line, end_line, line_areas.data(), &gathered[half]);
}

void finish_run_correlation(const change_budget &budget, budget_record *record)
{
    if (!modelled)
        return;
    if (run_figures.available) {
        gathered[0].merge(gathered[1]);
        finish_correlation(&run_figures, gathered[0], run_frame_geometry());
        gathered[0] = gathered[1] = correlated_error_collector();
    }
    const double above = compensated_total(budget.above_detected.volume);
    const double below = compensated_total(budget.below_detected.volume);
    for (const correlation_row &row : correlation_rows(run_figures))
        record->columns.push_back(real_column_if(row.column, std::isfinite(row.value), row.value));
    for (const correlation_line &line : correlation_lines(run_figures, above, below, above - below))
        record->lines.push_back(text_line(line.label, line.value));
    record->objects.push_back({"correlation", correlation_json(run_figures)});
}

std::string run_correlation_html()
{
    if (!modelled)
        return "";
    std::string html;
    if (run_figures.available)
        html += "<h2>Spatial correlation of the errors</h2><figure>" +
                variogram_svg(run_figures.variogram, run_figures.model) +
                "<figcaption>The variogram of the stable ground's differences, standardised by each cell's error: its "
                "points with their pairs, the model fitted (a nugget and two spherical parts) and its two ranges."
                "</figcaption></figure>";
    if (by_slope) {
        html += "<h2>Error by slope</h2><figure>" + sigma_by_slope_svg(run_by_slope.bins) +
                "<figcaption>The NMAD of the stable ground's differences in bins of equal counts of the first DEM's "
                "slope, at each bin's median slope, the bar spanning its slopes; each cell takes the error on the "
                "line at its slope.</figcaption></figure><table class=\"classes\"><tr><th>slopes (degrees)</th>"
                "<th>centre (degrees)</th><th>stable cells</th><th>error of the change (m)</th></tr>";
        for (const slope_sigma_bin &bin : run_by_slope.bins)
            html += text_printf("<tr><td>%.2f to %.2f</td><td>%.2f</td><td>%zu</td><td>%.6f</td></tr>", bin.lowest_deg,
                                bin.highest_deg, bin.slope_deg, bin.cells, bin.sigma_m);
        html += "</table>";
    }
    return html;
}
