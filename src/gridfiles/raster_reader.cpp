#include "gridfiles/raster_reader.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "console/console.h"
#include "gridfiles/grid_memory.h"
#include "gridfiles/input_grid.h"
#include "console/progress.h"
#include "nrutil.h"
#include "globals/globals.h"
#include "platform/platform.h"
#include "text/number_text.h"

bool read_raster_line(FILE *fp, int32_t itype, uint16_t *narrow, int32_t *line, size_t count)
{
    if (itype != 0)
        return read_sample_line(fp, line, count);
    if (!read_sample_line(fp, narrow, count))
        return false;
    widen_samples(narrow, line, count);
    return true;
}

std::string raster_short_read_message(const std::string &path, int32_t line, int32_t lines)
{
    return text_printf("\n\tThe file %s could not be read: line %d of its %d lines is incomplete.\n", path.c_str(),
                       line + 1, lines);
}

int32_t read_raster_samples(FILE *fp, int32_t itype, uint16_t *const *jtab, int32_t *const *itab,
                            int32_t lines, int32_t columns, integer_range *range)
{
    const size_t count = static_cast<size_t>(columns);
    *range = {0, 0};
    for (int32_t i = 0; i < lines; ++i) {
        if (!read_raster_line(fp, itype, itype == 0 ? jtab[i] : nullptr, itab[i], count))
            return i;
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
    input_grid *asked;  // whose questions ask the unit, and which may be read by bands
    int32_t lines, columns;   // the run's frame, which an epoch's pair must have; a grid's own
};

// A short file would leave lines of zeros that look like real altitudes.
void check_sample_file_size(const raster_input &in)
{
    unsigned long long size = 0;
    const unsigned long long needed = sample_file_bytes(in.lines, in.columns, in.itype);
    if (open_file_size(*in.samples, &size) && size < needed)
        stop_with_message("\n\tThe file %s holds %llu bytes; %d lines of %d columns need %llu.\n",
                          in.path->c_str(), size, in.lines, in.columns, needed);
}

[[noreturn]] void stop_on_short_read(const raster_input &in, int32_t line)
{
    stop_with_message("%s", raster_short_read_message(*in.path, line, in.lines).c_str());
}

// The samples' range, each line read into the same one: the grid is read by bands.
integer_range scan_samples(const raster_input &in)
{
    const size_t columns = static_cast<size_t>(in.columns);
    std::vector<uint16_t> narrow(in.itype == 0 ? columns : 0);
    std::vector<int32_t> wide(columns);
    const std::vector<uint16_t *> jtab(static_cast<size_t>(in.lines), narrow.data());
    const std::vector<int32_t *> itab(static_cast<size_t>(in.lines), wide.data());
    integer_range range = {0, 0};
    const int32_t complete = read_raster_samples(*in.samples, in.itype, jtab.data(), itab.data(), in.lines,
                                                 in.columns, &range);
    if (complete < in.lines) stop_on_short_read(in, complete);
    return range;
}

// A raster pair read a band of lines at a time: each line read at its place in the
// sample file, in the unit asked when the grid was opened.
class raster_band_reader : public line_reader {
public:
    raster_band_reader(FILE *fp, int32_t itype, int32_t lines, int32_t columns, int32_t unit, const std::string &path)
        : fp_(fp), itype_(itype), lines_(lines), columns_(columns), unit_(unit), path_(path),
          narrow_(itype == 0 ? static_cast<size_t>(columns) : 0), wide_(static_cast<size_t>(columns))
    {
    }
    ~raster_band_reader() override { std::fclose(fp_); }
    raster_band_reader(const raster_band_reader &) = delete;
    raster_band_reader &operator=(const raster_band_reader &) = delete;

    bool read_lines(int32_t first, int32_t end, double *const *rows, std::string *fault) override
    {
        const size_t count = static_cast<size_t>(columns_);
        if (first != next_ && !seek_open_file(fp_, static_cast<int64_t>(first) * columns_ *
                                                       raster_bytes_per_sample(itype_), SEEK_SET)) {
            next_ = -1;
            *fault = raster_short_read_message(path_, first, lines_);
            return false;
        }
        for (int32_t i = first; i < end; i++) {
            if (!read_raster_line(fp_, itype_, narrow_.data(), wide_.data(), count)) {
                next_ = -1;
                *fault = raster_short_read_message(path_, i, lines_);
                return false;
            }
            convert_line_to_metres(wide_.data(), rows[i - first], count, unit_);
        }
        next_ = end;
        return true;
    }

private:
    FILE *fp_;
    int32_t itype_, lines_, columns_, unit_;
    std::string path_;
    std::vector<uint16_t> narrow_;
    std::vector<int32_t> wide_;
    int32_t next_ = -1;  // the line the file is at; -1 when not known (at its end once opened)
};

// The samples go into the 32-bit grid, whole or the run stops.
int32_t **read_samples(const raster_input &in, integer_range *range)
{
    const int32_t lines = in.lines, columns = in.columns;
    uint16_t **jtab = nullptr;
    if (in.itype == 0) {
        jtab = usmatrice(columns, lines);
        require_grid(jtab, columns, lines);
    }
    int32_t **itab = imatrice(columns, lines);
    require_grid(itab, columns, lines);
    const int32_t complete = read_raster_samples(*in.samples, in.itype, jtab, itab, lines, columns, range);
    if (complete < lines) stop_on_short_read(in, complete);
    if (jtab != nullptr) frusmatrice(jtab, lines);
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
    const bool by_bands = in.asked->by_bands;
    integer_range range = {0, 0};
    int32_t **itab = nullptr;
    if (by_bands) {
        *in.grid = nullptr;
        range = scan_samples(in);
    } else {
        *in.grid = dmatrice(in.columns, in.lines);
        require_grid(*in.grid, in.columns, in.lines);
        itab = read_samples(in, &range);
        fclose(*in.samples);
        *in.samples = nullptr;
    }

    if (in.first_grid)
        printf("\n\n\tHypsometric dynamic scale:\n\t\tMin = %d\n\t\tMax = %d ", range.min, range.max);
    else
        printf("\n\tHypsometric dynamic scale:\n\t\tMin = %d\n\t\tMax = %d ", range.min, range.max);
    *in.unit = in.asked->ask->unit(*in.asked);

    metre_range metres;
    if (by_bands) {
        // The same product of each sample, and one that keeps the order of the samples:
        // the smallest and largest metres are those of the smallest and largest samples.
        const int32_t ends[2] = {range.min, range.max};
        double converted[2];
        convert_line_to_metres(ends, converted, 2, *in.unit);
        metres = {converted[0], converted[1]};
    } else {
        metres = convert_grid_to_metres(itab, *in.grid, in.lines, in.columns, *in.unit);
    }
    printf("\n\tFloat Hypsometric dynamic scale:\n\t\tMin = %lf\n\t\tMax = %lf ", metres.min, metres.max);

    if (in.descriptor_ok == 0) complete_descriptor(in, range);
    if (by_bands) {
        in.asked->reader.reset(new raster_band_reader(*in.samples, in.itype, in.lines, in.columns, *in.unit, *in.path));
        *in.samples = nullptr;
    } else {
        frimatrice(itab, in.lines);
    }
}

}  // namespace

