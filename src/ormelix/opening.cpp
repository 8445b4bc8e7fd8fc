// The dialogue of a run: the working folder, the two input grids, the grid to
// create and how to compute it, up to the creation of the output files.
#include "ormelix/opening.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "console/console.h"
#include "gridfiles/ascii_grid.h"
#include "gridfiles/grid_memory.h"
#include "gridfiles/raster_pair.h"
#include "gridfiles/raster_reader.h"
#include "nrutil.h"
#include "ormelix/alignment.h"
#include "ormelix/banner.h"
#include "ormelix/globals.h"
#include "platform/platform.h"
#include "text/number_text.h"

namespace {

const char ROOT_FOLDER[] = "c:\\images\\";
const char FORMAT_MENU[] = "\n\tFormat Type :\n\t\t0 ====> ascii\n\t\t1 ====> raster\n\t\t";
const char SAMPLE_TYPE_MENU[] =
    "\n\ttype of DEM raster :\n\t\t0 ====> 16 bits\n\t\t1 ====> 32 bits\n\t\t";
const char PIXEL_SIZE_QUESTION[] = "\n\tPixel Size (in meters) ? ";

// What differs between the first and the second input grid.
struct input_grid {
    const char *name_question;
    std::string &nomim;
    std::string &nomdescr;
    int32_t &format;
    int32_t &itype;
    FILE *&f;
    FILE *&fd;
    int32_t &lines;
    int32_t &columns;
    int32_t &pix_size;
    double &dpix;
    int32_t &descr_ok;
    void (*raster_reader)();
    void (*ascii_reader)();
    int32_t &corner_ok;
    const char *summary_heading;
    bool second;
};

std::string working_folder;  // "c:\images\<folder>\"
int32_t pix_size1;            // the first grid's pixel size, whole metres

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

int32_t ask_positive(const char *question)
{
    for (;;) {
        int32_t value = ask_int(question);
        if (value > 0)
            return value;
    }
}

void check_second_frame(const input_grid &grid)
{
    if (grid.second && (grid.lines != nb_lig || grid.columns != nb_col))
        stop_frame_differs(grid.nomim, grid.lines, grid.columns, nb_lig, nb_col);
}

// A descriptor that exists gives the counts and the pixel size; false when there is none.
bool read_existing_descriptor(input_grid &grid)
{
    grid.fd = open_program_file(grid.nomdescr, "r");
    if (grid.fd == nullptr)
        return false;
    descriptor_fields fields = read_descriptor(grid.fd);
    std::fclose(grid.fd);
    grid.fd = nullptr;
    grid.lines = fields.value[0];
    grid.columns = fields.value[1];
    grid.pix_size = fields.value[5];
    grid.descr_ok = 1;
    if (grid.lines <= 0 || grid.columns <= 0)
        stop_with_message("\n\tThe descriptor %s gives %d lines and %d columns: both must "
                          "be greater than 0.\n",
                          grid.nomdescr.c_str(), grid.lines, grid.columns);
    return true;
}

void ask_descriptor_counts(input_grid &grid)
{
    std::printf("\n\tNo File %s \n\n", grid.nomdescr.c_str());
    grid.lines = ask_positive("\n\tNumber of lines   ? ");
    grid.columns = ask_positive("\tNumber of columns ? ");
    grid.pix_size = ask_int("\tPixel size ? ");
    grid.descr_ok = 0;
}

// A missing descriptor is written from the answers and completed later by the raster
// reader. It is created only once its answers are in and the frame is known to fit: a
// run that stops before then leaves no partial descriptor to stop later runs on it.
void create_descriptor(input_grid &grid)
{
    grid.fd = open_program_file(grid.nomdescr, "w");
    // Flushed so that it is kept as written even if the run stops before the reader
    // completes it.
    const bool written = grid.fd != nullptr &&
                         write_descriptor_head(grid.fd, grid.lines, grid.columns,
                                               raster_bytes_per_sample(grid.itype)) &&
                         std::fflush(grid.fd) == 0;
    if (!written) {
        const int error = errno;
        std::printf("\n\tWarning: the descriptor %s cannot be created (%s); the run goes on "
                    "with the answers given.\n",
                    grid.nomdescr.c_str(), std::strerror(error));
        // Nothing half-written is left to stop later runs on this grid.
        if (grid.fd != nullptr) {
            std::fclose(grid.fd);
            grid.fd = nullptr;
            remove_program_file(grid.nomdescr);
        }
    }
}

bool sample_file_short(const input_grid &grid)
{
    unsigned long long size = 0;
    return open_file_size(grid.f, &size) &&
           size < sample_file_bytes(grid.lines, grid.columns, grid.itype);
}

void open_raster_grid(input_grid &grid)
{
    grid.itype = ask_menu({SAMPLE_TYPE_MENU}, 1);
    grid.nomdescr = grid.nomim + raster_descriptor_suffix(grid.itype);
    grid.nomim += raster_sample_suffix(grid.itype);
    grid.f = open_program_file(grid.nomim, "rb");
    if (grid.f == nullptr)
        stop_with_message("\n\tFile %s unknown\n", grid.nomim.c_str());
    const bool described = read_existing_descriptor(grid);
    if (!described)
        ask_descriptor_counts(grid);
    // The first grid's counts fix the frame, and with it the memory of the whole run. A
    // sample file too short for its counts is refused by the reader, more to the point.
    if (!grid.second && !sample_file_short(grid))
        prepare_grid_memory();
    if (!described)
        create_descriptor(grid);
    // A second grid of another frame is refused before anything of it is read.
    check_second_frame(grid);
    while (grid.pix_size <= 0)
        grid.pix_size = ask_int(PIXEL_SIZE_QUESTION);
    grid.dpix = grid.pix_size;
    grid.raster_reader();
    grid.corner_ok = 0;
}

void open_ascii_grid(input_grid &grid)
{
    grid.nomim += ".asc";
    grid.f = open_program_file(grid.nomim, "r");
    if (grid.f == nullptr)
        stop_with_message("\n\tFile %s unknown\n", grid.nomim.c_str());
    grid.ascii_reader();
    grid.corner_ok = 1;
}

void open_input_grid(input_grid &grid)
{
    grid.nomim = working_folder + ask_name(grid.name_question);
    grid.format = ask_menu({FORMAT_MENU}, 1);
    if (grid.format == 1)
        open_raster_grid(grid);
    else
        open_ascii_grid(grid);
    std::printf(grid.summary_heading, grid.nomim.c_str());
    std::printf("\n\t            %d LINES", grid.lines);
    std::printf("\n\t        AND %d COLUMNS\n", grid.columns);
}

// Taken right after the grid is read: the next ASCII grid read replaces the corner.
grid_placement placement_of(const input_grid &grid)
{
    if (grid.format == 1)
        return {false, 0.0, 0.0, grid.dpix};
    return {true, X_min, Y_min, dpix_size};
}

const char *treatment_suffix(int32_t kind)
{
    static const char *const suffixes[] = {"_val_abs", "_val_neg", "_val_pos"};
    return kind >= 0 && kind <= 2 ? suffixes[kind] : "";
}

// The output must never overwrite one of the input files.
bool output_is_input(const std::string &output_path)
{
    std::string inputs[] = {nomim1, format_dem1 == 1 ? nomdescr1 : std::string(), nomim2,
                            format_dem2 == 1 ? nomdescr2 : std::string()};
    for (const std::string &input : inputs)
        if (!input.empty() && same_file(output_path, input))
            return true;
    return false;
}

FILE *create_output(const std::string &path, const char *mode)
{
    FILE *fp = output_create(path, mode);
    if (fp == nullptr)
        stop_with_message("\n\tThe file %s cannot be created: %s.\n", path.c_str(),
                          std::strerror(errno));
    return fp;
}

void output_dialogue()
{
    const char *name_question = "\n\n\tName of the DEM to be created (without any extension) ? ";
    std::string nomfic1 = ask_name(name_question);
    dtab_out = dmatrice(nb_col, nb_lig);
    require_grid(dtab_out, nb_col, nb_lig);
    format_out = ask_menu({FORMAT_MENU}, 1);
    parameters();
    if (format_out == 1)
        itype_dem_out = ask_menu({SAMPLE_TYPE_MENU}, 1);

    std::string nomdescr3;
    for (;;) {
        nomim3 = working_folder + nomfic1 + treatment_suffix(type_treat);
        if (format_out == 1) {
            nomdescr3 = nomim3 + raster_descriptor_suffix(itype_dem_out);
            nomim3 += raster_sample_suffix(itype_dem_out);
        } else {
            nomim3 += ".asc";
            nomdescr3.clear();
        }
        std::string clash;
        if (output_is_input(nomim3))
            clash = nomim3;
        else if (!nomdescr3.empty() && output_is_input(nomdescr3))
            clash = nomdescr3;
        else
            break;
        std::printf("\n\tThe file %s is one of the input grids: choose another name.\n",
                    clash.c_str());
        nomfic1 = ask_name(name_question);
    }

    if (format_out == 1) {
        f3 = create_output(nomim3, "wb");
        f3d = create_output(nomdescr3, "w");
        if (!write_descriptor_head(f3d, nb_lig, nb_col, raster_bytes_per_sample(itype_dem_out)))
            stop_output_failed(f3d);
        while (pix_size3 <= 0)
            pix_size3 = ask_int(PIXEL_SIZE_QUESTION);
    } else {
        f3 = create_output(nomim3, "w");
    }
}

} // namespace

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
                           "\n\t\t2 ====> positive values\n\t\t"},
                          2);
    basis = ask_menu(
        {"\n\n\tElimination of low altitude pixels :\n\t\t0 ====> yes\n\t\t1 ====> no\n\t\t"}, 1);
    if (basis == 0)
        hypso = ask_real("\n\tHypsometric decimal value of this limit (in meters) ? ");
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

    input_grid first = {"\n\tName of the first DEM (whitout any extension) ? ",
                        nomim1, nomdescr1, format_dem1, itype_dem1, f1, f1d, nb_lig, nb_col,
                        pix_size1, dpix_size1, descr_dem1_OK, dem1_lecture, ascii_lecture1,
                        Coord_UTM_dem1_OK, "\n\n\tTHE FIRST DEM NAMED %s HAS : ", false};
    input_grid second = {"\n\n\tName of the second DEM (whitout any extension) ? ",
                         nomim2, nomdescr2, format_dem2, itype_dem2, f2, f2d, nb_lig2, nb_col2,
                         pix_size2, dpix_size2, descr_dem2_OK, dem2_lecture, ascii_lecture2,
                         Coord_UTM_dem2_OK, "\n\n\tTHE SECOND DEM NAMED %s HAS : ", true};
    open_input_grid(first);
    const grid_placement first_placement = placement_of(first);
    open_input_grid(second);
    check_second_frame(second);
    // A warning only: scripts that feed the answers keep working.
    std::fputs(alignment_warning(first_placement, placement_of(second)).c_str(), stdout);

    output_dialogue();
}
