#include "ormelix/coregistration.h"

#include <nlohmann/json.hpp>

#include <cstdlib>

#include "console/console.h"
#include "coregister/coregistration_picture.h"
#include "globals/given_answers.h"
#include "globals/globals.h"
#include "nrutil.h"
#include "ormelix/coregistration_bands.h"
#include "platform/memory.h"
#include "regrid/frame_step.h"
#include "treatment/band_pass.h"
#include "treatment/frame_area.h"

namespace {

coregistration run_found;
coregister_frame run_frame;
bool run_aligned = false;

// A grid of the second DEM as read brought onto the result's frame moved by the
// alignment, in the frame step's one resampling: into `into` (a grid of the frame whose
// values are no longer needed), else a new grid.
double **moved(const grid_view &as_read, bool heights, double **into = nullptr)
{
    double **out = into != nullptr ? into : dmatrice(nb_col, nb_lig);
    require_grid(out, nb_col, nb_lig);
    const grid_view target{out, nb_lig, nb_col};
    fill_second_moved(as_read, target, run_plan_or_same(), run_found.east_cells, run_found.north_cells);
    if (heights)
        remove_coregistered_heights(target, run_found, run_frame);
    return out;
}

} // namespace

void coregister_run_epochs(coregister_method method, FILE *console)
{
    const frame_geometry frame = run_frame_geometry();
    run_frame = {nb_lig, nb_col, frame.cellsize, cell_height(frame), frame.degrees, frame.yll};
    coregister_settings settings;
    settings.method = method;
    const bool in_bands = run_works_in_bands();
    const coregister_outcome out =
        in_bands ? coregister_epochs_in_bands(run_frame, settings)
                 : coregister_grids({dtab_dem1, nb_lig, nb_col}, {dtab_dem2, nb_lig, nb_col}, dtab_stable, run_frame,
                                    settings);
    if (out.fault.kind != coregister_fine)
        stop_with_message("%s", coregister_fault_text(out.fault, nomim1, nomim2).c_str());
    run_found = out.found;
    run_aligned = true;
    if (in_bands) {
        // The sample let go is the bands' room.
        give_back_free_memory();
        // Each band of the second brought onto the frame moved, then its heights set.
        move_run_second(moved_frame_plan(run_plan_or_same(), run_found.east_cells, run_found.north_cells),
                        [](double *const *cells, int32_t first, int32_t end) {
                            remove_coregistered_heights({cells, nb_lig, nb_col}, run_found, run_frame,
                                                        {first, end});
                        });
        release_second_as_read();
        if (console != nullptr)
            std::fputs(coregistration_text(run_found).c_str(), console);
        return;
    }
    // The aligned grid is made from the grid as read: a grid the frame step resampled takes
    // it in its own memory; a cut (whose lines are the grid as read's) or the grid as read
    // itself go once it is made.
    double **fitted = dtab_dem2;
    const frame_step_kind kind = run_plan_or_same().kind;
    const bool resampled = kind != frames_same && kind != frames_common_part;
    dtab_dem2 = moved(second_as_read(), true, resampled ? fitted : nullptr);
    if (kind == frames_common_part)
        frdcutmatrice(fitted);
    else if (kind == frames_same)
        frdmatrice(fitted, nb_lig);
    release_second_as_read();
    if (console != nullptr)
        std::fputs(coregistration_text(run_found).c_str(), console);
}

double **coregistered_second_error(double **on_second_cells)
{
    if (!run_aligned || on_second_cells == nullptr)
        return second_grid_onto_frame(on_second_cells);
    const grid_view as_read = second_cells_view(on_second_cells);
    double **out = moved(as_read, false);
    frdmatrice(on_second_cells, as_read.lines);
    return out;
}

const coregistration *run_coregistration()
{
    return run_aligned ? &run_found : nullptr;
}

budget_record coregistration_record()
{
    budget_record record;
    if (!run_aligned)
        return record;
    const coregistration &f = run_found;
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    object["method"] = coregister_method_name(f.method);
    const auto real = [&](const char *name, double value) {
        record.columns.push_back(real_column(std::string("coregistration_") + name, value));
        object[name] = value;
    };
    const auto count = [&](const char *name, int64_t value) {
        record.columns.push_back(count_column(std::string("coregistration_") + name, value));
        object[name] = value;
    };
    real("east_m", f.east_m);
    real("north_m", f.north_m);
    real("up_m", f.up_m);
    real("east_cells", f.east_cells);
    real("north_cells", f.north_cells);
    count("iterations", static_cast<int64_t>(f.iterations));
    record.columns.push_back(count_column("coregistration_converged", f.converged ? 1 : 0));
    object["converged"] = f.converged;
    count("stable_cells", static_cast<int64_t>(f.stable_cells));
    real("median_before_m", f.median_before_m);
    real("nmad_before_m", f.nmad_before_m);
    real("median_after_m", f.median_after_m);
    real("nmad_after_m", f.nmad_after_m);
    if (f.tilted) {
        real("plane_east_m_per_m", f.plane_east);
        real("plane_north_m_per_m", f.plane_north);
    }
    record.objects.push_back({"coregistration", object.dump()});
    return record;
}

std::string coregistration_section()
{
    return run_aligned ? coregistration_html(run_found) : "";
}
