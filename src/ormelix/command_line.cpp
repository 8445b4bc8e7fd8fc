#include "ormelix/command_line.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console/console.h"
#include "console/progress.h"
#include "coordinates/coordinate_system.h"
#include "globals/given_answers.h"
#include "globals/globals.h"
#include "gridfiles/grid_memory.h"
#include "gridfiles/input_grid.h"
#include "nrutil.h"
#include "ormelix/alignment.h"
#include "ormelix/banner.h"
#include "ormelix/confidence_dialogue.h"
#include "ormelix/coregistration.h"
#include "ormelix/opening.h"
#include "ormelix/other_grid.h"
#include "platform/platform.h"
#include "regrid/frame_step.h"
#include "text/number_text.h"
#include "treatment/band_pass.h"
#include "treatment/change_report.h"
#include "treatment/treatment.h"
#include "treatment/change_test.h"
#include "treatment/class_budget.h"
#include "treatment/correlated_budget.h"
#include "treatment/file_forms.h"
#include "treatment/output_choices.h"
#include "treatment/raster_writer.h"
#include "treatment/band_pass.h"
#include "treatment/stable_ground.h"
#include "treatment/stable_pass.h"

namespace {

const char USAGE[] = "Usage: ormelix FIRST SECOND OUTPUT [options]   (ormelix --help lists them)\n";

const char EXAMPLES[] =
    "\nThe form of each grid comes from its ending: NAME.asc an ASCII grid, NAME.tif or NAME.tiff a\n"
    "GeoTIFF, NAME_m2.raw / NAME_m4.raw a 16-bit / 32-bit raster pair with NAME_m2.txt / NAME_m4.txt\n"
    "beside it. An input of any other ending, a path of GDAL's virtual file systems (/vsizip/,\n"
    "/vsicurl/, ...) and, with --gdal, every input is read through GDAL (NAME.img, NAME.vrt, NAME.hgt,\n"
    "...). Beside OUTPUT go STEM_budget.csv and STEM_report.html (STEM: OUTPUT without its ending).\n"
    "Without arguments ORMELIX asks its questions instead.\n"
    "\nExamples:\n"
    "  ormelix survey_2019.asc survey_2024.asc change.asc\n"
    "  ormelix 2019.tif 2024.tif lowering.tif --kind positive --limit 0.25\n"
    "  ormelix north_m2.raw south_m2.raw diff_m4.raw --first-unit cm --second-unit cm --unit mm\n"
    "  ormelix north_m2.raw south_m2.raw diff.asc --corner 512000 5612000\n"
    "  ormelix 2019.tif 2024.tif change.tif --classes landforms.tif --stable stable.tif\n"
    "  ormelix 2019.asc 2024.asc change.asc --json --no-report > budget.json\n"
    "  ormelix survey_2019.img tiles_2024.vrt change.tif\n"
    "  ormelix /vsizip/epochs.zip/2019.asc /vsizip/epochs.zip/2024.asc change.asc\n"
    "\nExit status: 0 when the output is written, 1 when the run fails, 2 for a usage error.\n";

// Everything the command line says, before it is checked against the files' forms.
struct command_line {
    std::string first, second, output;
    std::string kind = "signed";
    double limit = 0.0;
    bool limited = false;
    std::string first_unit = "m", second_unit = "m", unit;
    std::vector<double> corner;
    std::string classes, stable;
    std::vector<std::string> sigma;
    double confidence = 0.0;
    bool no_report = false, quiet = false, json = false;
    bool gdal = false;  // every input grid read through GDAL
    std::string memory;  // --memory SIZE, as given
    int32_t band_lines = 0;
    std::string coregister;  // empty: the epochs as they are
};

// A path's form as the run uses it.
struct given_grid {
    int32_t form = 0;
    int32_t itype = 0;
    std::string stem;
};

command_line given;
given_grid first_grid, second_grid, output_grid;

int32_t unit_number(const std::string &unit)
{
    static const char *const names[] = {"m", "dm", "cm", "mm"};
    for (int32_t k = 0; k < 4; k++)
        if (unit == names[k])
            return k;
    return 0;
}

int32_t kind_number(const std::string &kind)
{
    int32_t number = TREAT_SIGNED;
    difference_kind_of_word(kind, &number);
    return number;
}

bool is_raster(const given_grid &grid)
{
    return FILE_FORMS[grid.form].raster;
}

// The descriptor beside a raster pair's sample file: NAME_m2.raw and NAME_m2.txt, the
// ending's letters in the sample file's case.
std::string descriptor_beside(const std::string &samples)
{
    const bool upper = samples.back() == 'W';
    return samples.substr(0, samples.size() - 3) + (upper ? "TXT" : "txt");
}

int usage_error(const std::string &message)
{
    std::fprintf(stderr, "ormelix: %s\n%s", message.c_str(), USAGE);
    return USAGE_ERROR;
}

// What the forms of the three paths allow; "" when the options fit them.
std::string check_forms()
{
    // An input of no form of the program's own is GDAL's to read.
    input_form_of_path(given.first, given.gdal, &first_grid.form, &first_grid.itype, &first_grid.stem);
    input_form_of_path(given.second, given.gdal, &second_grid.form, &second_grid.itype, &second_grid.stem);
    if (!form_of_path(given.output, &output_grid.form, &output_grid.itype, &output_grid.stem))
        return given.output + ": no form ends so; give NAME.asc, NAME.tif, NAME.tiff, NAME_m2.raw or NAME_m4.raw";
    if (is_raster(output_grid) && output_grid.itype == 0 && kind_number(given.kind) == TREAT_SIGNED)
        return given.output + ": signed values fall below 0, which 16-bit samples cannot hold: write NAME_m4.raw, "
                              "or give --kind absolute, negative or positive";
    const bool both_rasters = is_raster(first_grid) && is_raster(second_grid);
    if (both_rasters && !is_raster(output_grid) && given.corner.empty())
        return given.output + ": two raster pairs carry no map coordinates: give the lower-left corner with "
                              "--corner X Y";
    if (!given.corner.empty() && !(both_rasters && !is_raster(output_grid)))
        return "--corner is for two raster pairs written to an ASCII grid or a GeoTIFF";
    if (!given.unit.empty() && !is_raster(output_grid))
        return "--unit is for a raster pair output (NAME_m2.raw or NAME_m4.raw)";
    if (given.first_unit != "m" && !is_raster(first_grid))
        return "--first-unit is for a raster pair: " + given.first + " holds metres";
    if (given.second_unit != "m" && !is_raster(second_grid))
        return "--second-unit is for a raster pair: " + given.second + " holds metres";
    const std::string first_descriptor = is_raster(first_grid) ? descriptor_beside(given.first) : "";
    const std::string second_descriptor = is_raster(second_grid) ? descriptor_beside(given.second) : "";
    const std::string output_descriptor = is_raster(output_grid) ? descriptor_beside(given.output) : "";
    for (const std::string &output : {given.output, output_descriptor})
        for (const std::string &input : {given.first, first_descriptor, given.second, second_descriptor})
            if (!output.empty() && !input.empty() && same_file(output, input))
                return output + " is one of the input files: choose another output";
    return "";
}

// --unit, or the finest that holds the range.
int32_t given_raster_unit(double d_min, double d_max)
{
    return given_output_unit(given.unit.empty() ? -1 : unit_number(given.unit), d_min, d_max);
}

// No file records it, and the descriptor takes the second grid's: not asked.
int32_t no_pixel_size()
{
    return 0;
}

// --corner X Y
void given_corner(double *x, double *y)
{
    *x = given.corner.empty() ? 0.0 : given.corner[0];
    *y = given.corner.empty() ? 0.0 : given.corner[1];
}

void fill_answers()
{
    answers.report = !given.no_report;
    answers.quiet = given.quiet;
    answers.json = given.json;
    answers.classes_path = given.classes;
    answers.stable_path = given.stable;
    output_answers = {no_pixel_size, given_raster_unit, given_corner};
    // A failed run: one message on standard error; a question its options do not answer
    // stops it rather than wait on the terminal.
    set_stop_style(stop_on_standard_error);
    refuse_questions("\n\tThe command line gives no answer to a question of this run; the dialogue (ormelix "
                     "without arguments) asks it.\n");
}

// What the readers would ask: the command line has given all its answers.
void stop_without_descriptor(input_grid &grid)
{
    stop_with_message("\n\tFile %s unknown: the raster pair %s needs its descriptor beside it (the "
                      "dialogue, ormelix without arguments, writes one from its answers).\n",
                      grid.nomdescr.c_str(), grid.nomim.c_str());
}

int32_t stop_without_pixel_size(const input_grid &grid)
{
    stop_with_message("\n\tThe descriptor %s gives no pixel size (its sixth number): write the pixel "
                      "size in metres there.\n",
                      grid.nomdescr.c_str());
}

// --first-unit, --second-unit; the grids of --classes and --stable hold metres.
int32_t given_unit(const input_grid &grid)
{
    if (grid.own_frame)
        return 0;
    return unit_number(grid.second ? given.second_unit : given.first_unit);
}

const input_questions GIVEN_ANSWERS = {stop_without_descriptor, stop_without_pixel_size, given_unit};

// An input grid's globals from its path, as the dialogue's answers would set them.
void describe_input(input_grid &grid, const std::string &path, const given_grid &form)
{
    grid.nomim = path;
    grid.format = form.form;
    grid.itype = form.itype;
    grid.nomdescr = is_raster(form) ? descriptor_beside(path) : std::string();
    grid.ask = &GIVEN_ANSWERS;
}

// A grid of --classes or --stable, read by its form's reader at its own frame, which
// must be the first grid's as read. The run's frame stays the epochs'.
other_grid read_given(const std::string &path, const char *which, bool by_bands)
{
    given_grid form;
    input_form_of_path(path, given.gdal, &form.form, &form.itype, &form.stem);
    const grid_frame &dem = epoch_cells(false);
    progress_phase("reading " + path);
    other_grid grid = read_other_grid(path, form.form, form.itype,
                                      is_raster(form) ? descriptor_beside(path) : std::string(), dem, GIVEN_ANSWERS,
                                      by_bands);
    const grid_frame &own = grid.frame;
    if (!same_cells(dem, own))
        stop_with_message("\n\tThe %s %s does not lie on the cells of the first DEM %s (%d lines and %d columns%s): "
                          "it has %d lines and %d columns%s.\n",
                          which, path.c_str(), nomim1.c_str(), dem.lines, dem.columns,
                          dem.has_corner ? text_printf(", lower-left corner %s %s", exact_real_text(dem.xll).c_str(),
                                                       exact_real_text(dem.yll).c_str()).c_str()
                                         : "",
                          own.lines, own.columns,
                          own.has_corner ? text_printf(", lower-left corner %s %s", exact_real_text(own.xll).c_str(),
                                                       exact_real_text(own.yll).c_str()).c_str()
                                         : "");
    return grid;
}

double **read_given_grid(const std::string &path, const char *which)
{
    return read_given(path, which, false).cells;
}

void open_given_grid(input_grid &grid)
{
    if (grid.second)
        describe_input(grid, given.second, second_grid);
    else
        describe_input(grid, given.first, first_grid);
    progress_phase("reading " + (grid.second ? given.second : given.first));
    FILE_FORMS[grid.format].open_input(grid);
    read_coordinate_system(grid);
}

// The forms an error grid may have, as in the dialogue: an ASCII grid or a GeoTIFF.
bool error_grid_form(const std::string &path, int32_t *form)
{
    given_grid grid;
    if (!form_of_path(path, &grid.form, &grid.itype, &grid.stem) || is_raster(grid))
        return false;
    *form = grid.form;
    return true;
}

// An error of --sigma: a number of metres into *sigma, or the error grid at that path on
// the DEM's cells (the second DEM's when second), its mean into *sigma; a grid that does
// not fit stops the run.
void read_given_error(const std::string &word, const grid_frame &dem, double *sigma, double ***grid,
                      std::string *name, bool second)
{
    int32_t form = -1;
    if (read_error_answer(word, sigma) == ERROR_NUMBER || !error_grid_form(word, &form))
        return;
    progress_phase("reading " + word);
    std::unique_ptr<line_reader> lines;
    const error_grid_fault fault = read_error_grid(word, form, dem, grid, &lines, sigma);
    if (!fault.empty())
        stop_with_message("%s\n", fault.text.c_str());
    *name = word;
    // Read in bands beside the epochs, it follows its DEM there band by band.
    keep_run_error_lines(second, std::move(lines));
}

void read_other_grids()
{
    // Each made compact on the result's frame as soon as it is read: the memory of its
    // values goes to the next grid.
    const int32_t lines = epoch_cells(false).lines;
    // Beside epochs read in bands, the classes are read band by band too.
    if (!answers.classes_path.empty() && first_input().by_bands)
        keep_run_class_lines(read_given(answers.classes_path, "class grid", true).reader);
    else if (!answers.classes_path.empty())
        dtab_classes = run_class_cells(read_given_grid(answers.classes_path, "class grid"), lines);
    if (!answers.stable_path.empty() && first_input().by_bands)
        keep_run_stable_lines(read_given(answers.stable_path, "stable-ground mask", true).reader);
    else if (!answers.stable_path.empty())
        dtab_stable = run_stable_cells(read_given_grid(answers.stable_path, "stable-ground mask"), lines);
}

// --coregister: the second DEM aligned on the first, before the stable ground's figures
// are gathered, so that they and --sigma stable are those of the aligned epochs.
void coregister_given_epochs()
{
    coregister_method method;
    if (!coregister_method_named(given.coregister, &method))
        return;
    coregister_run_epochs(method, given.quiet ? nullptr : stderr);
}

} // namespace

