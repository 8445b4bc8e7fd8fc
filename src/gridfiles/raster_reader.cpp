#include "gridfiles/raster_reader.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "console/console.h"
#include "gridfiles/grid_memory.h"
#include "gridfiles/input_grid.h"
#include "console/progress.h"
#include "nrutil.h"
#include "globals/globals.h"
#include "globals/given_answers.h"
#include "platform/platform.h"

int32_t read_raster_samples(FILE *fp, int32_t itype, uint16_t *const *jtab, int32_t *const *itab,
                            int32_t lines, int32_t columns, integer_range *range)
{
    const size_t count = static_cast<size_t>(columns);
    *range = {0, 0};
    for (int32_t i = 0; i < lines; ++i) {
        if (itype == 0) {
            if (!read_sample_line(fp, jtab[i], count)) return i;
            widen_samples(jtab[i], itab[i], count);
        } else if (!read_sample_line(fp, itab[i], count)) {
            return i;
        }
        // The range is taken while each line is at hand.
        if (i == 0) *range = {itab[0][0], itab[0][0]};
        extend_integer_range(range, itab[i], count);
        progress_to(static_cast<double>(i + 1) / lines);
    }
    return lines;
}

metre_range convert_grid_to_metres(int32_t *const *itab, double *const *dtab, int32_t lines, int32_t columns,
                                   int32_t unit)
{
    const size_t count = static_cast<size_t>(columns);
    metre_range metres = {0.0, 0.0};
    for (int32_t i = 0; i < lines; ++i) {
        convert_line_to_metres(itab[i], dtab[i], count, unit);
        if (i == 0) metres = {dtab[0][0], dtab[0][0]};
        extend_metre_range(&metres, dtab[i], count);
    }
    return metres;
}

namespace {

// The globals one reader works on: the first grid's or the second grid's.
struct raster_input {
    FILE **samples;
    FILE **descriptor;
    double ***grid;
    int32_t itype;
    int32_t descriptor_ok;
    double pixel_size;
    int32_t *unit;
    const std::string *path;
    const std::string *descriptor_path;
    bool first_grid;  // the two range headings differ by a line break
};

// A short file would leave lines of zeros that look like real altitudes.
void check_sample_file_size(const raster_input &in)
{
    unsigned long long size = 0;
    const unsigned long long needed = sample_file_bytes(nb_lig, nb_col, in.itype);
    if (open_file_size(*in.samples, &size) && size < needed)
        stop_with_message("\n\tThe file %s holds %llu bytes; %d lines of %d columns need %llu.\n",
                          in.path->c_str(), size, nb_lig, nb_col, needed);
}

[[noreturn]] void stop_on_short_read(const raster_input &in, int32_t line)
{
    stop_with_message("\n\tThe file %s could not be read: line %d of its %d lines is incomplete.\n",
                      in.path->c_str(), line + 1, nb_lig);
}

// The samples go into the 32-bit grid, whole or the run stops.
int32_t **read_samples(const raster_input &in, integer_range *range)
{
    uint16_t **jtab = nullptr;
    if (in.itype == 0) {
        jtab = usmatrice(nb_col, nb_lig);
        require_grid(jtab, nb_col, nb_lig);
    }
    int32_t **itab = imatrice(nb_col, nb_lig);
    require_grid(itab, nb_col, nb_lig);
    const int32_t complete = read_raster_samples(*in.samples, in.itype, jtab, itab, nb_lig, nb_col, range);
    if (complete < nb_lig) stop_on_short_read(in, complete);
    if (jtab != nullptr) frusmatrice(jtab, nb_lig);
    return itab;
}

// A descriptor the dialogue created holds three lines until the range is known. One
// the dialogue could not create was reported there.
void complete_descriptor(const raster_input &in, const integer_range &range)
{
    FILE *fd = *in.descriptor;
    if (fd == nullptr) return;
    *in.descriptor = nullptr;
    bool written = write_descriptor_tail(fd, range.min, range.max, truncate_to_int32(in.pixel_size));
    if (fclose(fd) != 0) written = false;
    if (!written)
        printf("\n\tWarning: the descriptor %s could not be completed; the grid is read all the same. ",
               in.descriptor_path->c_str());
}

void raster_lecture(const raster_input &in)
{
    check_sample_file_size(in);
    *in.grid = dmatrice(nb_col, nb_lig);
    require_grid(*in.grid, nb_col, nb_lig);

    integer_range range = {0, 0};
    int32_t **itab = read_samples(in, &range);
    fclose(*in.samples);
    *in.samples = nullptr;

    if (in.first_grid)
        printf("\n\n\tHypsometric dynamic scale:\n\t\tMin = %d\n\t\tMax = %d ", range.min, range.max);
    else
        printf("\n\tHypsometric dynamic scale:\n\t\tMin = %d\n\t\tMax = %d ", range.min, range.max);
    // From the command line the unit is given (--first-unit, --second-unit).
    if (!answers.given)
        *in.unit = ask_menu({"\n\n\tAre these values\n\t\t0 ====> in meters",
                             "\n\t\t1 ====> in decimeters\n\t\t2 ====> in centimeters",
                             "\n\t\t3 ====> in millimeters\n\t\t"},
                            3);

    const metre_range metres = convert_grid_to_metres(itab, *in.grid, nb_lig, nb_col, *in.unit);
    printf("\n\tFloat Hypsometric dynamic scale:\n\t\tMin = %lf\n\t\tMax = %lf ", metres.min, metres.max);

    if (in.descriptor_ok == 0) complete_descriptor(in, range);
    frimatrice(itab, nb_lig);
}

}  // namespace