void dem1_lecture()
{
    raster_lecture({&f1, &f1d, &dtab_dem1, itype_dem1, descr_dem1_OK, dpix_size1, &dyn_scale_dem1, &nomim1,
                    &nomdescr1, true, &first_input(), nb_lig, nb_col});
}

void dem2_lecture()
{
    raster_lecture({&f2, &f2d, &dtab_dem2, itype_dem2, descr_dem2_OK, dpix_size2, &dyn_scale_dem2, &nomim2,
                    &nomdescr2, false, &second_input(), nb_lig, nb_col});
}

namespace {

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
        std::printf("\n\tWarning: the descriptor %s cannot be created (%s); the run goes on with the answers "
                    "given.\n",
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
    grid.frame = grid_frame();
    grid.f = open_program_file(grid.nomim, "rb");
    if (grid.f == nullptr)
        stop_with_message("\n\tFile %s unknown\n", grid.nomim.c_str());
    const bool described = read_existing_descriptor(grid);
    if (!described) {
        grid.descr_ok = 0;
        grid.ask->missing_descriptor(grid);
    }
    // The first grid's counts fix the frame, and with it the memory of the whole run. A
    // sample file too short for its counts is refused by the reader, more to the point.
    choose_band_reading(grid, grid.lines, grid.columns);
    if (!grid.second && !grid.by_bands && !sample_file_short(grid))
        prepare_grid_memory();
    if (!described)
        create_descriptor(grid);
    // A second grid of another frame is refused before anything of it is read.
    check_second_frame(grid, false);
    if (grid.pix_size <= 0)
        grid.pix_size = grid.ask->pixel_size(grid);
    grid.dpix = grid.pix_size;
    // A grid of its own frame (a mask, classes) is read in metres: it must have the
    // counts of the cells it lies on.
    int32_t metres = 0;
    if (grid.own_frame && (grid.lines != grid.own_frame->lines || grid.columns != grid.own_frame->columns))
        stop_frame_differs("grid", grid.nomim, grid.lines, grid.columns, grid.own_frame->lines,
                           grid.own_frame->columns);
    if (grid.own_frame) {
        if (!grid.by_bands)
            prepare_more_grid_memory(grid.lines, grid.columns);
        raster_lecture({&grid.f, &grid.fd, &grid.dtab, grid.itype, grid.descr_ok, grid.dpix, &metres, &grid.nomim,
                        &grid.nomdescr, false, &grid, grid.lines, grid.columns});
    } else if (grid.second)
        dem2_lecture();
    else
        dem1_lecture();
    grid.corner_ok = 0;
    grid.frame.lines = grid.lines;
    grid.frame.columns = grid.columns;
    grid.frame.dx = grid.frame.dy = grid.dpix;
}