bool read_memory_size(const std::string &text, double *bytes)
{
    size_t end = 0;
    while (end < text.size() && (std::isdigit(static_cast<unsigned char>(text[end])) || text[end] == '.'))
        end++;
    double value = 0.0;
    if (end == 0 || !parse_real_word(text.data(), text.data() + end, &value))
        return false;
    std::string unit = text.substr(end);
    for (char &c : unit)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    static const char *const units[] = {"", "K", "M", "G", "T"};
    for (int k = 0; k < 5; k++) {
        const std::string u = units[k];
        if (unit == u || (k > 0 && (unit == u + "B" || unit == u + "IB")) || (k == 0 && unit == "B")) {
            *bytes = value * std::pow(1024.0, k);
            return *bytes >= 1024.0 * 1024.0 && std::isfinite(*bytes);
        }
    }
    return false;
}

int read_command_line(const std::vector<std::string> &arguments)
{
    CLI::App app("ORMELIX: the difference of two elevation models of one frame, FIRST - SECOND, saved as a new "
                 "one, with the budget of the change and its report.",
                 "ormelix");
    // Options are spelt --name everywhere: on Windows too a word starting with / is a
    // path (GDAL's /vsizip/c:/..., /vsicurl/...), never an option.
    app.allow_windows_style_options(false);
    app.add_option("FIRST", given.first, "the first grid (an epoch of the survey)")->required()->option_text(" ");
    app.add_option("SECOND", given.second, "the second grid, on the first grid's cells")->required()->option_text(" ");
    app.add_option("OUTPUT", given.output, "the grid to create, its form from its ending")->required()->option_text(" ");
    std::vector<std::string> kinds;
    for (const difference_kind &kind : DIFFERENCE_KINDS)
        kinds.push_back(kind.word);
    app.add_option("--kind", given.kind, "the kind of difference (default signed: FIRST - SECOND)")
        ->check(CLI::IsMember(kinds))
        ->option_text(kinds[0] + "|" + kinds[1] + "|" + kinds[2] + "|" + kinds[3]);
    app.add_option("--limit", given.limit, "changes of magnitude below T metres set to 0")->option_text("T");
    const std::vector<std::string> units = {"m", "dm", "cm", "mm"};
    app.add_option("--first-unit", given.first_unit, "the unit of the first raster pair's integers (default m)")
        ->check(CLI::IsMember(units))
        ->option_text("m|dm|cm|mm");
    app.add_option("--second-unit", given.second_unit, "the unit of the second raster pair's integers (default m)")
        ->check(CLI::IsMember(units))
        ->option_text("m|dm|cm|mm");
    app.add_option("--unit", given.unit, "a raster pair output's unit (default: the finest that holds the range)")
        ->check(CLI::IsMember(units))
        ->option_text("m|dm|cm|mm");
    app.add_option("--corner", given.corner, "the lower-left corner of two raster pairs written georeferenced")
        ->expected(2)
        ->option_text("X Y");
    app.add_option("--classes", given.classes, "the budget of each class of an integer grid, into STEM_classes.csv")
        ->option_text("GRID");
    app.add_option("--stable", given.stable, "cells where MASK is not 0 are stable ground: their change in the budget")
        ->option_text("MASK");
    app.add_option("--sigma", given.sigma,
                   "each DEM's error, metres or an error grid (.asc, .tif) on its cells; stable: the NMAD of "
                   "--stable; stable-slope: its NMAD by the first DEM's slope")
        ->expected(1, 2)
        ->option_text("S1 S2|stable|stable-slope");
    app.add_option("--confidence", given.confidence, "the confidence level of the test, in percent (with --sigma)")
        ->option_text("C");
    app.add_option("--coregister", given.coregister,
                   "align the second DEM on the first on stable ground first (default shift)")
        ->expected(0, 1)
        ->option_text("[shift|vertical|tilt]");
    app.add_option("--memory", given.memory,
                   "the memory the run's grids may take (default 256M): a larger frame is worked in bands of lines")
        ->option_text("SIZE");
    // Every frame in bands of N lines: the outputs are the same bytes whatever N.
    app.add_option("--band-lines", given.band_lines)->group("");
    app.add_flag("--gdal", given.gdal, "read every input grid through GDAL, whatever its ending");
    app.add_flag("--no-report", given.no_report, "write no STEM_report.html");
    app.add_flag("--quiet", given.quiet, "nothing on standard output, no progress");
    app.add_flag("--json", given.json, "the budget as one JSON object on standard output");
    app.add_flag("--progress-lines", "the progress as lines 'progress: PERCENT PHASE' on standard error, for a caller");
    app.set_version_flag("--version", std::string("ORMELIX ") + ORMELIX_VERSION, "the version, then exit");
    app.footer(EXAMPLES);
    app.get_formatter()->column_width(44);
    app.set_help_flag("--help", "this help, then exit");

    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp &) {
        std::fputs(app.help().c_str(), stdout);
        return 0;
    } catch (const CLI::CallForVersion &) {
        std::printf("ORMELIX %s\n", ORMELIX_VERSION);
        return 0;
    } catch (const CLI::ParseError &error) {
        return usage_error(error.what());
    }
    given.limited = app.count("--limit") > 0;
    progress_lines(app.count("--progress-lines") > 0);
    if (app.count("--coregister") > 0 && given.coregister.empty())
        given.coregister = "shift";
    coregister_method method;
    if (!given.coregister.empty() && !coregister_method_named(given.coregister, &method))
        return usage_error("--coregister: " + given.coregister + " is not a method: give shift, vertical or tilt");
    take_paths_as_given();
    const bool sigma = !given.sigma.empty(), confidence = app.count("--confidence") > 0;
    if (sigma != confidence)
        return usage_error("--sigma and --confidence go together: the test at a confidence level needs both");
    if (sigma && given.limited)
        return usage_error("--limit and --sigma: a change is judged by a limit or at a confidence level, not both");
    double level = 0.0;
    if (confidence && !read_confidence_level(std::to_string(given.confidence), &level))
        return usage_error("--confidence: give a percentage above 0 and below 100, such as 95");
    const bool from_stable = given.sigma.size() == 1 && (given.sigma[0] == "stable" || given.sigma[0] == "stable-slope");
    if (given.sigma.size() == 1 && !from_stable)
        return usage_error("--sigma: give both DEMs' errors, S1 S2, stable or stable-slope");
    if (from_stable && given.stable.empty())
        return usage_error("--sigma " + given.sigma[0] + ": the NMAD of the stable ground needs --stable MASK");
    for (const std::string &error : given.sigma) {
        double value = 0.0;
        int32_t form = -1;
        const error_answer answer = read_error_answer(error, &value);
        if (given.sigma.size() == 2 && answer != ERROR_NUMBER && (answer == ERROR_NOT_AN_ERROR ||
                                                                  !error_grid_form(error, &form)))
            return usage_error("--sigma: " + error + " is not an error: a standard deviation in metres, 0 or more, "
                               "or an error grid, NAME.asc, NAME.tif or NAME.tiff");
    }
    if (given.quiet && given.json)
        return usage_error("--quiet and --json: the one prints nothing, the other the budget");
    double memory = RUN_MEMORY_DEFAULT;
    if (!given.memory.empty() && !read_memory_size(given.memory, &memory))
        return usage_error("--memory: " + given.memory + " is not a size: give bytes, or a number with K, M or G "
                           "(KiB, MiB, GiB), of 1M at least, such as 64M");
    if (given.band_lines < 0)
        return usage_error("--band-lines: give a number of lines, 1 or more");
    set_run_memory(memory, given.band_lines);
    const std::string fault = check_forms();
    if (!fault.empty())
        return usage_error(fault);
    fill_answers();
    return -1;
}

