// The dialogue of a run: the working folder, the two input grids, the grid to
// create and how to compute it, up to the creation of the output files.
#include "ormelix/opening.h"

#include <cstdio>
#include <string>

#include "console/console.h"
#include "coordinates/coordinate_system.h"
#include "globals/globals.h"
#include "gridfiles/input_grid.h"
#include "gridfiles/raster_pair.h"
#include "nrutil.h"
#include "ormelix/alignment.h"
#include "ormelix/banner.h"
#include "ormelix/confidence_dialogue.h"
#include "platform/platform.h"
#include "regrid/frame_step.h"
#include "regrid/reprojection.h"
#include "text/number_text.h"
#include "treatment/difference_kinds.h"
#include "treatment/file_forms.h"

namespace {

const char ROOT_FOLDER[] = "c:\\images\\";

std::string working_folder;  // "c:\images\<folder>\"
// The cells of each DEM as it was read, where its error grid must lie.
grid_frame first_cells, second_cells;

// Asks a name until it stays inside the root folder.
std::string ask_name(const char *question)
{
    for (;;) {
        std::string name = ask_word(question);
        if (name_stays_inside(name))
            return name;
        std::printf("\n\t%s would lead outside %s: please give a name inside it.\n",
                    name.c_str(), ROOT_FOLDER);
    }
}

// The extension of a file GDAL reads (img, vrt, hgt, ...), its dot left out; one that
// would lead to another folder is asked again.
std::string ask_extension()
{
    for (;;) {
        std::string extension = ask_word("\n\tExtension of this file (img, vrt, hgt, bil, ...) ? ");
        if (!extension.empty() && extension[0] == '.')
            extension.erase(0, 1);
        if (!extension.empty() && extension.find_first_of("\\/:") == std::string::npos &&
            extension.find('\0') == std::string::npos && extension.find("..") == std::string::npos)
            return extension;
        std::printf("\n\t%s is not an extension: give the letters after the name's dot, such as img.\n",
                    extension.c_str());
    }
}

int32_t ask_positive(const char *question)
{
    for (;;) {
        int32_t value = ask_int(question);
        if (value > 0)
            return value;
    }
}

void ask_descriptor_counts(input_grid &grid)
{
    std::printf("\n\tNo File %s \n\n", grid.nomdescr.c_str());
    grid.lines = ask_positive("\n\tNumber of lines   ? ");
    grid.columns = ask_positive("\tNumber of columns ? ");
    grid.pix_size = ask_int("\tPixel size ? ");
}

int32_t ask_pixel_size(const input_grid &)
{
    return ask_positive(RASTER_PIXEL_SIZE_QUESTION);
}

int32_t ask_raster_unit(const input_grid &)
{
    return ask_menu({"\n\n\tAre these values\n\t\t0 ====> in meters",
                     "\n\t\t1 ====> in decimeters\n\t\t2 ====> in centimeters",
                     "\n\t\t3 ====> in millimeters\n\t\t"},
                    3);
}

const input_questions DIALOGUE_QUESTIONS = {ask_descriptor_counts, ask_pixel_size, ask_raster_unit};

void open_input_grid(input_grid &grid, const char *name_question, const char *summary_heading)
{
    const std::string stem = working_folder + ask_name(name_question);
    grid.nomdescr.clear();
    grid.format = ask_menu({file_form_menu(true)}, last_file_form(true));
    // The file's whole name: a raster pair's sample type is asked first, since it names it.
    int32_t ending = 0;
    if (FILE_FORMS[grid.format].raster) {
        grid.itype = ask_menu({RASTER_SAMPLE_TYPE_MENU}, 1);
        grid.nomdescr = stem + raster_descriptor_suffix(grid.itype);
        ending = grid.itype;
    }
    if (grid.format == GDAL_FILE_FORM)
        grid.nomim = stem + "." + ask_extension();
    else
        grid.nomim = stem + FILE_FORMS[grid.format].endings[ending];
    grid.ask = &DIALOGUE_QUESTIONS;
    FILE_FORMS[grid.format].open_input(grid);
    std::printf(summary_heading, grid.nomim.c_str());
    std::printf("\n\t            %d LINES", grid.lines);
    std::printf("\n\t        AND %d COLUMNS\n", grid.columns);
    read_coordinate_system(grid);
}

// The dialogue's questions for an epoch, then its summary.
void open_asked_grid(input_grid &grid)
{
    if (grid.second)
        open_input_grid(grid, "\n\n\tName of the second DEM (whitout any extension) ? ",
                        "\n\n\tTHE SECOND DEM NAMED %s HAS : ");
    else
        open_input_grid(grid, "\n\tName of the first DEM (whitout any extension) ? ",
                        "\n\n\tTHE FIRST DEM NAMED %s HAS : ");
}

// The frame a reader returned, into the globals the run's steps name: the corner and
// cells of the last grid read that has map coordinates.
void keep_frame_in_globals(const grid_frame &frame)
{
    if (!frame.has_corner)
        return;
    X_min = frame.xll;
    Y_min = frame.yll;
    dpix_size = frame.dx;
    dpix_size_y = frame.dy;
    if (frame.has_nodata)
        nodata = frame.nodata;
}

// Two grids that each declare a system, not the same one.
bool reprojects(const input_grid &first, const input_grid &second)
{
    return !first.geokeys.crs.empty() && !second.geokeys.crs.empty() && first.corner_ok != 0 && second.corner_ok != 0;
}

// Two georeferenced grids in one coordinate system are brought onto one frame, in two
// the second reprojected onto the first's cells; the console says where it lies right
// after the second grid's summary. Returns how the alignment warning ends.
std::string plan_frames(const input_grid &first, const input_grid &second, const grid_frame &first_frame,
                        const grid_frame &second_frame, bool one_system)
{
    keep_input_frames(first_frame, second_frame);
    if (!first_frame.has_corner || !second_frame.has_corner)
        return CELL_BY_CELL_LINE;
    if (!one_system && reprojects(first, second)) {
        std::fputs(frame_step_text(plan_run_reprojection(first_frame, second_frame, first.geokeys.crs,
                                                         second.geokeys.crs))
                       .c_str(),
                   stdout);
        return reprojection_line();
    }
    // A GeoTIFF that declares no system beside one that does: no common ground can be
    // told from the coordinates; the grids are differenced cell by cell, as long as
    // their counts agree.
    if (!one_system) {
        if (second.lines != first.lines || second.columns != first.columns)
            stop_frame_differs("second DEM", second.nomim, second.lines, second.columns, first.lines, first.columns);
        return CELL_BY_CELL_LINE;
    }
    const frame_plan &plan = plan_run_frame_step(first_frame, second_frame);
    std::fputs(frame_step_text(plan).c_str(), stdout);
    if (plan.kind == frames_bilinear || plan.kind == frames_area_mean)
        return resampling_line(plan.kind);
    return CELL_BY_CELL_LINE;
}

// The output must never overwrite one of the input files.
bool output_is_input(const std::string &output_path)
{
    for (const std::string *input : {&nomim1, &nomdescr1, &nomim2, &nomdescr2})
        if (!input->empty() && same_file(output_path, *input))
            return true;
    return false;
}

void output_dialogue()
{
    const char *name_question = "\n\n\tName of the DEM to be created (without any extension) ? ";
    std::string nomfic1 = ask_name(name_question);
    if (!first_input().by_bands) {
        dtab_out = dmatrice(nb_col, nb_lig);
        require_grid(dtab_out, nb_col, nb_lig);
    }
    for (;;) {
        format_out = ask_menu({file_form_menu(false)}, last_file_form(false));
        const std::string refusal =
            FILE_FORMS[format_out].output_refusal != nullptr ? FILE_FORMS[format_out].output_refusal() : "";
        if (refusal.empty())
            break;
        std::fputs(refusal.c_str(), stdout);
    }
    const file_form &form = FILE_FORMS[format_out];
    parameters();
    if (form.ask_output_options != nullptr)
        form.ask_output_options();

    std::string second_file;
    for (;;) {
        nomstem3 = working_folder + nomfic1 + difference_kind_suffix(type_treat);
        form.output_paths(nomstem3, &nomim3, &second_file);
        std::string clash;
        if (output_is_input(nomim3))
            clash = nomim3;
        else if (!second_file.empty() && output_is_input(second_file))
            clash = second_file;
        else
            break;
        std::printf("\n\tThe file %s is one of the input grids: choose another name.\n",
                    clash.c_str());
        nomfic1 = ask_name(name_question);
    }
    form.create_output(nomim3, second_file);
}

} // namespace

