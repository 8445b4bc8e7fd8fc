#include "treatment/stable_pass.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "console/progress.h"
#include "error_model/terrain_slope.h"
#include "globals/globals.h"
#include "platform/worker_thread.h"
#include "regrid/frame_step.h"
#include "treatment/band_pass.h"
#include "treatment/frame_area.h"
#include "treatment/stable_ground.h"

namespace {

gathered_stable_cells gathered;
bool was_gathered = false;

} // namespace

void gather_stable_ground_in_bands(bool slopes)
{
    gathered = gathered_stable_cells();
    progress_phase("stable ground");
    hold_run_band_neighbours(slopes ? 1 : 0);
    start_run_bands();
    // The error grids' bands are read beside the epochs' (their rows set by the bands).
    const bool error_grids = dtab_sigma1 != nullptr || dtab_sigma2 != nullptr;
    const int32_t band = run_band_lines(1);
    line_spacing spacing;
    if (slopes)
        spacing = ground_line_spacing(run_frame_geometry());
    int32_t mask_line = 0, mask_column = 0;
    first_grid_window(&mask_line, &mask_column);
    gathered.line_start.assign(static_cast<size_t>(nb_lig) + 1, 0);
    std::vector<int32_t> line_columns(static_cast<size_t>(nb_col));
    std::vector<double> line_slopes(slopes ? static_cast<size_t>(nb_col) : 0);
    // A band's places and slopes: its cells the stable ground's figures take (the mask's
    // values neither 0 nor NaN, both epochs with data), in their order.
    const auto places = [&](int32_t first, int32_t end) {
        const size_t band_cells = static_cast<size_t>(end - first) * static_cast<size_t>(nb_col);
        make_band_room(&gathered.columns, first, nb_lig, band_cells);
        if (slopes)
            make_band_room(&gathered.slopes, first, nb_lig, band_cells);
        if (error_grids)
            make_band_room(&gathered.standardised, first, nb_lig, band_cells);
        double *const *values = run_band_stable_values();
        for (int32_t i = first; i < end; i++) {
            gathered.line_start[static_cast<size_t>(i)] = gathered.columns.size();
            const double *mask = values[mask_line + i] + mask_column;
            const double *dem1 = dtab_dem1[i], *dem2 = dtab_dem2[i];
            // Without a branch, as the changes are taken; NaN is neither 0 nor itself.
            size_t taken = 0;
            for (int32_t j = 0; j < nb_col; j++) {
                const double change = dem1[j] - dem2[j];
                line_columns[taken] = j;
                taken += static_cast<size_t>((mask[j] != 0.0) & (mask[j] == mask[j]) & (change == change));
            }
            gathered.columns.insert(gathered.columns.end(), line_columns.begin(),
                                    line_columns.begin() + static_cast<std::ptrdiff_t>(taken));
            for (size_t k = 0; error_grids && k < taken; k++) {
                const int32_t j = line_columns[k];
                const double e1 = dtab_sigma1 != nullptr ? dtab_sigma1[i][j] : sigma_dem1;
                const double e2 = dtab_sigma2 != nullptr ? dtab_sigma2[i][j] : sigma_dem2;
                const double sigma = std::sqrt(e1 * e1 + e2 * e2);
                gathered.standardised.push_back(sigma > 0.0 ? static_cast<float>((dem1[j] - dem2[j]) / sigma)
                                                            : std::nanf(""));
            }
            // A line without a stable cell needs no slope.
            if (!slopes || taken == 0)
                continue;
            horn_slope_line(dtab_dem1, nb_lig, nb_col, i, spacing.east[static_cast<size_t>(i)],
                            spacing.north[static_cast<size_t>(i)], line_slopes.data());
            for (size_t k = 0; k < taken; k++)
                gathered.slopes.push_back(static_cast<float>(line_slopes[static_cast<size_t>(line_columns[k])]));
        }
    };
    // Each band's places on a thread of their own while its changes are added here.
    worker_thread aside;
    const bool beside = worker_start(&aside);
    hand_on_band_stable_changes();
    for (int32_t first = 0; first < nb_lig; first += band) {
        const int32_t end = std::min(first + band, nb_lig);
        load_run_band(first, end);
        if (beside)
            worker_post(&aside, [&places, first, end] { places(first, end); });
        add_band_stable_ground(run_band_stable_values(), first, end);
        if (beside)
            worker_wait(&aside);
        else
            places(first, end);
        progress_to(static_cast<double>(end) / nb_lig);
    }
    if (beside)
        worker_stop(&aside);
    gathered.line_start[static_cast<size_t>(nb_lig)] = gathered.columns.size();
    finish_band_stable_ground(&gathered.changes);
    end_run_bands();
    // The pass that writes needs the figures only: the mask is read no more.
    keep_run_stable_lines(nullptr);
    was_gathered = true;
}

const gathered_stable_cells &run_gathered_stable_cells()
{
    return gathered;
}

bool stable_cells_gathered()
{
    return was_gathered;
}

gathered_stable_cells take_gathered_stable_cells()
{
    gathered_stable_cells taken = std::move(gathered);
    gathered = gathered_stable_cells();
    return taken;
}
