#include "ormelix/confidence_dialogue.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "console/console.h"
#include "console/progress.h"
#include "globals/globals.h"
#include "gridfiles/grid_memory.h"
#include "gridfiles/input_grid.h"
#include "nrutil.h"
#include "ormelix/opening.h"
#include "ormelix/other_grid.h"
#include "platform/platform.h"
#include "platform/memory.h"
#include "platform/worker_thread.h"
#include "regrid/frame_step.h"
#include "text/number_text.h"
#include "treatment/band_pass.h"
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

// The errors summed so far over the cells that have one, in the grid's order.
struct error_sum {
    double sum = 0.0;
    size_t cells = 0;
};

// The first negative error of lines [first, end) of a grid, rows[0] being line first
// ("" when they have none); else each line's sum of its errors and count of cells with one
// into sums[i - first] and cells[i - first].
std::string line_errors(const double *const *rows, int32_t first, int32_t end, int32_t columns, double *sums,
                        size_t *cells)
{
    for (int32_t i = first; i < end; i++) {
        const double *line = rows[i - first];
        // A negative error is looked for first, over the whole line at once: no value that
        // is not a number passes the comparison.
        bool negative = false;
        for (int32_t j = 0; j < columns; j++)
            negative |= line[j] < 0.0;
        if (negative)
            for (int32_t j = 0; j < columns; j++)
                if (line[j] < 0.0)
                    return text_printf("%s at line %d, column %d", exact_real_text(line[j]).c_str(), i + 1, j + 1);
        // The line's errors summed in eight parts, every eighth cell each (independent
        // additions, not one chain of them), the parts then added in one order. The cells
        // without an error add 0: no part is ever a NaN.
        const int32_t PARTS = 8;
        double part[PARTS] = {};
        size_t count = 0;
        int32_t j = 0;
        for (; j + PARTS <= columns; j += PARTS)
            for (int32_t k = 0; k < PARTS; k++) {
                const double value = line[j + k];
                const bool has = value == value;
                part[k] += has ? value : 0.0;
                count += has ? 1 : 0;
            }
        for (int32_t k = 0; j < columns; j++, k++) {
            const double value = line[j];
            const bool has = value == value;
            part[k] += has ? value : 0.0;
            count += has ? 1 : 0;
        }
        sums[i - first] = ((part[0] + part[1]) + (part[2] + part[3])) + ((part[4] + part[5]) + (part[6] + part[7]));
        cells[i - first] = count;
    }
    return "";
}

// The same, the lines' errors added to *total line after line: the same sum whatever the
// bands the lines come in. With helper, the band's lower half is looked through on it.
std::string negative_error(const double *const *rows, int32_t first, int32_t end, int32_t columns,
                           error_sum *total, worker_thread *helper = nullptr)
{
    const size_t lines = static_cast<size_t>(std::max(end - first, 0));
    std::vector<double> sums(lines);
    std::vector<size_t> cells(lines);
    const int32_t middle = helper != nullptr ? first + (end - first) / 2 : first;
    std::string lower;
    if (helper != nullptr)
        worker_post(helper, [&] { lower = line_errors(rows, first, middle, columns, sums.data(), cells.data()); });
    std::string negative = line_errors(rows + (middle - first), middle, end, columns,
                                       sums.data() + (middle - first), cells.data() + (middle - first));
    if (helper != nullptr) {
        worker_wait(helper);
        if (!lower.empty())
            return lower;
    }
    if (!negative.empty())
        return negative;
    for (size_t i = 0; i < lines; i++) {
        total->sum += sums[i];
        total->cells += cells[i];
    }
    return "";
}

double mean_of(const error_sum &total)
{
    return total.cells > 0 ? total.sum / static_cast<double>(total.cells) : 0.0;
}

// The check of an error grid read in bands takes bands of whole rows of the files' usual
// blocks (256 lines) of at least this many cells, which its reader decodes on two
// threads, within a quarter of the run's memory.
const int32_t CHECK_BLOCK_LINES = 256;
const double CHECK_BAND_CELLS = 4.5 * 1024 * 1024;