void command_line_opening()
{
    silence_standard_output();
    progress_show(!given.quiet);

    // The alignment resamples the second DEM once from its values as read.
    if (!given.coregister.empty())
        keep_second_as_read();
    read_epochs(open_given_grid, stderr);
    read_other_grids();
    coregister_given_epochs();
    add_to_run_budget(coregistration_record());
    add_report_section(coregistration_section());
    // Before the result grid is made: the changes on stable ground are gathered in the
    // memory the mask's values left, which the result grid then takes.
    gather_run_stable_ground();
    // Worked in bands, a test at a confidence level with stable ground needs its figures
    // and its error model before the pass: a first pass over the bands gathers them, after
    // the errors given (their grids read beside) or before those taken from it.
    const bool first_pass = run_works_in_bands() && !answers.stable_path.empty() && !given.sigma.empty();
    const bool errors_from_stable = first_pass && (given.sigma[0] == "stable" || given.sigma[0] == "stable-slope");
    if (errors_from_stable)
        gather_stable_ground_in_bands(given.sigma[0] == "stable-slope");

    if (!first_input().by_bands) {
        dtab_out = dmatrice(nb_col, nb_lig);
        require_grid(dtab_out, nb_col, nb_lig);
    }
    format_out = output_grid.form;
    itype_dem_out = output_grid.itype;
    type_treat = kind_number(given.kind);
    basis = given.limited ? 0 : 1;
    hypso = given.limited ? given.limit : 0.0;
    if (!given.sigma.empty()) {
        basis = TEST_CONFIDENCE;
        confidence_pct = given.confidence;
        if (given.sigma[0] == "stable-slope") {
            // Each cell's error of the change from the first DEM's slope there.
            run_sigma_by_slope();
        } else if (given.sigma[0] == "stable") {
            // The change's deviation is the NMAD of the stable ground: each DEM takes its
            // share, so that the root sum of their squares is it.
            sigma_dem1 = sigma_dem2 = run_stable_ground()->nmad / std::sqrt(2.0);
        } else {
            read_given_error(given.sigma[0], epoch_cells(false), &sigma_dem1, &dtab_sigma1, &nomsigma1, false);
            read_given_error(given.sigma[1], epoch_cells(true), &sigma_dem2, &dtab_sigma2, &nomsigma2, true);
            // Each follows its DEM onto the result's frame, as in the dialogue.
            dtab_sigma1 = first_grid_onto_frame(dtab_sigma1);
            dtab_sigma2 = coregistered_second_error(dtab_sigma2);
        }
    }
    if (first_pass && !errors_from_stable)
        gather_stable_ground_in_bands(false);
    const file_form &form = FILE_FORMS[format_out];
    // What the grids read rule out for the output's form, as the dialogue's menu refuses it.
    const std::string refusal = form.output_refusal != nullptr ? form.output_refusal() : "";
    if (!refusal.empty())
        stop_with_message("%s", refusal.c_str());
    nomstem3 = output_grid.stem;
    nomim3 = given.output;
    std::string unused, second_file;
    form.output_paths(nomstem3, &unused, &second_file);
    form.create_output(nomim3, second_file);
}

void command_line_results()
{
    restore_standard_output();
    if (answers.quiet)
        return;
    if (answers.json) {
        std::fputs(budget_json(run_budget_record()).c_str(), stdout);
    } else {
        print_change_budget();
        if (answers.report)
            print_change_report_line();
    }
    std::fflush(stdout);
}

std::string budget_json(const budget_record &record)
{
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (const budget_column &column : record.columns) {
        if (column.kind == budget_column::COUNT)
            object[column.name] = column.count;
        else if (column.kind == budget_column::REAL)
            object[column.name] = column.real;  // not a finite number: null
        else
            object[column.name] = nullptr;
    }
    for (const auto &more : record.objects)
        object[more.first] = nlohmann::ordered_json::parse(more.second);
    return object.dump() + "\n";
}
