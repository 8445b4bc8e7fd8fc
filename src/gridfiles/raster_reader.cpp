#include "gridfiles/raster_reader.h"

#include <string>

#include "console/console.h"
#include "nrutil.h"
#include "ormelix/globals.h"
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
