#include "error_model/slope_sigma.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "platform/wider_vectors.h"
#include "platform/worker_thread.h"
#include "text/number_text.h"

double median_of(std::vector<double> &values)
{
    if (values.empty())
        return 0.0;
    const size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle), values.end());
    const double upper = values[middle];
    if (values.size() % 2 != 0)
        return upper;
    const double lower = *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle));
    return 0.5 * (lower + upper);
}

double nmad_of(std::vector<double> &values)
{
    const double median = median_of(values);
    for (double &v : values)
        v = std::fabs(v - median);
    return NMAD_FACTOR * median_of(values);
}

namespace {

bool slope_order(const slope_sample &a, const slope_sample &b)
{
    return a.slope_deg < b.slope_deg || (a.slope_deg == b.slope_deg && a.position < b.position);
}

// Puts the samples of every bin between its bounds (bounds[k] to bounds[k + 1]) in the
// slope order, each bin's own samples in any order: a selection at the middle bound,
// then each side's, rather than a sort of them all.
void split_at_bounds(std::vector<slope_sample> &samples, const std::vector<size_t> &bounds, size_t low, size_t high)
{
    if (high - low < 2)
        return;
    const size_t middle = (low + high) / 2;
    const auto at = [&](size_t k) { return samples.begin() + static_cast<std::ptrdiff_t>(bounds[k]); };
    std::nth_element(at(low), at(middle), at(high), slope_order);
    split_at_bounds(samples, bounds, low, middle);
    split_at_bounds(samples, bounds, middle, high);
}

} // namespace

slope_sigma fit_sigma_by_slope(std::vector<slope_sample> &samples)
{
    slope_sigma model;
    samples.erase(std::remove_if(samples.begin(), samples.end(),
                                 [](const slope_sample &s) { return std::isnan(s.slope_deg) || std::isnan(s.difference); }),
                  samples.end());
    std::vector<double> values(samples.size());
    for (size_t i = 0; i < samples.size(); i++)
        values[i] = samples[i].difference;
    const size_t bins = std::min(SLOPE_SIGMA_BINS, samples.size() / SLOPE_SIGMA_LEAST_CELLS);
    if (bins == 0) {
        model.overall_sigma_m = nmad_of(values);
        model.reason = text_printf("fewer than %zu stable cells with a slope (%zu)", SLOPE_SIGMA_LEAST_CELLS,
                                   samples.size());
        return model;
    }
    std::vector<size_t> bounds(bins + 1);
    for (size_t k = 0; k <= bins; k++)
        bounds[k] = k * samples.size() / bins;
    // The bins measured from their samples, each with room of its own.
    model.bins.resize(bins);
    const auto measure = [&](size_t from, size_t to) {
        split_at_bounds(samples, bounds, from, to);
        std::vector<double> slopes, differences;
        for (size_t k = from; k < to; k++) {
            const auto first = samples.begin() + static_cast<std::ptrdiff_t>(bounds[k]);
            const auto last = samples.begin() + static_cast<std::ptrdiff_t>(bounds[k + 1]);
            slope_sigma_bin &bin = model.bins[k];
            bin.cells = bounds[k + 1] - bounds[k];
            bin.lowest_deg = std::min_element(first, last, slope_order)->slope_deg;
            bin.highest_deg = std::max_element(first, last, slope_order)->slope_deg;
            slopes.resize(bin.cells);
            differences.resize(bin.cells);
            for (size_t i = 0; i < bin.cells; i++) {
                slopes[i] = first[static_cast<std::ptrdiff_t>(i)].slope_deg;
                differences[i] = first[static_cast<std::ptrdiff_t>(i)].difference;
            }
            bin.slope_deg = median_of(slopes);
            bin.sigma_m = nmad_of(differences);
        }
    };
    // On two threads: the overall NMAD beside the split at the middle bound, then each
    // half of the bins, split and measured, on its own.
    const size_t middle = bins / 2;
    worker_thread helper;
    const bool shared = bins > 1 && worker_start(&helper);
    if (shared)
        worker_post(&helper, [&] { model.overall_sigma_m = nmad_of(values); });
    else
        model.overall_sigma_m = nmad_of(values);
    const auto at = [&](size_t k) { return samples.begin() + static_cast<std::ptrdiff_t>(bounds[k]); };
    if (bins > 1)
        std::nth_element(at(0), at(middle), at(bins), slope_order);
    if (shared) {
        worker_wait(&helper);
        worker_post(&helper, [&] { measure(middle, bins); });
        measure(0, middle);
        worker_wait(&helper);
        worker_stop(&helper);
    } else {
        measure(0, middle);
        measure(middle, bins);
    }
    return model;
}

