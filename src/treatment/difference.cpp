#include "treatment/difference.h"

#include <cmath>

#include "ormelix/globals.h"
#include "treatment/ascii_writer.h"
#include "treatment/raster_writer.h"

double difference_cell(double first, double second, int32_t type_treat, int32_t basis,
                       double hypso)
{
    if (std::isnan(first) || std::isnan(second))
        return NAN;
    double result;
    switch (type_treat) {
    case TREAT_ABSOLUTE:
        result = std::fabs(first - second);
        break;
    case TREAT_NEGATIVE:
        result = second - first;
        if (!(result >= 0.0))
            result = 0.0;
        break;
    case TREAT_POSITIVE:
        result = first - second;
        // The positive kind keeps only rises of at least hypso, whatever basis is.
        if (!(result >= hypso))
            result = 0.0;
        if (!(result >= 0.0))
            result = 0.0;
        break;
    default:
        return 0.0;
    }
    // The elimination limit applies to the change in metres, never to the altitudes.
    if (basis == 0 && hypso > result)
        result = 0.0;
    return result;
}

void compute_difference(double *const *first, double *const *second, double **out,
                        int32_t lines, int32_t columns, int32_t type_treat, int32_t basis,
                        double hypso, double *d_min, double *d_max)
{
    double low = INFINITY;
    double high = -INFINITY;
    for (int32_t i = 0; i < lines; i++) {
        const double *row1 = first[i];
        const double *row2 = second[i];
        double *row = out[i];
        for (int32_t j = 0; j < columns; j++) {
            double result = difference_cell(row1[j], row2[j], type_treat, basis, hypso);
            row[j] = result;
            // NaN fails both tests: cells without data take no part in the range.
            if (result < low)
                low = result;
            if (result > high)
                high = result;
        }
    }
    if (low > high) {  // no cell holds data
        low = 0.0;
        high = 0.0;
    }
    *d_min = low;
    *d_max = high;
}

void treatment()
{
    double d_min = 0.0;
    double d_max = 0.0;
    compute_difference(dtab_dem1, dtab_dem2, dtab_out, nb_lig, nb_col, type_treat, basis,
                       hypso, &d_min, &d_max);
    if (format_out == 1)
        raster_output(d_min, d_max);
    if (format_out == 0)
        ascii_output();
}
