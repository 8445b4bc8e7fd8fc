// The report's picture of the variogram: the empirical points with their pairs, the
// fitted model, its two ranges and the variance marked.
#ifndef ORMELIX_VARIOGRAM_PICTURE_H
#define ORMELIX_VARIOGRAM_PICTURE_H

#include <string>
#include <vector>

#include "error_model/variogram.h"

// An SVG element of width x height pixels, lags on a logarithmic axis (the bins grow
// by √2), semivariance on a linear one. A point by Dowd's estimator is filled, one by
// Matheron's hollow; each gives its lag, semivariance and pairs as its title.
std::string variogram_svg(const std::vector<variogram_bin> &bins, const variogram_model &model, int width = 640,
                          int height = 360);

#endif
