#include "treatment/difference.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>


namespace {

// Results summed plainly before their sum joins the compensated one: a budget of a
// billion cells keeps the rounding error of a sum of this many.
const int32_t PLAIN_SUM_CELLS = 256;

} // namespace

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
    case TREAT_SIGNED:
        result = first - second;
        if (basis == 0 && hypso > std::fabs(result))
            result = 0.0;
        return result;
    default:
        return 0.0;
    }
    // The elimination limit applies to the change in metres, never to the altitudes.
    if (basis == 0 && hypso > result)
        result = 0.0;
    return result;
}

// The pass gathers a dozen figures besides the difference: it keeps the pace of the
// difference alone only with four or eight cells per instruction, so it is compiled
// for AVX2 and AVX-512 as well, and the processor's widest is taken at run time. Not
// on Windows, where MinGW-w64 leaves the spills of wide vectors on a stack aligned
// for narrow ones.
#if defined(__GNUC__) && defined(__x86_64__) && !defined(_WIN32)
#define WIDE_VECTORS 1
#else
#define WIDE_VECTORS 0
#endif
// The steps of the pass, compiled into each width's own copy of it.
#if defined(__GNUC__)
#define PASS_INLINE inline __attribute__((always_inline))
#else
#define PASS_INLINE inline
#endif

