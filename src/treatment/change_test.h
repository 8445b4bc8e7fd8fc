// How a cell's change is judged real: every change (no elimination), a change of at
// least a limit, or a change that is real at a confidence level given each grid's error.
#ifndef ORMELIX_CHANGE_TEST_H
#define ORMELIX_CHANGE_TEST_H

#include <cmath>
#include <cstdint>
#include <string>

// The quantile of the standard normal distribution: the x below which a share p of it
// lies, 0 < p < 1, to the precision of the doubles.
double normal_quantile(double p);
// The factor t of the two-sided test at a confidence level in percent: a change of t
// standard deviations or more is real at that level (1.959964 at 95 %).
double confidence_factor(double confidence_pct);

// The values of basis.
enum { TEST_LIMIT = 0, TEST_NONE = 1, TEST_CONFIDENCE = 2 };

struct change_test {
    int32_t basis = TEST_NONE;
    double hypso = 0.0;                 // the limit of TEST_LIMIT, in metres
    double confidence_pct = 0.0, t = 0.0;
    // Each grid's error (a standard deviation in metres), or its error grid's mean
    // where the grid's file is named.
    double sigma_first = 0.0, sigma_second = 0.0;
    std::string grid_first, grid_second;
};

// The run's test, from the globals.
change_test run_change_test();
// Whether some cells have errors of their own.
bool errors_by_cell(const change_test &test);
// The standard deviation of every cell's change, when the errors are uniform.
double uniform_change_sigma(const change_test &test);
// The magnitude a change must reach to be detected when it is the same for every cell:
// the limit, t times the uniform deviation, or 0.
double uniform_detection_limit(const change_test &test);
// The rule of detection, which the pass, the map and the histograms all apply: a change is
// real when its magnitude reaches its cell's limit. A limit that is not a number removes
// nothing, as an elimination below it would.
inline bool change_detected(double magnitude, double limit) { return !(limit > magnitude); }
// A cell's limit at a confidence level: t times the standard deviation of its change, the
// root sum of squares of its two grids' errors.
inline double confidence_limit(double t, double sigma_first, double sigma_second)
{
    return t * std::sqrt(sigma_first * sigma_first + sigma_second * sigma_second);
}
// Whether the budget has detected figures.
inline bool test_detects(const change_test &test) { return test.basis == TEST_LIMIT || test.basis == TEST_CONFIDENCE; }
// The test in words, as the budget's line states it ("" without a confidence level).
std::string confidence_test_text(const change_test &test);

#endif
