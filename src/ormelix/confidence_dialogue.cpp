#include "ormelix/confidence_dialogue.h"

#include <cfloat>
#include <cmath>
#include <cstdio>

#include "console/console.h"
#include "globals/globals.h"
#include "gridfiles/input_grid.h"
#include "nrutil.h"
#include "ormelix/opening.h"
#include "ormelix/other_grid.h"
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
void ask_error(const char *question, const std::string &folder, const grid_frame &dem, double *sigma,
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
        const error_grid_fault fault = read_error_grid(path, form, dem, grid, sigma);
        if (fault.empty()) {
            *name = path;
            return;
        }
        std::printf("%s Please give another error.\n", fault.text.c_str());
    }
}

} // namespace

namespace {

// Never asked: an error grid is an ASCII grid or a GeoTIFF.
void no_descriptor(input_grid &) {}
int32_t no_answer(const input_grid &) { return 0; }
const input_questions NO_QUESTIONS = {no_descriptor, no_answer, no_answer};

} // namespace

error_grid_fault read_error_grid(const std::string &path, int32_t form, const grid_frame &dem, double ***grid,
                                 double *mean)
{
    const other_grid read = read_other_grid(path, form, 0, "", dem, NO_QUESTIONS);
    *grid = read.cells;
    error_grid_fault fault = error_grid_misfit(path, read.frame, dem);
    if (fault.empty()) {
        const std::string negative = negative_error(*grid, read.frame.lines, read.frame.columns, mean);
        if (!negative.empty())
            fault.text = text_printf("\n\tThe error grid %s holds a negative error (%s): its cells must hold "
                                     "standard deviations, 0 or more.",
                                     path.c_str(), negative.c_str());
    }
    if (!fault.empty()) {
        frdmatrice(*grid, read.frame.lines);
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

error_grid_fault error_grid_misfit(const std::string &name, const grid_frame &frame, const grid_frame &dem)
{
    error_grid_fault fault;
    if (frame.lines != dem.lines || frame.columns != dem.columns)
        fault.text = text_printf("\n\tThe error grid %s has %d lines and %d columns, its DEM %d lines and %d "
                                 "columns: an error grid lies on the cells of its DEM.",
                                 name.c_str(), frame.lines, frame.columns, dem.lines, dem.columns);
    else if (!same_cells(dem, frame))
        fault.text = text_printf("\n\tThe error grid %s lies on other cells than its DEM (corner %s %s, cells of "
                                 "%s; the DEM's corner %s %s, cells of %s): an error grid lies on the cells of its "
                                 "DEM.",
                                 name.c_str(), exact_real_text(frame.xll).c_str(), exact_real_text(frame.yll).c_str(),
                                 exact_real_text(frame.dx).c_str(), exact_real_text(dem.xll).c_str(),
                                 exact_real_text(dem.yll).c_str(), exact_real_text(dem.dx).c_str());
    return fault;
}

void ask_confidence_test(const std::string &folder, const grid_frame &first, const grid_frame &second)
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
