#include "treatment/correlated_budget.h"

#include <cmath>
#include <functional>

#include "console/console.h"
#include "error_model/correlation_figures.h"
#include "error_model/terrain_slope.h"
#include "error_model/variogram_picture.h"
#include "globals/given_answers.h"
#include "globals/globals.h"
#include "nrutil.h"
#include "platform/worker_thread.h"
#include "text/number_text.h"
#include "treatment/change_test.h"
#include "treatment/frame_area.h"
#include "treatment/run_pass.h"
#include "treatment/stable_ground.h"

namespace {

bool modelled = false;
correlation_figures run_figures;
slope_sigma run_by_slope;
bool by_slope = false;
// The stable differences standardised by the errors by slope, made line by line with
// those errors while the lines are in cache, for the variogram.
std::vector<float> slope_standardised;
// The detected cells the pass gathers for the model, one collector a thread: each
// takes a half of the lines, in order.
correlated_error_collector gathered[2];

// Lines [0, nb_lig) in two halves, the second on another thread when there is one:
// work(0, 0, half) here and work(1, half, nb_lig) there, or work(0, 0, nb_lig) alone.
void on_two_halves(const std::function<void(size_t, int32_t, int32_t)> &work)
{
    const int32_t half = nb_lig / 2;
    worker_thread worker;
    const bool shared = half > 0 && worker_start(&worker);
    if (shared)
        worker_post(&worker, [&] { work(1, half, nb_lig); });
    work(0, 0, shared ? half : nb_lig);
    if (shared) {
        worker_wait(&worker);
        worker_stop(&worker);
    }
}

} // namespace

void run_sigma_by_slope()
{
    const line_spacing spacing = ground_line_spacing(run_frame_geometry());
    // The stable cells with data in each half, then an even spread of them (every one
    // when there are few), each with its slope.
    size_t stable[2] = {0, 0};
    const auto is_stable = [](int32_t i, int32_t j) {
        const double d = dtab_dem1[i][j] - dtab_dem2[i][j];
        return dtab_stable[i][j] != 0 && d == d;
    };
    on_two_halves([&](size_t half, int32_t first, int32_t end) {
        size_t count = 0;
        for (int32_t i = first; i < end; i++)
            for (int32_t j = 0; j < nb_col; j++)
                count += is_stable(i, j) ? 1 : 0;
        stable[half] = count;
    });
    const size_t all = stable[0] + stable[1];
    const size_t stride = all > SLOPE_SIGMA_MOST_CELLS ? (all + SLOPE_SIGMA_MOST_CELLS - 1) / SLOPE_SIGMA_MOST_CELLS : 1;
    std::vector<slope_sample> samples[2];
    on_two_halves([&](size_t half, int32_t first, int32_t end) {
        // The spread runs on from the first half's cells into the second's.
        size_t seen = half == 0 ? 0 : stable[0];
        samples[half].reserve(stable[half] / stride + 1);
        for (int32_t i = first; i < end; i++)
            for (int32_t j = 0; j < nb_col; j++) {
                if (!is_stable(i, j) || seen++ % stride != 0)
                    continue;
                const double slope = horn_slope_at(dtab_dem1, nb_lig, nb_col, i, j, spacing.east[i], spacing.north[i]);
                samples[half].push_back(slope_sample{slope, dtab_dem1[i][j] - dtab_dem2[i][j],
                                                     static_cast<size_t>(i) * static_cast<size_t>(nb_col) + j});
            }
    });
    samples[0].insert(samples[0].end(), samples[1].begin(), samples[1].end());
    run_by_slope = fit_sigma_by_slope(samples[0]);
    samples[0] = samples[1] = std::vector<slope_sample>();
    if (run_by_slope.bins.empty())
        stop_with_message("\n\tThe error by slope cannot be measured on the stable ground of %s: %s.\n",
                          answers.stable_path.c_str(), run_by_slope.reason.c_str());
    by_slope = true;
    // One grid serves both DEMs: each takes half the variance of the change. Each line
    // holds its slopes, then its errors in their place.
    double **sigma = dmatrice(nb_col, nb_lig);
    require_grid(sigma, nb_col, nb_lig);
    double totals[2] = {0.0, 0.0};
    slope_standardised.resize(static_cast<size_t>(nb_lig) * static_cast<size_t>(nb_col));
    change_errors errors;
    errors.first = errors.second = sigma;
    on_two_halves([&](size_t half, int32_t first, int32_t end) {
        double total = 0.0;
        for (int32_t i = first; i < end; i++) {
            double *line = sigma[i];
            horn_slope_line(dtab_dem1, nb_lig, nb_col, i, spacing.east[i], spacing.north[i], line);
            for (int32_t j = 0; j < nb_col; j++) {
                line[j] = sigma_at_slope(run_by_slope, line[j]) / std::sqrt(2.0);
                total += line[j];
            }
            standardise_stable_lines(dtab_stable, dtab_dem1, dtab_dem2, errors, static_cast<size_t>(nb_col),
                                     static_cast<size_t>(i), static_cast<size_t>(i) + 1, slope_standardised.data());
        }
        totals[half] = total;
    });
    dtab_sigma1 = dtab_sigma2 = sigma;
    nomsigma1 = nomsigma2 = "the stable ground by slope";
    const double cells = static_cast<double>(nb_lig) * nb_col;
    sigma_dem1 = sigma_dem2 = cells > 0.0 ? (totals[0] + totals[1]) / cells : 0.0;
}