namespace {

// A kind of difference the dialogue never lets through: 0.0 in every cell with data.
const int32_t TREAT_OTHER = -1;

// What a pass has found so far in its part of the grid.
using pass_state = difference_part;

// A run of cells of one area, counted and summed plainly, joins a measure.
void add_run(change_measure *measure, double cells, double sum, double area)
{
    measure->cells += static_cast<size_t>(cells);
    add_compensated(&measure->area, cells * area);
    add_compensated(&measure->volume, sum * area);
    add_compensated(&measure->area_squared, cells * area * area);
}

// And the sums of the standard deviations of its cells' changes and of their squares.
void add_run_errors(change_measure *measure, double sigmas, double variances, double area)
{
    add_compensated(&measure->error, sigmas * area);
    add_compensated(&measure->error_squared, variances * area * area);
}

// difference_cell over a run of cells of one line, for one kind, with no branch per
// cell so that the compiler computes several cells at once, and the budget of the
// run, whose cells have the area given. limit is hypso when small changes are
// eliminated, -infinity otherwise. With ANY_VALUES false the run takes a shorter way
// that holds only for cells with data and a limit that is a number: it returns false,
// leaving state as it was, when a cell has no data, and the run must be done again
// with ANY_VALUES true. With ERRORS, the limit of each cell is t times the standard
// deviation of its change, from the errors of its two grids (a cell where either has
// none has no data), and the detected cells' deviations are summed.
template <int32_t KIND, bool ANY_VALUES, bool ERRORS>
PASS_INLINE bool difference_run(const double *first, const double *second, double *out, int32_t count,
                                double hypso, double uniform_limit, double area, const double *sigma_first,
                                const double *sigma_second, double t, pass_state *state)
{
    double low = state->low;
    double high = state->high;
    // Counted as doubles, so that they stay in the vector registers of the results.
    double above = 0.0, above_cells = 0.0, below = 0.0, below_cells = 0.0;
    double above_kept = 0.0, above_kept_cells = 0.0, below_kept = 0.0, below_kept_cells = 0.0;
    double without_data = 0.0;
    double above_sigmas = 0.0, above_variances = 0.0, below_sigmas = 0.0, below_variances = 0.0;
#if defined(__GNUC__)
#pragma omp simd reduction(min : low) reduction(max : high)                                                  \
    reduction(+ : above, above_cells, below, below_cells, above_kept, above_kept_cells, below_kept,           \
                  below_kept_cells, without_data, above_sigmas, above_variances, below_sigmas, below_variances)
#endif
    for (int32_t j = 0; j < count; j++) {
        double a = first[j];
        double b = second[j];
        // Each cell's limit its own, in a value of the iteration: the loop stays in vectors.
        const double s1 = ERRORS ? sigma_first[j] : 0.0;
        const double s2 = ERRORS ? sigma_second[j] : 0.0;
        const double variance = s1 * s1 + s2 * s2;
        const double sigma = ERRORS ? std::sqrt(variance) : 0.0;
        const double limit = ERRORS ? confidence_limit(t, s1, s2) : uniform_limit;
        if (ERRORS) {
            // 0 where the errors are numbers: without an error, the cell has no data.
            const double gap = variance - variance;
            a += gap;
            b += gap;
        }
        double result;
        if (KIND == TREAT_ABSOLUTE) {
            result = std::fabs(a - b);
        } else if (KIND == TREAT_NEGATIVE) {
            result = b - a;
            result = !(result >= 0.0) ? 0.0 : result;
        } else if (KIND == TREAT_POSITIVE) {
            result = a - b;
            result = !(result >= hypso) ? 0.0 : result;
            result = !(result >= 0.0) ? 0.0 : result;
        } else if (KIND == TREAT_SIGNED) {
            result = a - b;
        } else {
            result = ((a != a) | (b != b)) ? NAN : 0.0;
        }
        if (KIND == TREAT_SIGNED)
            result = change_detected(std::fabs(result), limit) ? result : 0.0;
        else
            result = change_detected(result, limit) ? result : 0.0;
        // An absolute or signed difference of a cell without data is not a number already.
        if (ANY_VALUES && KIND != TREAT_ABSOLUTE && KIND != TREAT_SIGNED)
            result = ((a != a) | (b != b)) ? NAN : result;
        out[j] = result;
        low = result < low ? result : low;
        high = result > high ? result : high;

        // The budget weighs the change itself, whatever the kind keeps of it. The short
        // way lets a change that is not a number into the sums, where it shows: there
        // the results need not keep it.
        const double rise = ANY_VALUES ? (a - b > 0.0 ? a - b : 0.0) : (0.0 > a - b ? 0.0 : a - b);
        const double fall = ANY_VALUES ? (b - a > 0.0 ? b - a : 0.0) : (0.0 > b - a ? 0.0 : b - a);
        double rise_kept = change_detected(rise, limit) ? rise : 0.0;
        // The positive kind keeps only rises of at least hypso: so does its share.
        if (KIND == TREAT_POSITIVE)
            rise_kept = !(rise >= hypso) ? 0.0 : rise_kept;
        const double fall_kept = change_detected(fall, limit) ? fall : 0.0;
        above += rise;
        above_cells += rise > 0.0 ? 1.0 : 0.0;
        below += fall;
        below_cells += fall > 0.0 ? 1.0 : 0.0;
        above_kept += rise_kept;
        above_kept_cells += rise_kept > 0.0 ? 1.0 : 0.0;
        below_kept += fall_kept;
        below_kept_cells += fall_kept > 0.0 ? 1.0 : 0.0;
        if (ANY_VALUES)
            without_data += ((a != a) | (b != b)) ? 1.0 : 0.0;
        if (ERRORS) {
            above_sigmas += rise_kept > 0.0 ? sigma : 0.0;
            above_variances += rise_kept > 0.0 ? variance : 0.0;
            below_sigmas += fall_kept > 0.0 ? sigma : 0.0;
            below_variances += fall_kept > 0.0 ? variance : 0.0;
        }
    }
    if (!ANY_VALUES && (above != above || below != below))
        return false;
    state->low = low;
    state->high = high;
    change_budget &budget = state->budget;
    add_run(&budget.above, above_cells, above, area);
    add_run(&budget.below, below_cells, below, area);
    add_run(&budget.above_detected, above_kept_cells, above_kept, area);
    add_run(&budget.below_detected, below_kept_cells, below_kept, area);
    budget.without_data += static_cast<size_t>(without_data);
    if (ERRORS) {
        add_run_errors(&budget.above_detected, above_sigmas, above_variances, area);
        add_run_errors(&budget.below_detected, below_sigmas, below_variances, area);
    }
    return true;
}

// The pass for one kind, in runs of cells. Cells without data come in patches (the
// land outside a survey): after a run that held some, the next is taken the way
// that handles them, until a run holds none.
template <int32_t KIND, bool ERRORS>
PASS_INLINE void difference_lines(double *const *first, double *const *second, double **out, int32_t lines,
                                  int32_t columns, double hypso, double limit, const double *line_areas,
                                  const cell_errors *errors, pass_state *state)
{
    const bool limit_is_number = hypso == hypso;
    double *const *sigma_first = ERRORS ? errors->first : nullptr;
    double *const *sigma_second = ERRORS ? errors->second : nullptr;
    const double t = ERRORS ? errors->t : 0.0;
    bool without_data_near = !limit_is_number;
    for (int32_t i = 0; i < lines; i++) {
        const double area = line_areas != nullptr ? line_areas[i] : 1.0;
        for (int32_t start = 0; start < columns; start += PLAIN_SUM_CELLS) {
            const int32_t count = columns - start > PLAIN_SUM_CELLS ? PLAIN_SUM_CELLS : columns - start;
            const double *a = first[i] + start;
            const double *b = second[i] + start;
            double *result = out[i] + start;
            const double *s1 = ERRORS ? sigma_first[i] + start : nullptr;
            const double *s2 = ERRORS ? sigma_second[i] + start : nullptr;
            if (!without_data_near &&
                difference_run<KIND, false, ERRORS>(a, b, result, count, hypso, limit, area, s1, s2, t, state))
                continue;
            const size_t before = state->budget.without_data;
            difference_run<KIND, true, ERRORS>(a, b, result, count, hypso, limit, area, s1, s2, t, state);
            without_data_near = !limit_is_number || state->budget.without_data > before;
        }
    }
}

// The pass in two cells per instruction, as every x86-64 processor has them.
template <int32_t KIND, bool ERRORS>
void basic_lines(double *const *first, double *const *second, double **out, int32_t lines, int32_t columns,
                 double hypso, double limit, const double *line_areas, const cell_errors *errors, pass_state *state)
{
    difference_lines<KIND, ERRORS>(first, second, out, lines, columns, hypso, limit, line_areas, errors, state);
}

#if WIDE_VECTORS
// Four cells per instruction.
template <int32_t KIND, bool ERRORS>
__attribute__((target("avx2"))) void avx2_lines(double *const *first, double *const *second, double **out,
                                                 int32_t lines, int32_t columns, double hypso, double limit,
                                                 const double *line_areas, const cell_errors *errors, pass_state *state)
{
    difference_lines<KIND, ERRORS>(first, second, out, lines, columns, hypso, limit, line_areas, errors, state);
}

// Eight.
template <int32_t KIND, bool ERRORS>
__attribute__((target("avx512f"))) void avx512_lines(double *const *first, double *const *second, double **out,
                                                     int32_t lines, int32_t columns, double hypso, double limit,
                                                     const double *line_areas, const cell_errors *errors,
                                                     pass_state *state)
{
    difference_lines<KIND, ERRORS>(first, second, out, lines, columns, hypso, limit, line_areas, errors, state);
}
#endif

int32_t processor_vectors()
{
#if WIDE_VECTORS
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f"))
        return VECTORS_AVX512;
    if (__builtin_cpu_supports("avx2"))
        return VECTORS_AVX2;
#endif
    return VECTORS_BASIC;
}

// Not yet asked of the processor while -1; the pass may run on two threads at once.
std::atomic<int32_t> vectors_in_use{-1};

// The pass for one kind, in the widest vectors in use.
template <int32_t KIND, bool ERRORS>
void kind_lines(double *const *first, double *const *second, double **out, int32_t lines, int32_t columns,
                double hypso, double limit, const double *line_areas, const cell_errors *errors, pass_state *state)
{
    int32_t vectors = vectors_in_use.load(std::memory_order_relaxed);
    if (vectors < 0) {
        vectors = processor_vectors();
        vectors_in_use.store(vectors, std::memory_order_relaxed);
    }
#if WIDE_VECTORS
    if (vectors == VECTORS_AVX512) {
        avx512_lines<KIND, ERRORS>(first, second, out, lines, columns, hypso, limit, line_areas, errors, state);
        return;
    }
    if (vectors == VECTORS_AVX2) {
        avx2_lines<KIND, ERRORS>(first, second, out, lines, columns, hypso, limit, line_areas, errors, state);
        return;
    }
#endif
    basic_lines<KIND, ERRORS>(first, second, out, lines, columns, hypso, limit, line_areas, errors, state);
}

// What the result holds: the detected changes its kind keeps, with their signs for
// signed values.
change_measure output_measure(const change_budget &budget, int32_t type_treat)
{
    change_measure output;
    if (type_treat == TREAT_ABSOLUTE || type_treat == TREAT_POSITIVE || type_treat == TREAT_SIGNED)
        merge_measures(&output, budget.above_detected);
    if (type_treat == TREAT_ABSOLUTE || type_treat == TREAT_NEGATIVE)
        merge_measures(&output, budget.below_detected);
    if (type_treat == TREAT_SIGNED) {
        change_measure falls = budget.below_detected;
        falls.volume.sum = -falls.volume.sum;
        falls.volume.compensation = -falls.volume.compensation;
        merge_measures(&output, falls);
    }
    return output;
}

} // namespace

