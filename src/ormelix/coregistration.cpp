#include "ormelix/coregistration.h"

#include <nlohmann/json.hpp>

#include <cstdlib>

#include "console/console.h"
#include "globals/given_answers.h"
#include "globals/globals.h"
#include "nrutil.h"
#include "regrid/frame_step.h"
#include "treatment/frame_area.h"

namespace {

coregistration run_found;
coregister_frame run_frame;
bool run_aligned = false;

// A grid of the second DEM on the result's frame moved by the alignment; the grid given
// is released unless the frame step cut it, whose lines belong to the grid as read.
double **moved(double **on_frame, bool heights)
{
    double **out = dmatrice(nb_col, nb_lig);
    require_grid(out, nb_col, nb_lig);
    fill_coregistered({on_frame, nb_lig, nb_col}, {out, nb_lig, nb_col}, run_found, run_frame, heights);
    const run_frames &frames = run_frame_record();
    if (!(frames.planned && frames.plan.kind == frames_common_part))
        frdmatrice(on_frame, nb_lig);
    return out;
}

} // namespace

void coregister_run_epochs(coregister_method method, FILE *console)
{
    const frame_geometry frame = run_frame_geometry();
    run_frame = {nb_lig, nb_col, frame.cellsize, cell_height(frame), frame.degrees, frame.yll};
    coregister_settings settings;
    settings.method = method;
    const coregister_outcome out =
        coregister_grids({dtab_dem1, nb_lig, nb_col}, {dtab_dem2, nb_lig, nb_col}, dtab_stable, run_frame, settings);
    if (out.fault.kind != coregister_fine)
        stop_with_message("%s", coregister_fault_text(out.fault, nomim1, nomim2).c_str());
    run_found = out.found;
    run_aligned = true;
    dtab_dem2 = moved(dtab_dem2, true);
    if (console != nullptr)
        std::fputs(coregistration_text(run_found).c_str(), console);
}

double **coregistered_second_error(double **on_frame)
{
    return run_aligned && on_frame != nullptr ? moved(on_frame, false) : on_frame;
}

const coregistration *run_coregistration()
{
    return run_aligned ? &run_found : nullptr;
}

std::string with_coregistration_json(const std::string &budget_json)
{
    if (!run_aligned)
        return budget_json;
    nlohmann::ordered_json budget = nlohmann::ordered_json::parse(budget_json);
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    object["method"] = coregister_method_name(run_found.method);
    for (const auto &column : coregistration_columns(run_found)) {
        if (column.first == "converged")
            object[column.first] = run_found.converged;
        else if (column.second.find_first_not_of("0123456789") == std::string::npos)
            object[column.first] = std::strtoull(column.second.c_str(), nullptr, 10);
        else
            object[column.first] = std::strtod(column.second.c_str(), nullptr);
    }
    budget["coregistration"] = object;
    return budget.dump() + "\n";
}