const input_questions &dialogue_questions()
{
    return DIALOGUE_QUESTIONS;
}

const grid_frame &epoch_cells(bool second)
{
    return second ? second_cells : first_cells;
}

bool name_stays_inside(const std::string &name)
{
    if (name.empty() || name[0] == '\\' || name[0] == '/' || name.find(':') != std::string::npos)
        return false;
    // The system would cut the path at a NUL character, after what was checked here.
    if (name.find('\0') != std::string::npos)
        return false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of("\\/", start);
        if (end == std::string::npos)
            end = name.size();
        if (name.compare(start, end - start, "..") == 0)
            return false;
        start = end + 1;
    }
    return true;
}

void parameters()
{
    type_treat = ask_menu({"\n\n\tType of treatment : ",
                           "\n\t\t0 ====> absolute values\n\t\t1 ====> negative values",
                           "\n\t\t2 ====> positive values\n\t\t3 ====> signed values\n\t\t"},
                          3);
    basis = ask_menu({"\n\n\tElimination of low altitude pixels :\n\t\t0 ====> yes\n\t\t1 ====> no\n\t\t",
                      "2 ====> at a confidence level, from each DEM's error\n\t\t"},
                     2);
    if (basis == 0)
        hypso = ask_real("\n\tHypsometric decimal value of this limit (in meters) ? ");
    if (basis == 2)
        ask_confidence_test(working_folder, first_cells, second_cells);
}

