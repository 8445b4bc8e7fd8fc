// The third error model of a budget, the errors with their spatial correlation, as a
// typed result, and its renderings: rows for the budget file, lines for the console,
// the JSON object `correlation`.
#ifndef ORMELIX_CORRELATION_FIGURES_H
#define ORMELIX_CORRELATION_FIGURES_H

#include <string>
#include <vector>

#include "coordinates/frame_geometry.h"
#include "error_model/correlated_error.h"
#include "error_model/slope_sigma.h"
#include "error_model/variogram.h"

struct correlation_figures {
    bool available = false;
    std::string reason;  // why the model is left out when it is not available
    variogram_model model;
    std::vector<variogram_bin> variogram;        // the empirical points, for the report
    correlated_volume_errors errors;             // set by finish_correlation
    std::vector<slope_sigma_bin> sigma_by_slope;  // with --sigma stable-slope only
};

// The model from the standardised stable differences (standardised_stable_differences),
// before the pass; not available, with the reason, on too little stable ground.
correlation_figures correlation_model(const std::vector<float> &standardised, const frame_geometry &frame);
// The same from the stable cells read where the variogram asks them.
correlation_figures correlation_model(const variogram_cells &stable, const frame_geometry &frame);

// The errors of the cells the pass gathered, once it is over.
void finish_correlation(correlation_figures *figures, const correlated_error_collector &collector,
                        const frame_geometry &frame);

// One figure: its budget file column, its console label, its value and unit ("" for
// the model's figures, in units of the standardised differences).
struct correlation_row {
    std::string column, label;
    double value = 0.0;
    std::string unit;
};
// The budget file's new columns, in their order (values NaN, an empty cell, when the
// model is left out).
std::vector<correlation_row> correlation_rows(const correlation_figures &figures);

// The console's lines (label, value text) after the budget's other errors: the three
// errors with their share of each detected volume, the line of the model; or one line
// saying why the model is left out. Then the error by slope, a line a bin, when given.
struct correlation_line {
    std::string label, value;
};
std::vector<correlation_line> correlation_lines(const correlation_figures &figures, double above_volume_m3,
                                                double below_volume_m3, double net_volume_m3);

// The JSON object `correlation`, reals that read back to the very doubles, null for a
// figure left out (with the reason then).
std::string correlation_json(const correlation_figures &figures);

#endif