void model_run_correlation()
{
    modelled = false;
    gathered[0] = gathered[1] = correlated_error_collector();
    if (dtab_stable == nullptr || basis != TEST_CONFIDENCE)
        return;
    const frame_geometry frame = run_frame_geometry();
    change_errors errors;
    errors.first = dtab_sigma1;
    errors.second = dtab_sigma2;
    errors.uniform_first = sigma_dem1;
    errors.uniform_second = sigma_dem2;
    std::vector<float> standardised;
    if (by_slope && slope_standardised.size() == static_cast<size_t>(nb_lig) * static_cast<size_t>(nb_col)) {
        standardised.swap(slope_standardised);
    } else {
        standardised.resize(static_cast<size_t>(nb_lig) * static_cast<size_t>(nb_col));
        on_two_halves([&](size_t, int32_t first, int32_t end) {
            standardise_stable_lines(dtab_stable, dtab_dem1, dtab_dem2, errors, static_cast<size_t>(nb_col),
                                     static_cast<size_t>(first), static_cast<size_t>(end), standardised.data());
        });
    }
    run_figures = correlation_model(standardised, frame);
    if (by_slope)
        run_figures.sigma_by_slope = run_by_slope.bins;
    modelled = true;
}

bool correlation_gathers_cells()
{
    return modelled && run_figures.available;
}

void gather_correlated_cells(size_t half, int32_t first_line, int32_t end_line, const std::vector<double> &line_areas)
{
    collect_detected_cells(first_line, end_line, line_areas.data(), &gathered[half]);
}

void finish_run_correlation(const change_budget &budget, budget_record *record)
{
    if (!modelled)
        return;
    if (run_figures.available) {
        gathered[0].merge(gathered[1]);
        finish_correlation(&run_figures, gathered[0], run_frame_geometry());
        gathered[0] = gathered[1] = correlated_error_collector();
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
    if (!modelled)
        return "";
    std::string html;
    if (run_figures.available)
        html += "<h2>Spatial correlation of the errors</h2><figure>" +
                variogram_svg(run_figures.variogram, run_figures.model) +
                "<figcaption>The variogram of the stable ground's differences, standardised by each cell's error: its "
                "points with their pairs, the model fitted (a nugget and two spherical parts) and its two ranges."
                "</figcaption></figure>";
    if (by_slope) {
        html += "<h2>Error by slope</h2><figure>" + sigma_by_slope_svg(run_by_slope.bins) +
                "<figcaption>The NMAD of the stable ground's differences in bins of equal counts of the first DEM's "
                "slope, at each bin's median slope, the bar spanning its slopes; each cell takes the error on the "
                "line at its slope.</figcaption></figure><table class=\"classes\"><tr><th>slopes (degrees)</th>"
                "<th>centre (degrees)</th><th>stable cells</th><th>error of the change (m)</th></tr>";
        for (const slope_sigma_bin &bin : run_by_slope.bins)
            html += text_printf("<tr><td>%.2f to %.2f</td><td>%.2f</td><td>%zu</td><td>%.6f</td></tr>", bin.lowest_deg,
                                bin.highest_deg, bin.slope_deg, bin.cells, bin.sigma_m);
        html += "</table>";
    }
    return html;
}
