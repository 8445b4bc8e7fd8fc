#include "treatment/difference.h"

#include <cmath>
#include <cstdio>

#include "ormelix/console.h"
#include "ormelix/globals.h"

namespace {

// Results summed plainly before their sum joins the compensated one: a budget of a
// billion cells keeps the rounding error of a sum of this many.
const int32_t PLAIN_SUM_CELLS = 64;

// The budget of the run's result, printed once the output is in place.
change_budget budget_out;

} // namespace

void add_to_budget_sum(change_budget *budget, double value)
{
    const double total = budget->sum + value;
    // The smaller term loses its low bits in the addition: they are kept apart.
    if (std::fabs(budget->sum) >= std::fabs(value))
        budget->compensation += (budget->sum - total) + value;
    else
        budget->compensation += (value - total) + budget->sum;
    budget->sum = total;
}

void merge_budgets(change_budget *into, const change_budget &part)
{
    into->cells += part.cells;
    into->changed += part.changed;
    into->without_data += part.without_data;
    add_to_budget_sum(into, part.sum);
    into->compensation += part.compensation;
}

double budget_total(const change_budget &budget)
{
    // An infinite change leaves a compensation that is not a number.
    return std::isfinite(budget.sum) ? budget.sum + budget.compensation : budget.sum;
}

std::string format_change_budget(const std::string &output_path, double cell_size,
                                 const change_budget &budget)
{
    const double total = budget_total(budget);
    const double cell_area = cell_size * cell_size;
    const double area = static_cast<double>(budget.changed) * cell_area;
    const double volume = total * cell_area;
    double mean = 0.0;
    // Cells of no size still have a mean change.
    if (budget.changed > 0)
        mean = area > 0.0 ? volume / area : total / static_cast<double>(budget.changed);
    return text_printf("\n\n\tCHANGE BUDGET OF %s (cells of %lf m) :", output_path.c_str(), cell_size) +
           text_printf("\n\t\tcells with a change : %zu of %zu (%zu without data)", budget.changed,
                       budget.cells, budget.without_data) +
           text_printf("\n\t\tarea of change      : %lf m2", area) +
           text_printf("\n\t\tvolume of change    : %lf m3", volume) +
           text_printf("\n\t\tmean change         : %lf m\n", mean);
}

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
        if (!(result >= hypso))
            result = 0.0;
        if (!(result >= 0.0))
            result = 0.0;
        break;
    default:
        return 0.0;
    }
    // The limit applies to the change in metres, never to the altitudes.
    if (basis == 0 && hypso > result)
        result = 0.0;
    return result;
}

void compute_difference(double *const *first, double *const *second, double **out,
                        int32_t lines, int32_t columns, int32_t type_treat, int32_t basis,
                        double hypso, double *d_min, double *d_max, change_budget *budget)
{
    double low = INFINITY;
    double high = -INFINITY;
    change_budget part;
    for (int32_t i = 0; i < lines; i++) {
        const double *row1 = first[i];
        const double *row2 = second[i];
        double *row = out[i];
        for (int32_t start = 0; start < columns; start += PLAIN_SUM_CELLS) {
            const int32_t end = columns - start > PLAIN_SUM_CELLS ? start + PLAIN_SUM_CELLS : columns;
            double plain_sum = 0.0;
            size_t changed = 0;
            size_t without_data = 0;
            for (int32_t j = start; j < end; j++) {
                double result = difference_cell(row1[j], row2[j], type_treat, basis, hypso);
                row[j] = result;
                // NaN fails both tests: cells without data take no part in the range.
                if (result < low)
                    low = result;
                if (result > high)
                    high = result;
                const bool change = result > 0.0;
                changed += change;
                plain_sum += change ? result : 0.0;
                without_data += std::isnan(result);
            }
            add_to_budget_sum(&part, plain_sum);
            part.changed += changed;
            part.without_data += without_data;
        }
    }
    if (lines > 0 && columns > 0)
        part.cells = static_cast<size_t>(lines) * static_cast<size_t>(columns);
    if (low > high) {  // no cell holds data
        low = 0.0;
        high = 0.0;
    }
    *d_min = low;
    *d_max = high;
    if (budget != nullptr)
        merge_budgets(budget, part);
}

void treatment()
{
    double d_min = 0.0;
    double d_max = 0.0;
    budget_out = change_budget();
    compute_difference(dtab_dem1, dtab_dem2, dtab_out, nb_lig, nb_col, type_treat, basis,
                       hypso, &d_min, &d_max, &budget_out);
    if (format_out == 1)
        raster_output(d_min, d_max);
    if (format_out == 0)
        ascii_output();
}

void print_change_budget()
{
    // The result has the inputs' frame, whose cell size the second grid gives.
    const double cell_size = format_dem2 == 0 ? dpix_size : dpix_size2;
    std::fputs(format_change_budget(nomim3, cell_size, budget_out).c_str(), stdout);
}
