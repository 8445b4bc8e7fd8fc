#include "treatment/difference.h"

#include <cmath>
#include <cstdio>

#include "globals/globals.h"
#include "text/number_text.h"
#include "treatment/change_report.h"
#include "treatment/file_forms.h"

namespace {

// Results summed plainly before their sum joins the compensated one: a budget of a
// billion cells keeps the rounding error of a sum of this many.
const int32_t PLAIN_SUM_CELLS = 256;

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
           text_printf("\n\t\tcells with a change : %llu of %llu (%llu without data)",
                       static_cast<unsigned long long>(budget.changed), static_cast<unsigned long long>(budget.cells),
                       static_cast<unsigned long long>(budget.without_data)) +
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

namespace {

// What a pass has found so far in its part of the grid.
struct pass_state {
    double low = INFINITY;
    double high = -INFINITY;
    change_budget budget;
};

// difference_cell over a run of cells, for one kind, with no branch per cell so
// that the compiler computes several cells at once. limit is hypso when small
// changes are eliminated, -infinity otherwise. With ANY_VALUES false the run takes
// a shorter way that holds only for cells with data and a limit that is a number:
// it returns false, leaving state as it was, when a result has no data, and the run
// must be done again with ANY_VALUES true.
template <int32_t KIND, bool ANY_VALUES>
bool difference_run(const double *first, const double *second, double *out, int32_t count, double hypso,
                    double limit, pass_state *state)
{
    double low = state->low;
    double high = state->high;
    double sum = 0.0;
    // Counted as doubles, so that they stay in the vector registers of the results.
    double changed = 0.0;
    double without_data = 0.0;
#if defined(__GNUC__)
#pragma omp simd reduction(min : low) reduction(max : high) reduction(+ : sum, changed, without_data)
#endif
    for (int32_t j = 0; j < count; j++) {
        const double a = first[j];
        const double b = second[j];
        double result;
        // The short way's tests let a result that is not a number stay one.
        if (KIND == TREAT_ABSOLUTE) {
            result = std::fabs(a - b);
        } else if (KIND == TREAT_NEGATIVE) {
            result = b - a;
            result = (ANY_VALUES ? !(result >= 0.0) : result < 0.0) ? 0.0 : result;
        } else {
            result = a - b;
            result = (ANY_VALUES ? !(result >= hypso) : result < hypso) ? 0.0 : result;
            result = (ANY_VALUES ? !(result >= 0.0) : result < 0.0) ? 0.0 : result;
        }
        result = limit > result ? 0.0 : result;
        // An absolute difference of a cell without data is not a number already.
        if (ANY_VALUES && KIND != TREAT_ABSOLUTE)
            result = ((a != a) | (b != b)) ? NAN : result;
        out[j] = result;
        low = result < low ? result : low;
        high = result > high ? result : high;
        if (ANY_VALUES) {
            const double kept = result > 0.0 ? result : 0.0;
            const double one = result > 0.0 ? 1.0 : 0.0;
            sum += kept;
            changed += one;
            without_data += result != result ? 1.0 : 0.0;
        } else {
            sum += result;
            changed += result > 0.0 ? 1.0 : 0.0;
        }
    }
    if (!ANY_VALUES && sum != sum)
        return false;
    state->low = low;
    state->high = high;
    state->budget.changed += static_cast<size_t>(changed);
    state->budget.without_data += static_cast<size_t>(without_data);
    add_to_budget_sum(&state->budget, sum);
    return true;
}

// The pass for one kind, in runs of cells. Cells without data come in patches (the
// land outside a survey): after a run that held some, the next is taken the way
// that handles them, until a run holds none.
template <int32_t KIND>
void difference_lines(double *const *first, double *const *second, double **out, int32_t lines,
                      int32_t columns, double hypso, double limit, pass_state *state)
{
    const bool limit_is_number = hypso == hypso;
    bool without_data_near = !limit_is_number;
    for (int32_t i = 0; i < lines; i++) {
        for (int32_t start = 0; start < columns; start += PLAIN_SUM_CELLS) {
            const int32_t count = columns - start > PLAIN_SUM_CELLS ? PLAIN_SUM_CELLS : columns - start;
            const double *a = first[i] + start;
            const double *b = second[i] + start;
            double *result = out[i] + start;
            if (!without_data_near && difference_run<KIND, false>(a, b, result, count, hypso, limit, state))
                continue;
            const size_t before = state->budget.without_data;
            difference_run<KIND, true>(a, b, result, count, hypso, limit, state);
            without_data_near = !limit_is_number || state->budget.without_data > before;
        }
    }
}

} // namespace

void compute_difference(double *const *first, double *const *second, double **out,
                        int32_t lines, int32_t columns, int32_t type_treat, int32_t basis,
                        double hypso, double *d_min, double *d_max, change_budget *budget)
{
    const double limit = basis == 0 ? hypso : -INFINITY;
    pass_state state;
    if (type_treat == TREAT_ABSOLUTE) {
        difference_lines<TREAT_ABSOLUTE>(first, second, out, lines, columns, hypso, limit, &state);
    } else if (type_treat == TREAT_NEGATIVE) {
        difference_lines<TREAT_NEGATIVE>(first, second, out, lines, columns, hypso, limit, &state);
    } else if (type_treat == TREAT_POSITIVE) {
        difference_lines<TREAT_POSITIVE>(first, second, out, lines, columns, hypso, limit, &state);
    } else {
        // A kind the dialogue never lets through, cell by cell.
        for (int32_t i = 0; i < lines; i++)
            for (int32_t j = 0; j < columns; j++) {
                const double result = difference_cell(first[i][j], second[i][j], type_treat, basis, hypso);
                out[i][j] = result;
                // NaN fails every test: cells without data take no part in the range or the sum.
                state.low = result < state.low ? result : state.low;
                state.high = result > state.high ? result : state.high;
                state.budget.changed += result > 0.0;
                state.budget.without_data += std::isnan(result);
                if (result > 0.0)
                    add_to_budget_sum(&state.budget, result);
            }
    }
    if (lines > 0 && columns > 0)
        state.budget.cells = static_cast<size_t>(lines) * static_cast<size_t>(columns);
    if (state.low > state.high) {  // no cell holds data
        state.low = 0.0;
        state.high = 0.0;
    }
    *d_min = state.low;
    *d_max = state.high;
    if (budget != nullptr)
        merge_budgets(budget, state.budget);
}

void treatment()
{
    double d_min = 0.0;
    double d_max = 0.0;
    budget_out = change_budget();
    compute_difference(dtab_dem1, dtab_dem2, dtab_out, nb_lig, nb_col, type_treat, basis,
                       hypso, &d_min, &d_max, &budget_out);
    if (format_out >= 0 && format_out < FILE_FORM_COUNT)
        FILE_FORMS[format_out].write_output(d_min, d_max);
    write_change_report();
}

std::vector<budget_line> run_budget_lines()
{
    const double cell_size = format_dem2 == 0 ? dpix_size : dpix_size2;
    const double cell_area = cell_size * cell_size;
    const double area = static_cast<double>(budget_out.changed) * cell_area;
    const double volume = budget_total(budget_out) * cell_area;
    return {{"cells with a change", text_printf("%llu of %llu (%llu without data)",
                                                static_cast<unsigned long long>(budget_out.changed),
                                                static_cast<unsigned long long>(budget_out.cells),
                                                static_cast<unsigned long long>(budget_out.without_data))},
            {"area of change", text_printf("%lf m2", area)},
            {"volume of change", text_printf("%lf m3", volume)}};
}

void print_change_budget()
{
    // The result has the inputs' frame, whose cell size the second grid gives.
    const double cell_size = format_dem2 == 0 ? dpix_size : dpix_size2;
    std::fputs(format_change_budget(nomim3, cell_size, budget_out).c_str(), stdout);
}
