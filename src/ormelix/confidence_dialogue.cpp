#include "ormelix/confidence_dialogue.h"

#include <cfloat>
#include <cmath>
#include <cstdio>

#include "console/console.h"
#include "globals/globals.h"
#include "gridfiles/input_grid.h"
#include "nrutil.h"
#include "ormelix/opening.h"
#include "platform/platform.h"
#include "regrid/frame_step.h"
#include "text/number_text.h"
#include "treatment/file_forms.h"

namespace {

// The forms an error grid may have, in the order they are looked for: NAME.tif, NAME.asc.
const struct {
    const char *extension;
    int32_t form;
} ERROR_GRID_FORMS[] = {{".tif", 2}, {".asc", 0}};

bool file_is_there(const std::string &path)
{
    FILE *fp = open_program_file(path, "rb");
    if (fp == nullptr)
        return false;
    std::fclose(fp);
    return true;
}

// The grid's first negative error ("" when it has none), and the mean of its errors
// over the cells that have one.
std::string negative_error(double *const *grid, int32_t lines, int32_t columns, double *mean)
{
    double sum = 0.0;
    size_t cells = 0;
    for (int32_t i = 0; i < lines; i++)
        for (int32_t j = 0; j < columns; j++) {
            const double value = grid[i][j];
            if (value != value)
                continue;
            if (value < 0.0)
                return text_printf("%s at line %d, column %d", exact_real_text(value).c_str(), i + 1, j + 1);
            sum += value;
            cells++;
        }
    *mean = cells > 0 ? sum / static_cast<double>(cells) : 0.0;
    return "";
}

// One DEM's error: a number into *sigma, or an error grid into *grid, named *name, whose
// mean goes into *sigma.
void ask_error(const char *question, const std::string &folder, const dem_cells &dem, double *sigma,
               double ***grid, std::string *name)
{
    for (;;) {
        const std::string word = ask_word(question);
        const error_answer answer = read_error_answer(word, sigma);
        if (answer == ERROR_NUMBER) {
            *grid = nullptr;
            name->clear();
            return;
        }
        if (answer == ERROR_NOT_AN_ERROR) {
            std::printf("\n\t%s is not an error: a standard deviation is a number of meters, 0 or more. Please "
                        "answer again.\n",
                        word.c_str());
            continue;
        }
        int32_t form = -1;
        std::string path;
        if (answer == ERROR_GRID_NAME)
            for (const auto &candidate : ERROR_GRID_FORMS)
                if (form < 0 && file_is_there(folder + word + candidate.extension)) {
                    form = candidate.form;
                    path = folder + word + candidate.extension;
                }
        if (form < 0) {
            std::printf("\n\t%s is neither a number nor an error grid: there is no file %s.tif nor %s.asc in %s. "
                        "Please answer again.\n",
                        word.c_str(), word.c_str(), word.c_str(), folder.c_str());
            continue;
        }
        const std::string fault = read_error_grid(folder + word, form, dem, grid, sigma);
        if (fault.empty()) {
            *name = path;
            return;
        }
        std::fputs(fault.c_str(), stdout);
    }
}

} // namespace

std::string read_error_grid(const std::string &stem, int32_t form, const dem_cells &dem, double ***grid,
                            double *mean)
{
    std::string path = stem, descriptor;
    int32_t format = form, itype = 0, lines = 0, columns = 0, pix_size = 0;
    int32_t descr_ok = 0, corner_ok = 0, geographic = 0;
    FILE *f = nullptr, *fd = nullptr;
    double dpix = 0.0;
    geo_keys keys;
    input_grid input = {path, descriptor, format, itype, f, fd, lines, columns, pix_size, dpix, descr_ok,
                        corner_ok, geographic, keys, *grid, true, true};
    const double kept[] = {X_min, Y_min, dpix_size, dpix_size_y, nodata};
    FILE_FORMS[form].open_input(input);
    const grid_placement placement = {corner_ok != 0, X_min, Y_min, dpix_size, dpix_size_y};
    X_min = kept[0];
    Y_min = kept[1];
    dpix_size = kept[2];
    dpix_size_y = kept[3];
    nodata = kept[4];
    std::string fault = error_grid_misfit(path, lines, columns, placement, dem);
    if (fault.empty()) {
        const std::string negative = negative_error(*grid, lines, columns, mean);
        if (!negative.empty())
            fault = text_printf("\n\tThe error grid %s holds a negative error (%s): its cells must hold standard "
                                "deviations, 0 or more. Please give another error.\n",
                                path.c_str(), negative.c_str());
    }
    if (!fault.empty()) {
        frdmatrice(*grid, lines);
        *grid = nullptr;
    }
    return fault;
}

