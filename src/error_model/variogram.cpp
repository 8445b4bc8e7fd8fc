#include "error_model/variogram.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "error_model/ground_distance.h"
#include "platform/worker_thread.h"
#include "text/number_text.h"

namespace {

const double PI = 3.14159265358979323846;
const double SQRT2 = 1.41421356237309504880;
// Pairs drawn together, their cells read together: the memory answers many at once.
const size_t PAIR_BATCH = 64;

// A uniform double in [0, 1) from 53 bits of the generator: the same on every system,
// as std::mt19937_64's sequence is (the standard's distributions are not).
double uniform(std::mt19937_64 &random)
{
    return static_cast<double>(random() >> 11) * (1.0 / 9007199254740992.0);
}

// The bin of a lag: bin k holds [cell √2^k, cell √2^(k+1)); lags below one cell (a frame
// in degrees away from its middle line) go to the first.
size_t lag_bin(double distance_m, double cell_m)
{
    const double k = std::floor(2.0 * std::log2(distance_m / cell_m) + 1e-9);
    return k <= 0.0 ? 0 : static_cast<size_t>(k);
}

} // namespace

double spherical(double distance_m, double range_m)
{
    if (distance_m >= range_m)
        return 1.0;
    const double h = distance_m / range_m;
    return 1.5 * h - 0.5 * h * h * h;
}

double variogram_model::gamma(double distance_m) const
{
    if (distance_m <= 0.0)
        return 0.0;
    return nugget + sills[0] * spherical(distance_m, ranges_m[0]) + sills[1] * spherical(distance_m, ranges_m[1]);
}

double variogram_model::correlation(double distance_m) const
{
    if (distance_m <= 0.0 || variance <= 0.0)
        return 1.0;
    return 1.0 - gamma(distance_m) / variance;
}

size_t variogram_origin_stride(size_t stable_cells, size_t max_pairs)
{
    return stable_cells > max_pairs ? (stable_cells + max_pairs - 1) / max_pairs : 1;
}

empirical_variogram sample_variogram(const std::vector<float> &field, const frame_geometry &frame, uint64_t seed,
                                     size_t max_pairs)
{
    const size_t lines = frame.lines > 0 ? static_cast<size_t>(frame.lines) : 0;
    const size_t columns = frame.columns > 0 ? static_cast<size_t>(frame.columns) : 0;
    const size_t cells = std::min(lines * columns, field.size());
    variogram_cells stable;
    for (size_t i = 0; i < cells; i++)
        stable.stable_cells += std::isnan(field[i]) ? 0 : 1;
    const size_t stride = variogram_origin_stride(stable.stable_cells, max_pairs);
    for (size_t i = 0, seen = 0; i < cells; i++)
        if (!std::isnan(field[i]) && seen++ % stride == 0) {
            stable.origins.push_back(i);
            stable.origin_values.push_back(field[i]);
        }
    stable.value_at = [&](size_t line, size_t column) {
        const size_t at = line * columns + column;
        return at < field.size() ? field[at] : std::nanf("");
    };
    return sample_variogram(stable, frame, seed, max_pairs);
}