int32_t use_difference_vectors(int32_t widest)
{
    vectors_in_use = std::min(widest, processor_vectors());
    return vectors_in_use.load();
}

namespace {

template <bool ERRORS>
void lines_of_kind(double *const *first, double *const *second, double **out, int32_t lines, int32_t columns,
                   int32_t type_treat, double hypso, double limit, const double *line_areas,
                   const cell_errors *errors, difference_part *part)
{
    switch (type_treat) {
    case TREAT_ABSOLUTE:
        kind_lines<TREAT_ABSOLUTE, ERRORS>(first, second, out, lines, columns, hypso, limit, line_areas, errors, part);
        break;
    case TREAT_NEGATIVE:
        kind_lines<TREAT_NEGATIVE, ERRORS>(first, second, out, lines, columns, hypso, limit, line_areas, errors, part);
        break;
    case TREAT_POSITIVE:
        kind_lines<TREAT_POSITIVE, ERRORS>(first, second, out, lines, columns, hypso, limit, line_areas, errors, part);
        break;
    case TREAT_SIGNED:
        kind_lines<TREAT_SIGNED, ERRORS>(first, second, out, lines, columns, hypso, limit, line_areas, errors, part);
        break;
    default:
        kind_lines<TREAT_OTHER, ERRORS>(first, second, out, lines, columns, hypso, limit, line_areas, errors, part);
        break;
    }
}

} // namespace

