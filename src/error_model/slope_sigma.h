// Each cell's error of the change as a function of its slope, from the stable ground:
// one error for every cell detects too much change on cliffs and too little on flats.
#ifndef ORMELIX_SLOPE_SIGMA_H
#define ORMELIX_SLOPE_SIGMA_H

#include <cstddef>
#include <string>
#include <vector>

// NMAD_FACTOR x the median absolute deviation from the median is the standard deviation
// of a normal sample, robust to the outliers stable ground always has.
constexpr double NMAD_FACTOR = 1.4826;

struct slope_sigma_bin {
    double slope_deg = 0.0;                    // the median slope of the bin's cells, its centre
    double lowest_deg = 0.0, highest_deg = 0.0;
    double sigma_m = 0.0;                      // NMAD of the bin's differences
    size_t cells = 0;
};

struct slope_sigma {
    std::vector<slope_sigma_bin> bins;  // by increasing slope; empty when reason says why
    double overall_sigma_m = 0.0;       // NMAD of all the differences, for cells without a slope
    std::string reason;
};

constexpr size_t SLOPE_SIGMA_BINS = 10;
constexpr size_t SLOPE_SIGMA_LEAST_CELLS = 100;
// Beyond this many stable cells the bins are measured on an even spread of as many: a
// bin's NMAD then stands within about 0.5 % of all its cells', and a frame of 25 million
// cells is weighed in milliseconds instead of seconds.
constexpr size_t SLOPE_SIGMA_MOST_CELLS = 1000000;

// A stable cell: its slope, its difference (first - second), and its place, which
// orders the cells of one slope.
struct slope_sample {
    double slope_deg = 0.0, difference = 0.0;
    size_t position = 0;
};

// The NMAD of the stable differences (first - second) in bins of slope of equal counts:
// SLOPE_SIGMA_BINS of them, fewer when that leaves a bin under SLOPE_SIGMA_LEAST_CELLS
// cells. Cells where either value is NaN take no part. The samples are reordered.
slope_sigma fit_sigma_by_slope(std::vector<slope_sample> &samples);
// The same of cells given as two lists, each cell's place its index.
slope_sigma fit_sigma_by_slope(const std::vector<double> &slopes_deg, const std::vector<double> &differences);

// A cell's error at its slope: linear between the bins' centres, the first's and the
// last's beyond them; the overall NMAD for a NaN slope.
double sigma_at_slope(const slope_sigma &model, double slope_deg);
// The same for a line of slopes, each replaced by its error divided by divisor.
void sigma_at_slopes(const slope_sigma &model, double divisor, double *slopes_deg, size_t count);

// The median (the mean of the two middles of an even count) and NMAD of values, which
// are reordered; both 0 for none.
double median_of(std::vector<double> &values);
double nmad_of(std::vector<double> &values);

#endif
