#include "regrid/reprojection.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>

#include "console/console.h"
#include "coordinates/coordinate_system.h"
#include "globals/globals.h"

namespace {

// A first cell's centre this close outside the second's extent is still inside it.
const double CENTRE_SLACK = 1e-6;

// The run's carried positions: the plan's positions read them for as long as grids
// follow their DEMs onto the frame.
carried_positions run_positions;

struct block {
    int32_t top, bottom, left, right;  // inclusive; top > bottom when empty
};

} // namespace

frame_plan plan_reprojection(const grid_frame &first, const grid_frame &second, const carried_positions &positions)
{
    const double last_column = second.columns - 0.5 + CENTRE_SLACK, last_line = second.lines - 0.5 + CENTRE_SLACK;
    std::mutex joined;
    block all = {first.lines, -1, first.columns, -1};
    fill_on_two_threads(first.lines, first.columns, [&](int32_t from, int32_t to) {
        std::vector<double> columns(static_cast<size_t>(first.columns)), lines(columns.size());
        block mine = {first.lines, -1, first.columns, -1};
        for (int32_t i = from; i < to; i++) {
            positions.line(i, 0, first.columns, columns.data(), lines.data());
            int32_t left = -1, right = -1;
            for (int32_t j = 0; j < first.columns; j++) {
                const double c = columns[j], l = lines[j];
                if (c >= -0.5 - CENTRE_SLACK && c <= last_column && l >= -0.5 - CENTRE_SLACK && l <= last_line) {
                    if (left < 0)
                        left = j;
                    right = j;
                }
            }
            if (left < 0)
                continue;
            mine = {std::min(mine.top, i), std::max(mine.bottom, i), std::min(mine.left, left),
                    std::max(mine.right, right)};
        }
        std::lock_guard<std::mutex> hold(joined);
        all = {std::min(all.top, mine.top), std::max(all.bottom, mine.bottom), std::min(all.left, mine.left),
               std::max(all.right, mine.right)};
    });
    frame_plan plan;
    if (all.bottom < all.top) {
        plan.kind = frames_apart;
        return plan;
    }
    plan.kind = frames_reprojected;
    plan.first_line = all.top;
    plan.first_column = all.left;
    plan.lines = all.bottom - all.top + 1;
    plan.columns = all.right - all.left + 1;
    plan.xll = first.xll + all.left * first.dx;
    plan.yll = first.yll + (first.lines - 1 - all.bottom) * first.dy;
    const int32_t top = plan.first_line, left = plan.first_column;
    plan.carried = [&positions, top, left](int32_t line, int32_t count, double *columns, double *lines) {
        positions.line(top + line, left, count, columns, lines);
    };
    return plan;
}

const frame_plan &plan_run_reprojection(const grid_frame &first, const grid_frame &second,
                                        const std::string &first_crs, const std::string &second_crs)
{
    if (!carry_cell_centres(first_crs, second_crs, first, second, &run_positions))
        stop_with_message("\n\tPROJ knows no transformation between the coordinate systems of the two DEMs:\n\t\t%s: "
                          "%s\n\t\t%s: %s\n\tReproject one of them into the other's system first.\n",
                          nomim1.c_str(), crs_display_name(first_crs).c_str(), nomim2.c_str(),
                          crs_display_name(second_crs).c_str());
    // The second grid now lies on the first's cells, in the first's system.
    geographic_dem2 = geographic_dem1;
    return keep_run_plan(first, second, plan_reprojection(first, second, run_positions));
}

std::string reprojection_line()
{
    return "\n\tThe second DEM is reprojected onto the first DEM's cells: each cell's centre carried into its "
           "system by PROJ, its value there bilinear from its four nearest cell centres.\n";
}
