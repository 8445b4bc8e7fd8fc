#include "treatment/stable_ground.h"

#include <algorithm>
#include <cmath>

#include "globals/given_answers.h"
#include "globals/globals.h"
#include "text/number_text.h"

namespace {

stable_ground_figures run_figures;
bool run_gathered = false;

// The median of values, reordered, as numpy gives it: the mean of the two middle
// values of an even count.
double median_of(std::vector<double> *values)
{
    const size_t n = values->size();
    auto middle = values->begin() + static_cast<std::ptrdiff_t>(n / 2);
    std::nth_element(values->begin(), middle, values->end());
    const double upper = *middle;
    if (n % 2 == 1)
        return upper;
    const double lower = *std::max_element(values->begin(), middle);
    return lower + (upper - lower) / 2.0;
}

} // namespace

stable_ground_figures stable_ground(double *const *mask, double *const *first, double *const *second,
                                    int32_t lines, int32_t columns)
{
    // NaN in any of the three grids is no data; NaN != 0 is true.
    const auto stable = [&](int32_t i, int32_t j) {
        return mask[i][j] != 0.0 && !std::isnan(mask[i][j]) && !std::isnan(first[i][j] - second[i][j]);
    };
    // Counted first: the changes of a mask of most of the frame take their room once.
    size_t count = 0;
    for (int32_t i = 0; i < lines; i++)
        for (int32_t j = 0; j < columns; j++)
            count += stable(i, j) ? 1 : 0;
    std::vector<double> change;
    change.reserve(count);
    compensated_sum sum;
    for (int32_t i = 0; i < lines; i++)
        for (int32_t j = 0; j < columns; j++)
            if (stable(i, j)) {
                change.push_back(first[i][j] - second[i][j]);
                add_compensated(&sum, change.back());
            }
    stable_ground_figures figures;
    figures.cells = change.size();
    if (change.empty())
        return figures;
    const double n = static_cast<double>(change.size());
    figures.mean = compensated_total(sum) / n;
    compensated_sum squares;
    for (double d : change)
        add_compensated(&squares, (d - figures.mean) * (d - figures.mean));
    figures.std_dev = std::sqrt(compensated_total(squares) / n);
    figures.median = median_of(&change);
    for (double &d : change)
        d = std::fabs(d - figures.median);
    figures.nmad = 1.4826 * median_of(&change);
    return figures;
}

std::string with_stable_ground_columns(const std::string &budget_csv, const stable_ground_figures &figures)
{
    const size_t names_end = budget_csv.find('\n');
    std::string names = budget_csv.substr(0, names_end);
    std::string values = budget_csv.substr(names_end + 1);
    if (!values.empty() && values.back() == '\n')
        values.pop_back();
    names += ",stable_cells,stable_median_m,stable_nmad_m,stable_mean_m,stable_std_m";
    values += "," + std::to_string(figures.cells);
    for (double value : {figures.median, figures.nmad, figures.mean, figures.std_dev})
        values += "," + (figures.cells > 0 ? exact_real_text(value) : std::string());
    return names + "\n" + values + "\n";
}

std::vector<budget_line> stable_ground_lines(const stable_ground_figures &f)
{
    return {
        {"stable ground, cells", std::to_string(f.cells)},
        {"stable ground, median", text_printf("%lf m", f.median)},
        {"stable ground, NMAD", text_printf("%lf m", f.nmad)},
        {"stable ground, mean", text_printf("%lf m", f.mean)},
        {"stable ground, std deviation", text_printf("%lf m", f.std_dev)},
    };
}

void gather_run_stable_ground()
{
    // Gathered once: a test from the stable ground needs it before the pass.
    if (run_gathered)
        return;
    run_gathered = dtab_stable != nullptr;
    if (run_gathered)
        run_figures = stable_ground(dtab_stable, dtab_dem1, dtab_dem2, nb_lig, nb_col);
}

const stable_ground_figures *run_stable_ground()
{
    return run_gathered ? &run_figures : nullptr;
}
