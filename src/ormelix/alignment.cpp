#include "ormelix/alignment.h"

#include <algorithm>
#include <cmath>

#include "gridfiles/geotiff_reader.h"
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

// The keys that say where the coordinates lie.
std::vector<geokey> coordinate_keys(const geo_keys &keys)
{
    std::vector<geokey> kept;
    for (const geokey &key : read_geokeys(keys)) {
        // GTCitation, GeogCitation, PCSCitation, VerticalCitation: names, not places.
        const bool citation = key.id == 1026 || key.id == 2049 || key.id == 3073 || key.id == 4097;
        if (key.id != GEOKEY_RASTER_TYPE && !citation)
            kept.push_back(key);
    }
    return kept;
}

bool same_key(const geokey &a, const geokey &b)
{
    return a.id == b.id && a.numbers == b.numbers && a.text == b.text;
}

bool short_value(const std::vector<geokey> &keys, uint16_t id, double *value)
{
    for (const geokey &key : keys)
        if (key.id == id && key.location == 0) {
            *value = key.numbers[0];
            return true;
        }
    return false;
}

// A coordinate system's code as the EPSG registry numbers it; 32767 marks one the file
// spells out in its other keys.
std::string code_text(const std::vector<geokey> &keys, uint16_t id)
{
    double code = 32767;
    short_value(keys, id, &code);
    return code == 32767 ? "user-defined" : text_printf("EPSG %.0f", code);
}

// "projected, EPSG 32632", "geographic, user-defined", "no coordinate system".
std::string system_text(const std::vector<geokey> &keys)
{
    if (keys.empty())
        return "no coordinate system";
    double model = 0, vertical = 0;
    short_value(keys, GEOKEY_MODEL_TYPE, &model);
    std::string text = model == 1   ? "projected, " + code_text(keys, GEOKEY_PROJECTED_TYPE)
                       : model == 2 ? "geographic, " + code_text(keys, GEOKEY_GEOGRAPHIC_TYPE)
                       : model == 3 ? std::string("geocentric")
                                    : std::string("of no model type");
    if (short_value(keys, GEOKEY_VERTICAL_TYPE, &vertical))
        text += ", heights " + code_text(keys, GEOKEY_VERTICAL_TYPE);
    return text;
}

} // namespace

const char CELL_BY_CELL_LINE[] = "\n\tTheir difference is still taken cell by cell.\n";

std::string alignment_warning(const grid_placement &first, const grid_placement &second,
                              const std::string &last_line)
{
    if (!first.has_corner && !second.has_corner)
        return "";
    auto differ = [](double a, double b) { return std::fabs(a - b) > std::max(std::fabs(a), std::fabs(b)) * 1e-6; };
    const bool sizes_differ =
        differ(first.cellsize, second.cellsize) || differ(first.cellsize_y, second.cellsize_y);
    const bool both_corners = first.has_corner && second.has_corner;
    const double cell = std::fabs(first.cellsize), cell_y = std::fabs(first.cellsize_y);
    const double dx = second.xll - first.xll, dy = second.yll - first.yll;
    const bool corners_differ = both_corners && (std::fabs(dx) > cell / 1000 || std::fabs(dy) > cell_y / 1000);
    auto whole = [](double cells) { return std::fabs(cells - std::round(cells)) <= 1e-3; };
    const bool one_lattice = both_corners && whole(dx / cell) && whole(dy / cell_y);
    if ((!sizes_differ && !corners_differ) || (!sizes_differ && one_lattice))
        return "";

    std::string warning = "\n\tWarning: the two DEMs do not lie on the same grid of cells:";
    warning += placement_line("first DEM ", first);
    warning += placement_line("second DEM", second);
    if (both_corners)
        warning += text_printf("\n\t\tthe second DEM is offset by %lf cells in X and %lf cells in Y",
                               dx / first.cellsize, dy / first.cellsize);
    return warning + last_line;
}

std::string coordinate_system_warning(const geo_keys &first, const geo_keys &second)
{
    if (!first.geotiff || !second.geotiff)
        return "";
    const std::vector<geokey> a = coordinate_keys(first), b = coordinate_keys(second);
    size_t k = 0;
    while (k < a.size() && k < b.size() && same_key(a[k], b[k]))
        k++;
    if (k == a.size() && k == b.size())
        return "";
    std::string warning = "\n\tWarning: the two DEMs do not declare the same coordinate system:";
    const std::string first_text = system_text(a), second_text = system_text(b);
    warning += "\n\t\tfirst DEM : " + first_text;
    warning += "\n\t\tsecond DEM: " + second_text;
    if (first_text == second_text)
        warning += text_printf("\n\t\tthey differ in GeoKey %u", k < a.size() ? a[k].id : b[k].id);
    return warning + "\n\tTheir difference is still taken cell by cell.\n";
}