void dem1_lecture()
{
    raster_lecture({&f1, &f1d, &dtab_dem1, itype_dem1, descr_dem1_OK, dpix_size1, &dyn_scale_dem1, &nomim1,
                    &nomdescr1, true});
}

void dem2_lecture()
{
    raster_lecture({&f2, &f2d, &dtab_dem2, itype_dem2, descr_dem2_OK, dpix_size2, &dyn_scale_dem2, &nomim2,
                    &nomdescr2, false});
}

namespace {

int32_t ask_positive(const char *question)
{
    for (;;) {
        int32_t value = ask_int(question);
        if (value > 0)
            return value;
    }
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

} // namespace

void open_raster_input(input_grid &grid)
{
    // From the command line the path, its sample type and its descriptor are given.
    if (!answers.given) {
        grid.itype = ask_menu({RASTER_SAMPLE_TYPE_MENU}, 1);
        grid.nomdescr = grid.nomim + raster_descriptor_suffix(grid.itype);
        grid.nomim += raster_sample_suffix(grid.itype);
    }
    grid.f = open_program_file(grid.nomim, "rb");
    if (grid.f == nullptr)
        stop_with_message("\n\tFile %s unknown\n", grid.nomim.c_str());
    const bool described = read_existing_descriptor(grid);
    if (!described && answers.given)
        stop_with_message("\n\tFile %s unknown: the raster pair %s needs its descriptor beside it (the "
                          "dialogue, ormelix without arguments, writes one from its answers).\n",
                          grid.nomdescr.c_str(), grid.nomim.c_str());
    if (!described)
        ask_descriptor_counts(grid);
    // The first grid's counts fix the frame, and with it the memory of the whole run. A
    // sample file too short for its counts is refused by the reader, more to the point.
    if (!grid.second && !sample_file_short(grid))
        prepare_grid_memory();
    if (!described)
        create_descriptor(grid);
    // A second grid of another frame is refused before anything of it is read.
    check_second_frame(grid, false);
    if (grid.pix_size <= 0 && answers.given)
        stop_with_message("\n\tThe descriptor %s gives no pixel size (its sixth number): write the pixel "
                          "size in metres there.\n",
                          grid.nomdescr.c_str());
    while (grid.pix_size <= 0)
        grid.pix_size = ask_int(RASTER_PIXEL_SIZE_QUESTION);
    grid.dpix = grid.pix_size;
    // A grid of its own frame (a mask, classes) is read on the run's frame, in metres: it
    // must have the first grid's counts.
    int32_t metres = 0;
    if (grid.own_frame && (grid.lines != nb_lig || grid.columns != nb_col))
        stop_frame_differs("grid", grid.nomim, grid.lines, grid.columns, nb_lig, nb_col);
    if (grid.own_frame) {
        prepare_more_grid_memory(grid.lines, grid.columns);
        raster_lecture({&grid.f, &grid.fd, &grid.dtab, grid.itype, grid.descr_ok, grid.dpix, &metres, &grid.nomim,
                        &grid.nomdescr, false});
    } else if (grid.second)
        dem2_lecture();
    else
        dem1_lecture();
    grid.corner_ok = 0;
}
