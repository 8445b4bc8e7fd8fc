#include "error_model/slope_sigma.h"

#include <algorithm>
#include <cmath>
#include <numeric>

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

slope_sigma fit_sigma_by_slope(const std::vector<double> &slopes_deg, const std::vector<double> &differences)
{
    slope_sigma model;
    std::vector<size_t> order;
    const size_t n = std::min(slopes_deg.size(), differences.size());
    for (size_t i = 0; i < n; i++)
        if (!std::isnan(slopes_deg[i]) && !std::isnan(differences[i]))
            order.push_back(i);
    std::vector<double> values(order.size());
    for (size_t i = 0; i < order.size(); i++)
        values[i] = differences[order[i]];
    model.overall_sigma_m = nmad_of(values);
    const size_t bins = std::min(SLOPE_SIGMA_BINS, order.size() / SLOPE_SIGMA_LEAST_CELLS);
    if (bins == 0) {
        model.reason = text_printf("fewer than %zu stable cells with a slope (%zu)", SLOPE_SIGMA_LEAST_CELLS,
                                   order.size());
        return model;
    }
    // Ties broken by position, so that the bins do not depend on the sort's whims.
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return slopes_deg[a] < slopes_deg[b] || (slopes_deg[a] == slopes_deg[b] && a < b);
    });
    for (size_t k = 0; k < bins; k++) {
        const size_t first = k * order.size() / bins, last = (k + 1) * order.size() / bins;
        slope_sigma_bin bin;
        bin.cells = last - first;
        bin.lowest_deg = slopes_deg[order[first]];
        bin.highest_deg = slopes_deg[order[last - 1]];
        std::vector<double> slopes(bin.cells);
        values.resize(bin.cells);
        for (size_t i = first; i < last; i++) {
            slopes[i - first] = slopes_deg[order[i]];
            values[i - first] = differences[order[i]];
        }
        bin.slope_deg = median_of(slopes);
        bin.sigma_m = nmad_of(values);
        model.bins.push_back(bin);
    }
    return model;
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