void opening()
{
    std::fputs(banner_text().c_str(), stdout);

    nomim1 = ROOT_FOLDER;
    std::string question =
        text_printf("\n\n\tName of the File Folder located in the Directory %s ? ", nomim1.c_str());
    working_folder = nomim1 + ask_name(question.c_str()) + "\\";
    nomim1 = working_folder;
    nomim2 = working_folder;

    read_epochs(open_asked_grid, stdout);
    output_dialogue();
}

void read_epochs(void (*open_grid)(input_grid &grid), FILE *warnings)
{
    input_grid &first = first_input();
    input_grid &second = second_input();
    open_grid(first);
    keep_frame_in_globals(first.frame);
    first_cells = first.frame;
    open_grid(second);
    keep_frame_in_globals(second.frame);
    check_second_frame(second, first.corner_ok != 0 && second.corner_ok != 0);
    second_cells = second.frame;
    const bool one_system = coordinate_system_warning(first.geokeys, second.geokeys, "").empty();
    const std::string last_line = plan_frames(first, second, first_cells, second_cells, one_system);
    // Warnings only: scripts that feed the answers keep working. Corners in two systems
    // cannot be compared.
    if (one_system || !reprojects(first, second))
        std::fputs(alignment_warning(first_cells, second_cells, last_line).c_str(), warnings);
    std::fputs(coordinate_system_warning(first.geokeys, second.geokeys, last_line).c_str(), warnings);
    // Epochs read in bands are brought onto the result's frame band by band.
    if (first.by_bands)
        frame_step_counts();
    else
        frame_step();
}