// The same over a grid read through by its reader a band at a time, holding one band.
// The file is read to its end, as its whole reading would: a fault of the file anywhere
// stops the run before a negative error is told.
std::string negative_error_in_bands(line_reader *reader, int32_t lines, int32_t columns, double *mean)
{
    const double width = std::max(columns, 1);
    const double most = std::floor(run_memory() / 4.0 / (8.0 * width));
    double band = std::ceil(CHECK_BAND_CELLS / width / CHECK_BLOCK_LINES) * CHECK_BLOCK_LINES;
    if (band > most)
        band = most >= CHECK_BLOCK_LINES ? std::floor(most / CHECK_BLOCK_LINES) * CHECK_BLOCK_LINES : most;
    const int32_t band_lines = static_cast<int32_t>(std::clamp(band, 1.0, static_cast<double>(std::max(lines, 1))));
    const size_t cells = static_cast<size_t>(band_lines) * static_cast<size_t>(width);
    // Its memory in large pages where the system offers them: a fault for each small page
    // of fresh memory would cost as much as the decoding.
    grid_memory_hint(cells * sizeof(double));
    std::unique_ptr<double[]> memory(new double[cells]);  // every cell decoded before it is read
    std::vector<double *> rows(static_cast<size_t>(band_lines));
    for (size_t i = 0; i < rows.size(); i++)
        rows[i] = memory.get() + i * static_cast<size_t>(width);
    error_sum total;
    std::string negative, fault;
    // Each band looked through on two threads: a band is larger than the processor's
    // caches, and one thread alone waits on the memory.
    worker_thread helper;
    const bool helped = worker_start(&helper);
    for (int32_t first = 0; first < lines; first += band_lines) {
        const int32_t end = std::min(lines, first + band_lines);
        if (!reader->read_lines(first, end, rows.data(), &fault))
            stop_with_message("%s", fault.c_str());
        if (negative.empty())
            negative = negative_error(rows.data(), first, end, columns, &total, helped ? &helper : nullptr);
        progress_to(static_cast<double>(end) / lines);
    }
    worker_stop(&helper);
    if (negative.empty())
        *mean = mean_of(total);
    return negative;
}

// One DEM's error: a number into *sigma, or an error grid into *grid (or to be read in
// bands by *lines), named *name, whose mean goes into *sigma.
void ask_error(const char *question, const std::string &folder, const grid_frame &dem, double *sigma,
               double ***grid, std::unique_ptr<line_reader> *lines, std::string *name)
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
        const error_grid_fault fault = read_error_grid(path, form, dem, grid, lines, sigma);
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
                                 std::unique_ptr<line_reader> *lines, double *mean)
{
    const bool by_bands = lines != nullptr && first_input().by_bands;
    other_grid read = read_other_grid(path, form, 0, "", dem, NO_QUESTIONS, by_bands);
    *grid = read.cells;
    error_grid_fault fault = error_grid_misfit(path, read.frame, dem);
    if (fault.empty()) {
        const int32_t rows = read.frame.lines, columns = read.frame.columns;
        std::string negative;
        if (by_bands) {
            negative = negative_error_in_bands(read.reader.get(), rows, columns, mean);
        } else {
            error_sum total;
            negative = negative_error(*grid, 0, rows, columns, &total);
            *mean = mean_of(total);
        }
        if (!negative.empty())
            fault.text = text_printf("\n\tThe error grid %s holds a negative error (%s): its cells must hold "
                                     "standard deviations, 0 or more.",
                                     path.c_str(), negative.c_str());
    }
    if (!fault.empty()) {
        frdmatrice(*grid, read.frame.lines);
        *grid = nullptr;
    } else if (by_bands) {
        *lines = std::move(read.reader);
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
    std::unique_ptr<line_reader> lines[2];
    ask_error("\n\tError of the first DEM (standard deviation in meters, or name of an error grid) ? ", folder,
              first, &sigma_dem1, &dtab_sigma1, &lines[0], &nomsigma1);
    ask_error("\n\tError of the second DEM (standard deviation in meters, or name of an error grid) ? ", folder,
              second, &sigma_dem2, &dtab_sigma2, &lines[1], &nomsigma2);
    // Read in bands beside the epochs, each follows its DEM there band by band.
    keep_run_error_lines(false, std::move(lines[0]));
    keep_run_error_lines(true, std::move(lines[1]));
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