void difference_of_lines(double *const *first, double *const *second, double **out, int32_t first_line,
                         int32_t end_line, int32_t columns, int32_t type_treat, int32_t basis, double hypso,
                         const double *line_areas, difference_part *part, const cell_errors *errors)
{
    const double limit = basis == 0 ? hypso : -INFINITY;
    const int32_t lines = end_line - first_line;
    first += first_line;
    second += first_line;
    out += first_line;
    if (line_areas != nullptr)
        line_areas += first_line;
    if (errors != nullptr) {
        cell_errors part_errors = *errors;
        part_errors.first += first_line;
        part_errors.second += first_line;
        lines_of_kind<true>(first, second, out, lines, columns, type_treat, hypso, limit, line_areas, &part_errors,
                            part);
    } else {
        lines_of_kind<false>(first, second, out, lines, columns, type_treat, hypso, limit, line_areas, nullptr,
                             part);
    }
}

void finish_difference(const difference_part *parts, size_t count, int32_t lines, int32_t columns,
                       int32_t type_treat, double *d_min, double *d_max, change_budget *budget)
{
    difference_part all;
    for (size_t k = 0; k < count; k++) {
        all.low = std::min(all.low, parts[k].low);
        all.high = std::max(all.high, parts[k].high);
        merge_budgets(&all.budget, parts[k].budget);
    }
    if (lines > 0 && columns > 0)
        all.budget.cells = static_cast<size_t>(lines) * static_cast<size_t>(columns);
    all.budget.output = output_measure(all.budget, type_treat);
    if (all.low > all.high) {  // no cell holds data
        all.low = 0.0;
        all.high = 0.0;
    }
    *d_min = all.low;
    *d_max = all.high;
    if (budget != nullptr)
        merge_budgets(budget, all.budget);
}

void compute_difference(double *const *first, double *const *second, double **out,
                        int32_t lines, int32_t columns, int32_t type_treat, int32_t basis,
                        double hypso, double *d_min, double *d_max, change_budget *budget,
                        const double *line_areas)
{
    difference_part part;
    difference_of_lines(first, second, out, 0, lines, columns, type_treat, basis, hypso, line_areas, &part);
    finish_difference(&part, 1, lines, columns, type_treat, d_min, d_max, budget);
}
