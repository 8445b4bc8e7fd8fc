#include "treatment/run_pass.h"

#include <cmath>

#include "globals/globals.h"
#include "platform/worker_thread.h"
#include "treatment/change_test.h"

namespace {

// The run's test as the pass takes it: a uniform one as a limit (a confidence level
// with uniform errors is the limit t * sigma), errors of the cells as grids, a uniform
// error beside a grid as a grid whose lines are all one line.
struct run_pass_test {
    int32_t basis = 1;
    double hypso = 0.0;
    bool by_cell = false;
    double uniform_sigma = 0.0;  // of every cell's change, when the test is uniform
    cell_errors errors = {nullptr, nullptr, 0.0};
    std::vector<double> uniform_line[2];
    std::vector<double *> uniform_rows[2];
    // Errors made line by line: the rows each point at the lines their thread made last.
    bool by_line = false;
    std::vector<double *> line_rows;
    std::vector<double> line_sums;
    uint64_t generation = 0;
};
run_pass_test pass_test;
std::function<void(int32_t, double *)> line_errors_fill;
uint64_t pass_generation = 0;

// The errors of lines [first, end) of the pass with their rows.
struct line_band {
    uint64_t generation = 0;
    int32_t first = 0, end = 0;
    std::vector<double> errors;

    bool holds(int32_t first_line, int32_t end_line) const
    {
        return generation == pass_test.generation && first <= first_line && end_line <= end;
    }
    void start(int32_t first_line, int32_t end_line)
    {
        errors.resize(static_cast<size_t>(end_line - first_line) * static_cast<size_t>(nb_col));
        generation = pass_test.generation;
        first = first_line;
        end = end_line;
    }
    // Lines [from, to) of the band made, with their sums.
    void make(int32_t from, int32_t to)
    {
        const size_t columns = static_cast<size_t>(nb_col);
        for (int32_t i = from; i < to; i++) {
            double *line = errors.data() + static_cast<size_t>(i - first) * columns;
            line_errors_fill(i, line);
            double sum = 0.0;
            for (size_t j = 0; j < columns; j++)
                sum += line[j];
            pass_test.line_sums[static_cast<size_t>(i)] = sum;
        }
    }
    void point_rows(int32_t first_line, int32_t end_line) const
    {
        for (int32_t i = first_line; i < end_line; i++)
            pass_test.line_rows[static_cast<size_t>(i)] =
                const_cast<double *>(errors.data()) + static_cast<size_t>(i - first) * static_cast<size_t>(nb_col);
    }
};
// A band's errors made once for every thread that takes its lines (make_run_band_errors).
line_band shared_band;

// The errors of lines [first_line, end_line) made on this thread (unless the band made for
// all or this thread holds them from before) and their rows pointing at them.
void make_line_errors(int32_t first_line, int32_t end_line)
{
    if (shared_band.holds(first_line, end_line)) {
        shared_band.point_rows(first_line, end_line);
        return;
    }
    thread_local line_band band;
    if (!band.holds(first_line, end_line)) {
        band.start(first_line, end_line);
        band.make(first_line, end_line);
    }
    band.point_rows(first_line, end_line);
}

} // namespace

void prepare_run_pass()
{
    const change_test test = run_change_test();
    pass_test = run_pass_test();
    pass_test.basis = basis;
    pass_test.hypso = hypso;
    if (basis != TEST_CONFIDENCE)
        return;
    if (!errors_by_cell(test)) {
        pass_test.basis = TEST_LIMIT;
        pass_test.hypso = uniform_detection_limit(test);
        pass_test.uniform_sigma = uniform_change_sigma(test);
        return;
    }
    // A cell where either grid has no error has no data: the pass and the map both see
    // to it, the grids are left as they were read.
    pass_test.by_cell = true;
    pass_test.hypso = 0.0;
    pass_test.errors.t = test.t;
    if (line_errors_fill) {
        pass_test.by_line = true;
        pass_test.generation = ++pass_generation;
        pass_test.line_rows.assign(static_cast<size_t>(nb_lig), nullptr);
        pass_test.line_sums.assign(static_cast<size_t>(nb_lig), 0.0);
        pass_test.errors.first = pass_test.errors.second = pass_test.line_rows.data();
        return;
    }
    double **grids[] = {dtab_sigma1, dtab_sigma2};
    const double sigmas[] = {sigma_dem1, sigma_dem2};
    double *const *rows[2];
    for (int k = 0; k < 2; k++) {
        rows[k] = grids[k];
        if (grids[k] != nullptr)
            continue;
        pass_test.uniform_line[k].assign(static_cast<size_t>(nb_col), sigmas[k]);
        pass_test.uniform_rows[k].assign(static_cast<size_t>(nb_lig), pass_test.uniform_line[k].data());
        rows[k] = pass_test.uniform_rows[k].data();
    }
    pass_test.errors.first = rows[0];
    pass_test.errors.second = rows[1];
}

