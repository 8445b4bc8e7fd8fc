// The cell-by-cell difference of two grids of altitudes, with its clamps, the
// elimination of low values and the range of the result.
#ifndef ORMELIX_DIFFERENCE_H
#define ORMELIX_DIFFERENCE_H

#include <cstdint>

// Kinds of difference.
enum { TREAT_ABSOLUTE = 0, TREAT_NEGATIVE = 1, TREAT_POSITIVE = 2 };

// One cell: kind 0 |first - second|, kind 1 second - first where positive, kind 2
// first - second where at least hypso, whatever basis is; with basis 0, any result
// below hypso becomes 0.0. A cell without data (NaN) in either grid gives NaN.
double difference_cell(double first, double second, int32_t type_treat, int32_t basis,
                       double hypso);

// Fills out (lines x columns) from first and second and finds the smallest and the
// largest result among cells holding data (both 0.0 when none does).
void compute_difference(double *const *first, double *const *second, double **out,
                        int32_t lines, int32_t columns, int32_t type_treat, int32_t basis,
                        double hypso, double *d_min, double *d_max);

// The difference of the grids read into the result, handed to the writer asked for.
void treatment();

#endif