error_answer read_error_answer(const std::string &word, double *sigma)
{
    double value;
    if (parse_real_number(word, &value)) {
        if (!(value >= 0.0 && value <= DBL_MAX))
            return ERROR_NOT_AN_ERROR;
        *sigma = value;
        return ERROR_NUMBER;
    }
    return name_stays_inside(word) ? ERROR_GRID_NAME : ERROR_BAD_NAME;
}

bool read_confidence_level(const std::string &word, double *level)
{
    double value;
    if (!parse_real_number(word, &value) || !(value > 0.0 && value < 100.0))
        return false;
    *level = value;
    return true;
}

std::string error_grid_misfit(const std::string &name, int32_t lines, int32_t columns,
                              const grid_placement &placement, const dem_cells &dem)
{
    if (lines != dem.lines || columns != dem.columns)
        return text_printf("\n\tThe error grid %s has %d lines and %d columns, its DEM %d lines and %d columns: "
                           "an error grid lies on the cells of its DEM. Please give another error.\n",
                           name.c_str(), lines, columns, dem.lines, dem.columns);
    if (!placement.has_corner || !dem.placement.has_corner)
        return "";
    // The tolerance of the alignment of the two DEMs: a thousandth of a cell.
    const grid_placement &p = dem.placement;
    const double cell = std::fabs(p.cellsize);
    if (std::fabs(placement.cellsize - p.cellsize) > 1e-6 * cell ||
        std::fabs(placement.cellsize_y - p.cellsize_y) > 1e-6 * std::fabs(p.cellsize_y) ||
        std::fabs(placement.xll - p.xll) > 1e-3 * cell || std::fabs(placement.yll - p.yll) > 1e-3 * cell)
        return text_printf("\n\tThe error grid %s lies on other cells than its DEM (corner %s %s, cells of %s; "
                           "the DEM's corner %s %s, cells of %s): an error grid lies on the cells of its DEM. "
                           "Please give another error.\n",
                           name.c_str(), exact_real_text(placement.xll).c_str(),
                           exact_real_text(placement.yll).c_str(), exact_real_text(placement.cellsize).c_str(),
                           exact_real_text(p.xll).c_str(), exact_real_text(p.yll).c_str(),
                           exact_real_text(p.cellsize).c_str());
    return "";
}

void ask_confidence_test(const std::string &folder, const dem_cells &first, const dem_cells &second)
{
    ask_error("\n\tError of the first DEM (standard deviation in meters, or name of an error grid) ? ", folder,
              first, &sigma_dem1, &dtab_sigma1, &nomsigma1);
    ask_error("\n\tError of the second DEM (standard deviation in meters, or name of an error grid) ? ", folder,
              second, &sigma_dem2, &dtab_sigma2, &nomsigma2);
    // Each follows its DEM onto the result's frame: cut to the common part, or resampled.
    dtab_sigma1 = first_grid_onto_frame(dtab_sigma1);
    dtab_sigma2 = second_grid_onto_frame(dtab_sigma2);
    for (;;) {
        const std::string word = ask_word("\n\tConfidence level of the detection (in percent, above 0 and below "
                                          "100) ? ");
        if (read_confidence_level(word, &confidence_pct))
            return;
        std::printf("\n\t%s is not a confidence level: give a percentage above 0 and below 100, such as 95. "
                    "Please answer again.\n",
                    word.c_str());
    }
}
