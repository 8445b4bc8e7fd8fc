// The difference pass: the cell-by-cell difference of two grids of altitudes, with its
// clamps, the elimination of low values, the range of the result and the sums of the
// budget of the change, cell by cell (change_budget.h says what they come to). It works
// on the grids it is given; run_pass.h applies it to the run's.
#ifndef ORMELIX_DIFFERENCE_H
#define ORMELIX_DIFFERENCE_H

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "treatment/change_budget.h"
#include "treatment/change_map.h"
#include "treatment/change_test.h"
#include "treatment/difference_kinds.h"
#include "treatment/frame_area.h"


// One cell: kind 0 |first - second|, kind 1 second - first where positive, kind 2
// first - second where at least hypso, whatever basis is, kind 3 first - second; with
// basis 0, any result whose magnitude is below hypso becomes 0.0. A cell without data
// (NaN) in either grid gives NaN.
double difference_cell(double first, double second, int32_t type_treat, int32_t basis,
                       double hypso);

// Fills out (lines x columns) from first and second and finds the smallest and the
// largest result among cells holding data (both 0.0 when none does); adds the cells
// to *budget when it is given, each line's cells of the area line_areas gives (of 1
// when it is null).
void compute_difference(double *const *first, double *const *second, double **out,
                        int32_t lines, int32_t columns, int32_t type_treat, int32_t basis,
                        double hypso, double *d_min, double *d_max,
                        change_budget *budget = nullptr, const double *line_areas = nullptr);

// The same pass in parts: lines [first_line, end_line) into *part, then the parts
// joined (in any order) into the range and the budget. line_areas, when given, holds
// the area of every line of the grid, from line 0.
struct difference_part {
    double low = INFINITY;
    double high = -INFINITY;
    change_budget budget;
};
// errors, when given, holds the standard deviations of the cells of both grids (see
// cell_errors): basis and hypso are then not looked at but for the positive kind's hypso.
void difference_of_lines(double *const *first, double *const *second, double **out, int32_t first_line,
                         int32_t end_line, int32_t columns, int32_t type_treat, int32_t basis, double hypso,
                         const double *line_areas, difference_part *part, const cell_errors *errors = nullptr);
void finish_difference(const difference_part *parts, size_t count, int32_t lines, int32_t columns,
                       int32_t type_treat, double *d_min, double *d_max, change_budget *budget);

// The vector instructions of the pass, widest last. The pass takes the widest the
// processor has; use_difference_vectors(widest) limits it (to test each width) and
// returns the width now in use.
enum { VECTORS_BASIC = 0, VECTORS_AVX2 = 1, VECTORS_AVX512 = 2 };
int32_t use_difference_vectors(int32_t widest);

#endif