empirical_variogram sample_variogram(const variogram_cells &cells, const frame_geometry &frame, uint64_t seed,
                                     size_t max_pairs)
{
    empirical_variogram variogram;
    const ground_metric metric(frame);
    const size_t lines = frame.lines > 0 ? static_cast<size_t>(frame.lines) : 0;
    const size_t columns = frame.columns > 0 ? static_cast<size_t>(frame.columns) : 0;
    variogram.cell_m = metric.smallest_cell();
    variogram.largest_lag_m = metric.half_diagonal();
    variogram.stable_cells = cells.stable_cells;

    const std::vector<size_t> &origins = cells.origins;
    std::vector<double> values(cells.origin_values.begin(), cells.origin_values.end());
    const double nmad = nmad_of(values);
    variogram.variance = nmad * nmad;

    if (variogram.stable_cells < VARIOGRAM_LEAST_CELLS)
        variogram.reason = text_printf("fewer than %zu stable cells (%zu)", VARIOGRAM_LEAST_CELLS, variogram.stable_cells);
    if (variogram.largest_lag_m <= variogram.cell_m || origins.empty()) {
        if (variogram.reason.empty())
            variogram.reason = "a frame too small for a variogram";
        return variogram;
    }

    const size_t bins = lag_bin(variogram.largest_lag_m, variogram.cell_m) + 1;
    std::vector<std::vector<float>> differences(bins);
    std::vector<double> lag_sums(bins, 0.0), square_sums(bins, 0.0);
    const size_t tries_per_bin = std::max<size_t>(1, max_pairs / bins);
    const line_spacing &spacing = metric.lines();
    std::mt19937_64 random(seed);
    // A try: its draws, then what it found: the bin of its pair's distance (bins when it
    // found no pair), the distance and the difference.
    struct pair_try {
        size_t chosen = 0;
        double ring = 0.0, angle = 0.0;
        size_t bin = 0;
        double distance = 0.0, delta = 0.0;
    };
    std::vector<pair_try> tries(tries_per_bin);
    // Tries [first, end) of the ring [low, high): each pair's second cell, reached in
    // batches whose cells are asked of the memory at once, and its value.
    const auto take_tries = [&](double low, double high, size_t first, size_t end) {
        size_t reached[PAIR_BATCH];
        size_t others[PAIR_BATCH][2];
        for (size_t batch = first; batch < end; batch += PAIR_BATCH) {
            const size_t batch_end = std::min(end, batch + PAIR_BATCH);
            for (size_t t = batch; t < batch_end; t++)
                __builtin_prefetch(&origins[tries[t].chosen]);
            size_t count = 0;
            for (size_t t = batch; t < batch_end; t++) {
                pair_try &one = tries[t];
                one.bin = bins;
                const size_t origin = origins[one.chosen];
                // Uniform over the ring's area, so that every pair within it is as likely.
                const double r = std::sqrt(low * low + one.ring * (high * high - low * low));
                const double angle = 2.0 * PI * one.angle;
                const size_t line = origin / columns, column = origin % columns;
                const double to_line = static_cast<double>(line) - std::round(r * std::sin(angle) / spacing.north[line]);
                const double to_column =
                    static_cast<double>(column) + std::round(r * std::cos(angle) / spacing.east[line]);
                if (to_line < 0.0 || to_column < 0.0 || to_line >= static_cast<double>(lines) ||
                    to_column >= static_cast<double>(columns))
                    continue;
                const size_t other = static_cast<size_t>(to_line) * columns + static_cast<size_t>(to_column);
                if (other == origin)
                    continue;
                one.distance =
                    metric.distance(static_cast<double>(line), static_cast<double>(column), to_line, to_column);
                reached[count] = t;
                others[count][0] = static_cast<size_t>(to_line);
                others[count][1] = static_cast<size_t>(to_column);
                if (cells.prefetch)
                    cells.prefetch(others[count][0], others[count][1]);
                count++;
            }
            for (size_t c = 0; c < count; c++) {
                pair_try &one = tries[reached[c]];
                const float other_value = cells.value_at(others[c][0], others[c][1]);
                if (std::isnan(other_value))
                    continue;
                const size_t k = lag_bin(one.distance, variogram.cell_m);
                if (k >= bins)
                    continue;
                one.bin = k;
                one.delta = static_cast<double>(cells.origin_values[one.chosen]) - static_cast<double>(other_value);
            }
        }
    };
    worker_thread helper;
    const bool shared = worker_start(&helper);
    for (size_t bin = 0; bin < bins; bin++) {
        const double low = variogram.cell_m * std::pow(SQRT2, static_cast<double>(bin));
        const double high = std::min(low * SQRT2, variogram.largest_lag_m);
        // The bin's tries drawn first, then taken on two threads, then their pairs
        // gathered in the order drawn, as one by one.
        for (pair_try &one : tries) {
            one.chosen = random() % origins.size();
            one.ring = uniform(random);
            one.angle = uniform(random);
        }
        const size_t half = shared ? tries.size() / 2 : tries.size();
        if (shared)
            worker_post(&helper, [&, low, high, half] { take_tries(low, high, half, tries.size()); });
        take_tries(low, high, 0, half);
        if (shared)
            worker_wait(&helper);
        for (const pair_try &one : tries) {
            if (one.bin >= bins)
                continue;
            differences[one.bin].push_back(static_cast<float>(std::fabs(one.delta)));
            lag_sums[one.bin] += one.distance;
            square_sums[one.bin] += one.delta * one.delta;
        }
    }
    worker_stop(&helper);

    size_t short_pairs = 0;
    for (size_t k = 0; k < bins; k++) {
        variogram_bin bin;
        bin.lag_low_m = variogram.cell_m * std::pow(SQRT2, static_cast<double>(k));
        bin.lag_high_m = bin.lag_low_m * SQRT2;
        bin.pairs = differences[k].size();
        if (k < 3)
            short_pairs += bin.pairs;
        if (bin.pairs > 0) {
            bin.lag_m = lag_sums[k] / static_cast<double>(bin.pairs);
            bin.robust = bin.pairs >= VARIOGRAM_ROBUST_PAIRS;
            if (bin.robust) {
                std::vector<double> magnitudes(differences[k].begin(), differences[k].end());
                const double median = median_of(magnitudes);
                bin.gamma = 2.198 * median * median / 2.0;
            } else {
                bin.gamma = square_sums[k] / static_cast<double>(bin.pairs) / 2.0;
            }
        }
        variogram.bins.push_back(bin);
    }
    if (variogram.reason.empty() && short_pairs < VARIOGRAM_LEAST_SHORT_PAIRS)
        variogram.reason = text_printf("fewer than %zu pairs of stable cells within %s m (%zu)",
                                       VARIOGRAM_LEAST_SHORT_PAIRS,
                                       exact_real_text(variogram.bins[std::min<size_t>(2, bins - 1)].lag_high_m).c_str(),
                                       short_pairs);
    return variogram;
}

