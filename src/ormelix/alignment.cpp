#include "ormelix/alignment.h"

#include <algorithm>
#include <cmath>

#include "coordinates/coordinate_system.h"
#include "text/number_text.h"

namespace {

// Corners and sizes in full: six decimals would hide the very difference shown.
std::string placement_line(const char *which, const grid_frame &grid)
{
    const std::string size = exact_real_text(grid.dx);
    if (!grid.has_corner)
        return text_printf("\n\t\t%s: cell size %s (raster pixel size)", which, size.c_str());
    return text_printf("\n\t\t%s: lower-left corner %s %s, cell size %s", which,
                       exact_real_text(grid.xll).c_str(), exact_real_text(grid.yll).c_str(), size.c_str());
}

} // namespace

const char CELL_BY_CELL_LINE[] = "\n\tTheir difference is still taken cell by cell.\n";

std::string alignment_warning(const grid_frame &first, const grid_frame &second, const std::string &last_line)
{
    if (!first.has_corner && !second.has_corner)
        return "";
    const bool sizes_differ = !same_cell_sizes(first, second);
    const bool both_corners = first.has_corner && second.has_corner;
    const double cell = std::fabs(first.dx), cell_y = std::fabs(first.dy);
    const double dx = second.xll - first.xll, dy = second.yll - first.yll;
    const bool corners_differ = both_corners && !same_corner(first, second);
    auto whole = [](double cells) { return std::fabs(cells - std::round(cells)) <= CORNER_TOLERANCE; };
    const bool one_lattice = both_corners && whole(dx / cell) && whole(dy / cell_y);
    if ((!sizes_differ && !corners_differ) || (!sizes_differ && one_lattice))
        return "";

    std::string warning = "\n\tWarning: the two DEMs do not lie on the same grid of cells:";
    warning += placement_line("first DEM ", first);
    warning += placement_line("second DEM", second);
    if (both_corners)
        warning += text_printf("\n\t\tthe second DEM is offset by %lf cells in X and %lf cells in Y",
                               dx / first.dx, dy / first.dx);
    return warning + last_line;
}

std::string coordinate_system_warning(const geo_keys &first, const geo_keys &second, const std::string &last_line)
{
    // A grid that declares none is taken to be in the other's system, as ever; two
    // GeoTIFFs are still told apart when one of them declares none.
    const bool both_declare = !first.crs.empty() && !second.crs.empty();
    if (!both_declare && !(first.geotiff && second.geotiff))
        return "";
    if (same_coordinate_system(first.crs, second.crs))
        return "";
    std::string warning = "\n\tWarning: the two DEMs do not declare the same coordinate system:";
    const std::string first_text = crs_display_name(first.crs), second_text = crs_display_name(second.crs);
    warning += "\n\t\tfirst DEM : " + first_text;
    warning += "\n\t\tsecond DEM: " + second_text;
    if (first_text == second_text)
        warning += "\n\t\tthey bear the same name, but PROJ finds them different";
    return warning + last_line;
}