slope_sigma fit_sigma_by_slope(const std::vector<double> &slopes_deg, const std::vector<double> &differences)
{
    std::vector<slope_sample> samples(std::min(slopes_deg.size(), differences.size()));
    for (size_t i = 0; i < samples.size(); i++)
        samples[i] = slope_sample{slopes_deg[i], differences[i], i};
    return fit_sigma_by_slope(samples);
}

double sigma_at_slope(const slope_sigma &model, double slope_deg)
{
    const std::vector<slope_sigma_bin> &bins = model.bins;
    if (bins.empty() || std::isnan(slope_deg))
        return model.overall_sigma_m;
    if (slope_deg <= bins.front().slope_deg)
        return bins.front().sigma_m;
    if (slope_deg >= bins.back().slope_deg)
        return bins.back().sigma_m;
    // The first centre above the slope; bins of one centre (flat ground in many cells)
    // leave no gap to interpolate across.
    const auto above = std::upper_bound(bins.begin(), bins.end(), slope_deg,
                                        [](double s, const slope_sigma_bin &bin) { return s < bin.slope_deg; });
    const slope_sigma_bin &high = *above, &low = *(above - 1);
    const double t = (slope_deg - low.slope_deg) / (high.slope_deg - low.slope_deg);
    return low.sigma_m + t * (high.sigma_m - low.sigma_m);
}

ALSO_IN_WIDER_VECTORS void sigma_at_slopes(const slope_sigma &model, double divisor, double *slopes_deg, size_t count)
{
    const std::vector<slope_sigma_bin> &bins = model.bins;
    if (bins.empty()) {
        for (size_t j = 0; j < count; j++)
            slopes_deg[j] = model.overall_sigma_m / divisor;
        return;
    }
    // As sigma_at_slope, a vector of cells at a time: the inner centres at or below the
    // slope counted (those past them never are), the bins on either side then read, each
    // case's error worked out and the right one kept.
    const size_t centres = bins.size();
    double counted[SLOPE_SIGMA_BINS], centre[SLOPE_SIGMA_BINS], sigma[SLOPE_SIGMA_BINS];
    for (size_t k = 0; k < SLOPE_SIGMA_BINS; k++) {
        const slope_sigma_bin &bin = bins[std::min(k, centres - 1)];
        counted[k] = k > 0 && k + 1 < centres ? bin.slope_deg : INFINITY;
        centre[k] = bin.slope_deg;
        sigma[k] = bin.sigma_m;
    }
    const double first = bins.front().slope_deg, last = bins.back().slope_deg;
    const double first_sigma = bins.front().sigma_m, last_sigma = bins.back().sigma_m;
    const double overall = model.overall_sigma_m;
    for (size_t j = 0; j < count; j++) {
        const double slope = slopes_deg[j];
        size_t above = 1;
        for (size_t k = 1; k + 1 < SLOPE_SIGMA_BINS; k++)
            above += slope >= counted[k] ? 1 : 0;
        const double low = centre[above - 1], high = centre[above];
        const double t = (slope - low) / (high - low);
        const double between = sigma[above - 1] + t * (sigma[above] - sigma[above - 1]);
        const double error = slope <= first ? first_sigma : slope >= last ? last_sigma : between;
        slopes_deg[j] = (slope == slope ? error : overall) / divisor;
    }
}
