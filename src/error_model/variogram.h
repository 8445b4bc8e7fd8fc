// The spatial correlation of the error of the change, measured on stable ground: the
// empirical variogram of the standardised stable differences and the model fitted to
// it, a nugget and two spherical models (a short and a long range).
#ifndef ORMELIX_VARIOGRAM_H
#define ORMELIX_VARIOGRAM_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "coordinates/frame_geometry.h"
#include "error_model/slope_sigma.h"

constexpr uint64_t VARIOGRAM_SEED = 20090601;
constexpr size_t VARIOGRAM_MAX_PAIRS = 1000000;
// Below this many pairs a bin's median is too coarse: the mean of the squares serves.
constexpr size_t VARIOGRAM_ROBUST_PAIRS = 100;
constexpr size_t VARIOGRAM_LEAST_CELLS = 1000;
constexpr size_t VARIOGRAM_LEAST_SHORT_PAIRS = 30;

struct variogram_bin {
    double lag_low_m = 0.0, lag_high_m = 0.0;  // its bounds, each √2 times the one before
    double lag_m = 0.0;                        // the mean distance of its pairs
    size_t pairs = 0;
    double gamma = 0.0;   // the semivariance, in standardised units squared
    bool robust = false;  // Dowd's 2.198 median(|Δ|)² / 2; else Matheron's mean(Δ²) / 2
};

struct empirical_variogram {
    std::vector<variogram_bin> bins;  // every bin from one cell to the largest lag
    size_t stable_cells = 0;
    double variance = 0.0;  // σ²_z, robust (NMAD²), as the robust bins estimate their sill
    double cell_m = 0.0, largest_lag_m = 0.0;
    std::string reason;  // why no model can be fitted; empty when one can
};

// The variogram of a field of lines x columns standardised stable differences (line 0
// at the top; NaN off stable ground): pairs drawn with the seed, at most max_pairs, as
// many tried in every lag bin, each from a stable cell to the cell at a random distance
// within the bin in a random direction, so that short lags are measured as well as long
// ones. The same field and seed give the same bins, byte for byte.
empirical_variogram sample_variogram(const std::vector<float> &field, const frame_geometry &frame,
                                     uint64_t seed = VARIOGRAM_SEED, size_t max_pairs = VARIOGRAM_MAX_PAIRS);

// The same field without a grid of it: its stable cells counted, the pairs' first cells
// chosen (every variogram_origin_stride-th stable cell in the lines' order, from the
// first) with their values, and the value of any other cell read where a pair asks it.
// A frame's field then costs no memory of its size, and the same cells give the same
// bins as the grid does.
struct variogram_cells {
    size_t stable_cells = 0;
    std::vector<size_t> origins;       // line x columns + column, in the lines' order
    std::vector<float> origin_values;
    // The standardised difference of a cell, NaN off stable ground; called from two
    // threads at once.
    std::function<float(size_t line, size_t column)> value_at;
    // Optional: asks the memory for what value_at will read of a cell, ahead of it.
    std::function<void(size_t line, size_t column)> prefetch;
};
size_t variogram_origin_stride(size_t stable_cells, size_t max_pairs = VARIOGRAM_MAX_PAIRS);
empirical_variogram sample_variogram(const variogram_cells &cells, const frame_geometry &frame,
                                     uint64_t seed = VARIOGRAM_SEED, size_t max_pairs = VARIOGRAM_MAX_PAIRS);

struct variogram_model {
    double nugget = 0.0;
    double sills[2] = {0.0, 0.0};     // short range first
    double ranges_m[2] = {0.0, 0.0};
    double variance = 0.0;            // σ²_z
    // γ(d): 0 at 0, the nugget just beyond.
    double gamma(double distance_m) const;
    // ρ(d) = 1 - γ(d) / σ²_z: 1 at 0; the part of σ²_z that the model does not reach
    // stays correlated at every distance.
    double correlation(double distance_m) const;
};

// The spherical model of unit sill: 1.5 h - 0.5 h³ of h = d / range, 1 beyond the range.
double spherical(double distance_m, double range_m);

// The model fitted to the bins by least squares weighted by their pairs, the ranges
// within [one cell, the largest lag], nugget and sills at least 0 and together at most
// σ²_z.
variogram_model fit_variogram(const empirical_variogram &variogram);

// Each DEM's error of the cells: a grid (rows of the DEMs' shape, NaN without one) or,
// where it is null, a uniform error.
struct change_errors {
    const double *const *first = nullptr;
    const double *const *second = nullptr;
    double uniform_first = 0.0, uniform_second = 0.0;
};

#endif