namespace {

struct fit_result {
    double objective = INFINITY;
    double coefficients[3] = {0.0, 0.0, 0.0};  // nugget, short sill, long sill
};

// Solves the n x n system a x = b (n at most 3) by elimination with partial pivoting;
// false when it is singular.
bool solve_small(double a[3][3], double b[3], size_t n, double x[3])
{
    for (size_t col = 0; col < n; col++) {
        size_t pivot = col;
        for (size_t r = col + 1; r < n; r++)
            if (std::fabs(a[r][col]) > std::fabs(a[pivot][col]))
                pivot = r;
        if (std::fabs(a[pivot][col]) < 1e-12)
            return false;
        std::swap(a[col], a[pivot]);
        std::swap(b[col], b[pivot]);
        for (size_t r = col + 1; r < n; r++) {
            const double f = a[r][col] / a[col][col];
            for (size_t c = col; c < n; c++)
                a[r][c] -= f * a[col][c];
            b[r] -= f * b[col];
        }
    }
    for (size_t i = n; i-- > 0;) {
        double s = b[i];
        for (size_t c = i + 1; c < n; c++)
            s -= a[i][c] * x[c];
        x[i] = s / a[i][i];
    }
    return true;
}

// The nugget and sills that fit the bins best for two given ranges, each at least 0 and
// together at most the variance: the least squares of every set of active constraints,
// the best that satisfies them all (three unknowns, sixteen sets).
fit_result fit_sills(const std::vector<variogram_bin> &bins, double short_range, double long_range, double variance)
{
    fit_result best;
    for (unsigned active = 0; active < 16; active++) {
        const bool sum_bound = (active & 8) != 0;
        size_t free_terms[3], n_free = 0;
        for (size_t j = 0; j < 3; j++)
            if ((active & (1u << j)) == 0)
                free_terms[n_free++] = j;
        if (sum_bound && n_free == 0)
            continue;
        // With the sum bound, the last free term is the variance less the others.
        const size_t unknowns = sum_bound ? n_free - 1 : n_free;
        double a[3][3] = {}, b[3] = {}, x[3] = {};
        auto column_of = [&](const variogram_bin &bin, size_t term) {
            return term == 0 ? 1.0 : spherical(bin.lag_m, term == 1 ? short_range : long_range);
        };
        for (const variogram_bin &bin : bins) {
            if (bin.pairs == 0)
                continue;
            const double w = static_cast<double>(bin.pairs);
            double row[3];
            double target = bin.gamma;
            const double last = sum_bound ? column_of(bin, free_terms[n_free - 1]) : 0.0;
            if (sum_bound)
                target -= last * variance;
            for (size_t u = 0; u < unknowns; u++)
                row[u] = column_of(bin, free_terms[u]) - last;
            for (size_t u = 0; u < unknowns; u++) {
                for (size_t v = 0; v < unknowns; v++)
                    a[u][v] += w * row[u] * row[v];
                b[u] += w * row[u] * target;
            }
        }
        if (unknowns > 0 && !solve_small(a, b, unknowns, x))
            continue;
        double coefficients[3] = {0.0, 0.0, 0.0};
        double sum = 0.0;
        for (size_t u = 0; u < unknowns; u++) {
            coefficients[free_terms[u]] = x[u];
            sum += x[u];
        }
        if (sum_bound)
            coefficients[free_terms[n_free - 1]] = variance - sum;
        bool feasible = true;
        const double slack = 1e-12 * std::max(variance, 1e-300);
        for (double c : coefficients)
            feasible = feasible && c >= -slack;
        feasible = feasible && coefficients[0] + coefficients[1] + coefficients[2] <= variance + slack;
        if (!feasible)
            continue;
        double objective = 0.0;
        for (const variogram_bin &bin : bins) {
            if (bin.pairs == 0)
                continue;
            const double model = coefficients[0] + coefficients[1] * spherical(bin.lag_m, short_range) +
                                 coefficients[2] * spherical(bin.lag_m, long_range);
            objective += static_cast<double>(bin.pairs) * (model - bin.gamma) * (model - bin.gamma);
        }
        if (objective < best.objective) {
            best.objective = objective;
            for (size_t j = 0; j < 3; j++)
                best.coefficients[j] = std::max(0.0, coefficients[j]);
        }
    }
    return best;
}

} // namespace

