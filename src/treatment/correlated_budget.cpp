#include "treatment/correlated_budget.h"

#include <cmath>

#include "console/console.h"
#include "error_model/correlation_figures.h"
#include "error_model/terrain_slope.h"
#include "error_model/variogram_picture.h"
#include "globals/given_answers.h"
#include "globals/globals.h"
#include "nrutil.h"
#include "treatment/change_test.h"
#include "treatment/frame_area.h"
#include "treatment/stable_ground.h"

namespace {

bool modelled = false;
correlation_figures run_figures;
slope_sigma run_by_slope;
bool by_slope = false;

// The stable differences and the first DEM's slope of each stable cell with data.
void stable_slopes(const std::vector<double> &slopes, std::vector<double> *cell_slopes,
                   std::vector<double> *differences)
{
    for (int32_t i = 0; i < nb_lig; i++)
        for (int32_t j = 0; j < nb_col; j++) {
            const double d = dtab_dem1[i][j] - dtab_dem2[i][j];
            if (dtab_stable[i][j] == 0 || d != d)
                continue;
            cell_slopes->push_back(slopes[static_cast<size_t>(i) * nb_col + j]);
            differences->push_back(d);
        }
}

// The standard deviation of a cell's change where the test has it: its error grids, or
// the uniform errors.
double change_sigma(int32_t i, int32_t j)
{
    const double s1 = dtab_sigma1 != nullptr ? dtab_sigma1[i][j] : sigma_dem1;
    const double s2 = dtab_sigma2 != nullptr ? dtab_sigma2[i][j] : sigma_dem2;
    return std::sqrt(s1 * s1 + s2 * s2);
}

} // namespace

void run_sigma_by_slope()
{
    const std::vector<double> slopes = horn_slope_grid(dtab_dem1, run_frame_geometry());
    std::vector<double> cell_slopes, differences;
    stable_slopes(slopes, &cell_slopes, &differences);
    run_by_slope = fit_sigma_by_slope(cell_slopes, differences);
    if (run_by_slope.bins.empty())
        stop_with_message("\n\tThe error by slope cannot be measured on the stable ground of %s: %s.\n",
                          answers.stable_path.c_str(), run_by_slope.reason.c_str());
    by_slope = true;
    // One grid serves both DEMs: each takes half the variance of the change.
    double **sigma = dmatrice(nb_col, nb_lig);
    require_grid(sigma, nb_col, nb_lig);
    double total = 0.0;
    size_t counted = 0;
    for (int32_t i = 0; i < nb_lig; i++)
        for (int32_t j = 0; j < nb_col; j++) {
            const double slope = slopes[static_cast<size_t>(i) * nb_col + j];
            sigma[i][j] = sigma_at_slope(run_by_slope, slope) / std::sqrt(2.0);
            total += sigma[i][j];
            counted++;
        }
    dtab_sigma1 = dtab_sigma2 = sigma;
    nomsigma1 = nomsigma2 = "the stable ground by slope";
    sigma_dem1 = sigma_dem2 = counted > 0 ? total / static_cast<double>(counted) : 0.0;
}

void model_run_correlation()
{
    modelled = false;
    if (dtab_stable == nullptr || basis != TEST_CONFIDENCE)
        return;
    const frame_geometry frame = run_frame_geometry();
    const double uniform = std::hypot(sigma_dem1, sigma_dem2);
    const std::vector<float> standardised =
        standardised_stable_differences(dtab_stable, dtab_dem1, dtab_dem2, frame, by_slope ? &run_by_slope : nullptr,
                                        uniform);
    run_figures = correlation_model(standardised, frame);
    if (by_slope)
        run_figures.sigma_by_slope = run_by_slope.bins;
    modelled = true;
}

void finish_run_correlation(const std::vector<double> &line_areas, const change_budget &budget,
                            budget_record *record)
{
    if (!modelled)
        return;
    const frame_geometry frame = run_frame_geometry();
    if (run_figures.available) {
        // The detected cells of each direction, by the rule the pass applied.
        const double t = run_change_test().t;
        correlated_error_collector collector;
        for (int32_t i = 0; i < nb_lig; i++)
            for (int32_t j = 0; j < nb_col; j++) {
                const double d = dtab_dem1[i][j] - dtab_dem2[i][j];
                const double sigma = change_sigma(i, j);
                if (d != d || sigma != sigma || d == 0.0 || !change_detected(std::fabs(d), t * sigma))
                    continue;
                collector.add(i, j, sigma * line_areas[static_cast<size_t>(i)], d > 0.0);
            }
        finish_correlation(&run_figures, collector, frame);
    }
    const double above = compensated_total(budget.above_detected.volume);
    const double below = compensated_total(budget.below_detected.volume);
    for (const correlation_row &row : correlation_rows(run_figures))
        record->columns.push_back(real_column_if(row.column, std::isfinite(row.value), row.value));
    for (const correlation_line &line : correlation_lines(run_figures, above, below, above - below))
        record->lines.push_back(text_line(line.label, line.value));
    record->objects.push_back({"correlation", correlation_json(run_figures)});
}

std::string run_correlation_html()
{
    if (!modelled || !run_figures.available)
        return "";
    return "<h2>Spatial correlation of the errors</h2><figure>" +
           variogram_svg(run_figures.variogram, run_figures.model) +
           "<figcaption>The variogram of the stable ground's differences, standardised by each cell's error: its "
           "points with their pairs, the model fitted (a nugget and two spherical parts) and its two ranges."
           "</figcaption></figure>";
}
