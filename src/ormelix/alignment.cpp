#include "ormelix/alignment.h"

#include <algorithm>
#include <cmath>

#include "text/number_text.h"

namespace {

// Corners and sizes in full: six decimals would hide the very difference shown.
std::string placement_line(const char *which, const grid_placement &grid)
{
    const std::string size = exact_real_text(grid.cellsize);
    if (!grid.has_corner)
        return text_printf("\n\t\t%s: cell size %s (raster pixel size)", which, size.c_str());
    return text_printf("\n\t\t%s: lower-left corner %s %s, cell size %s", which,
                       exact_real_text(grid.xll).c_str(), exact_real_text(grid.yll).c_str(), size.c_str());
}

} // namespace

std::string alignment_warning(const grid_placement &first, const grid_placement &second)
{
    if (!first.has_corner && !second.has_corner)
        return "";
    const double larger = std::max(std::fabs(first.cellsize), std::fabs(second.cellsize));
    const bool sizes_differ = std::fabs(first.cellsize - second.cellsize) > larger * 1e-6;
    const bool both_corners = first.has_corner && second.has_corner;
    const double cell = std::fabs(first.cellsize);
    const double dx = second.xll - first.xll, dy = second.yll - first.yll;
    const bool corners_differ = both_corners && (std::fabs(dx) > cell / 1000 || std::fabs(dy) > cell / 1000);
    if (!sizes_differ && !corners_differ)
        return "";

    std::string warning = "\n\tWarning: the two DEMs do not lie on the same grid of cells:";
    warning += placement_line("first DEM ", first);
    warning += placement_line("second DEM", second);
    if (both_corners)
        warning += text_printf("\n\t\tthe second DEM is offset by %lf cells in X and %lf cells in Y",
                               dx / first.cellsize, dy / first.cellsize);
    warning += "\n\tTheir difference is still taken cell by cell.\n";
    return warning;
}
