// The report's picture of the variogram: the empirical points with their pairs, the
// fitted model, its two ranges and the variance marked.
#ifndef ORMELIX_VARIOGRAM_PICTURE_H
#define ORMELIX_VARIOGRAM_PICTURE_H

#include <string>
#include <vector>

#include "error_model/slope_sigma.h"
#include "error_model/variogram.h"

// An SVG element of width x height pixels, lags on a logarithmic axis (the bins grow
// by √2), semivariance on a linear one. A point by Dowd's estimator is filled, one by
// Matheron's hollow; each gives its lag, semivariance and pairs as its title.
std::string variogram_svg(const std::vector<variogram_bin> &bins, const variogram_model &model, int width = 640,
                          int height = 360);

// The error of the change against slope, both axes linear from 0: each bin's NMAD at its
// centre (its title gives its slopes and cells), the span of its slopes as a bar, and
// the error the cells take, interpolated between the centres and held beyond them.
std::string sigma_by_slope_svg(const std::vector<slope_sigma_bin> &bins, int width = 480, int height = 300);

#endif