const cell_errors *run_cell_errors()
{
    return pass_test.by_cell ? &pass_test.errors : nullptr;
}

void set_run_line_errors(const std::function<void(int32_t line, double *errors)> &fill)
{
    line_errors_fill = fill;
}

bool run_errors_by_line()
{
    return pass_test.by_line;
}

void make_run_band_errors(int32_t first_line, int32_t end_line, worker_thread *helper)
{
    if (!pass_test.by_line)
        return;
    shared_band.start(first_line, end_line);
    const int32_t half = first_line + (end_line - first_line) / 2;
    const bool shared = helper != nullptr && helper->running && half > first_line;
    if (shared)
        worker_post(helper, [half, end_line] { shared_band.make(half, end_line); });
    shared_band.make(first_line, shared ? half : end_line);
    if (shared)
        worker_wait(helper);
}

double run_line_errors_mean()
{
    double sum = 0.0;
    for (double line : pass_test.line_sums)
        sum += line;
    const double cells = static_cast<double>(pass_test.line_sums.size()) * nb_col;
    return cells > 0.0 ? sum / cells : 0.0;
}

void run_difference_of_lines(int32_t first_line, int32_t end_line, const double *line_areas,
                             difference_part *part)
{
    if (pass_test.by_line)
        make_line_errors(first_line, end_line);
    difference_of_lines(dtab_dem1, dtab_dem2, dtab_out, first_line, end_line, nb_col, type_treat, pass_test.basis,
                        pass_test.hypso, line_areas, part, run_cell_errors());
}

void run_difference_of_run(int32_t line, int32_t start, int32_t end, double *scratch, const double *line_areas,
                           difference_part *part)
{
    double *first = dtab_dem1[line] + start;
    double *second = dtab_dem2[line] + start;
    cell_errors errors = pass_test.errors;
    double *first_errors = nullptr, *second_errors = nullptr;
    if (pass_test.by_line)
        make_line_errors(line, line + 1);
    if (pass_test.by_cell) {
        first_errors = pass_test.errors.first[line] + start;
        second_errors = pass_test.errors.second[line] + start;
        errors.first = &first_errors;
        errors.second = &second_errors;
    }
    difference_of_lines(&first, &second, &scratch, 0, 1, end - start, type_treat, pass_test.basis, pass_test.hypso,
                        line_areas != nullptr ? line_areas + line : nullptr, part,
                        pass_test.by_cell ? &errors : nullptr);
}

void collect_detected_cells(int32_t first_line, int32_t end_line, const double *line_areas,
                            correlated_error_collector *cells)
{
    const double t = pass_test.errors.t;
    const double hypso = pass_test.hypso;
    // The positive kind also keeps only rises of at least hypso, as the pass does.
    const double least_rise = type_treat == TREAT_POSITIVE ? hypso : -INFINITY;
    if (pass_test.by_line)
        make_line_errors(first_line, end_line);
    for (int32_t i = first_line; i < end_line; i++) {
        const double *first = dtab_dem1[i];
        const double *second = dtab_dem2[i];
        const double area = line_areas[i];
        if (!pass_test.by_cell) {
            for (int32_t j = 0; j < nb_col; j++) {
                const double change = first[j] - second[j];
                const double magnitude = std::fabs(change);
                // A change that is not a number fails the first comparison.
                if (magnitude > 0.0 && change_detected(magnitude, hypso) && !(change > 0.0 && !(change >= least_rise)))
                    cells->add(i, j, pass_test.uniform_sigma * area, change > 0.0);
            }
            continue;
        }
        const double *sigma_first = pass_test.errors.first[i];
        const double *sigma_second = pass_test.errors.second[i];
        for (int32_t j = 0; j < nb_col; j++) {
            const double change = first[j] - second[j];
            const double magnitude = std::fabs(change);
            const double s1 = sigma_first[j], s2 = sigma_second[j];
            const double variance = s1 * s1 + s2 * s2;
            if (!(magnitude > 0.0) || !std::isfinite(variance) || !change_detected(magnitude, confidence_limit(t, s1, s2)) ||
                (change > 0.0 && !(change >= least_rise)))
                continue;
            cells->add(i, j, std::sqrt(variance) * area, change > 0.0);
        }
    }
}