variogram_model fit_variogram(const empirical_variogram &variogram)
{
    variogram_model model;
    model.variance = variogram.variance;
    const double lowest = variogram.cell_m, highest = std::max(variogram.largest_lag_m, variogram.cell_m);
    model.ranges_m[0] = model.ranges_m[1] = lowest;
    // The ranges on a grid even in their logarithm, then finer around the best pair:
    // the sills are linear once the ranges are set, the ranges are not.
    const size_t steps = 48;
    const double ratio = std::pow(highest / lowest, 1.0 / static_cast<double>(steps - 1));
    fit_result best;
    double best_ranges[2] = {lowest, lowest};
    auto consider = [&](double short_range, double long_range) {
        short_range = std::clamp(short_range, lowest, highest);
        long_range = std::clamp(long_range, short_range, highest);
        const fit_result fit = fit_sills(variogram.bins, short_range, long_range, variogram.variance);
        if (fit.objective < best.objective) {
            best = fit;
            best_ranges[0] = short_range;
            best_ranges[1] = long_range;
        }
    };
    for (size_t i = 0; i < steps; i++)
        for (size_t j = i; j < steps; j++)
            consider(lowest * std::pow(ratio, static_cast<double>(i)), lowest * std::pow(ratio, static_cast<double>(j)));
    double step = ratio;
    for (int round = 0; round < 4; round++) {
        const double centre[2] = {best_ranges[0], best_ranges[1]};
        for (int i = -4; i <= 4; i++)
            for (int j = -4; j <= 4; j++)
                consider(centre[0] * std::pow(step, i / 4.0), centre[1] * std::pow(step, j / 4.0));
        step = std::sqrt(step);
    }
    if (best.objective == INFINITY)
        return model;
    model.nugget = best.coefficients[0];
    model.sills[0] = best.coefficients[1];
    model.sills[1] = best.coefficients[2];
    model.ranges_m[0] = best_ranges[0];
    model.ranges_m[1] = best_ranges[1];
    return model;
}
