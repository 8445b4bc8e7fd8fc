// The error of a detected volume with the correlation of the cells' errors that the
// stable ground's variogram measures: σ_V = √(Σᵢ Σⱼ ρ(dᵢⱼ) σᵢAᵢ σⱼAⱼ), between the
// independent model (ρ = 0 beyond a cell) and the correlated one (ρ = 1 everywhere).
#ifndef ORMELIX_CORRELATED_ERROR_H
#define ORMELIX_CORRELATED_ERROR_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "coordinates/frame_geometry.h"
#include "error_model/variogram.h"

// A detected cell: where it lies, and its error times its area, σ·A in m³.
struct detected_cell {
    int32_t line = 0, column = 0;
    double weight = 0.0;
};

// What the difference pass gathers for the correlated errors, cell by cell, in the
// order of the lines (16 bytes a detected cell). A pass on several threads fills one
// collector per run of lines and merges them in the lines' order.
struct correlated_error_collector {
    std::vector<detected_cell> above, below;  // first above second, first below second
    void add(int32_t line, int32_t column, double sigma_area, bool first_above)
    {
        (first_above ? above : below).push_back(detected_cell{line, column, sigma_area});
    }
    // Appends the cells of a collector of later lines.
    void merge(const correlated_error_collector &later);
};

struct correlated_error {
    size_t cells = 0;
    double error_m3 = 0.0;
    // (Σ σA)² / σ_V²: how many independent cells would give that error; the cells' count
    // without correlation, 1 with full correlation.
    double effective_cells = 0.0;
};

enum class double_sum_method { automatic, exact, sampled };
// Up to this many cells the double sum is exact (10^8 terms, a fraction of a second).
constexpr size_t CORRELATED_EXACT_CELLS = 10000;
// Beyond, the sum is sampled from this many cells, each against every cell within the
// model's ranges (blocks of cells for a long range).
constexpr size_t CORRELATED_SAMPLED_CELLS = 5000;
constexpr uint64_t CORRELATED_SEED = 20220101;

// σ_V of cells in any order. Sampled: the nugget's part and the part correlated at
// every distance are exact sums; each spherical model's part is summed, over a
// systematic sample of cells (blocks of an eighth of its range, for a long one), of
// each against every cell within its range.
correlated_error correlated_volume_error(const std::vector<detected_cell> &cells, const variogram_model &model,
                                         const frame_geometry &frame,
                                         double_sum_method method = double_sum_method::automatic);

struct correlated_volume_errors {
    correlated_error above, below;
    // Over the cells of both directions together: an error of a survey moves both
    // directions' volumes the same way, so the net's error is no root sum of squares.
    correlated_error net;
};
correlated_volume_errors finish_correlated_errors(const correlated_error_collector &collector,
                                                  const variogram_model &model, const frame_geometry &frame);

#endif
