#include "treatment/raster_writer.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/progress.h"
#include "gridfiles/raster_pair.h"
#include "treatment/ascii_writer.h"
#include "treatment/difference_kinds.h"
#include "nrutil.h"
#include "globals/globals.h"
#include "text/number_text.h"
#include "treatment/difference.h"
#include "treatment/frame_area.h"
#include "treatment/output_choices.h"
#include "treatment/output_space.h"

namespace {

const char *const unit_names[] = {"meters", "decimeters", "centimeters", "millimeters"};

// The output between its start and its finish: the samples of one line, the range in the
// unit chosen, the values that overflowed the samples.
struct raster_run {
    std::vector<uint16_t> short_line;
    std::vector<int32_t> long_line;
    int32_t min = 0, max = 0;
    size_t saturated = 0;
};
raster_run run;

// Each line scaled and written as it comes.
template <typename Sample>
void write_sample_lines(int32_t first, int32_t end, double *const *rows, std::vector<Sample> *line)
{
    const size_t columns = static_cast<size_t>(nb_col);
    line->resize(columns);
    for (int32_t i = first; i < end; ++i) {
        run.saturated += scale_line(rows[i - first], coef_out, line->data(), columns);
        if (!write_sample_line(f3, line->data(), columns)) stop_output_failed(f3);
        progress_to(static_cast<double>(i + 1) / nb_lig);
    }
}

// The descriptor's lines after its head.
std::string descriptor_tail_text()
{
    return text_printf("%d\n%d\n%d\n", run.min, run.max, pix_size2) +
           processing_notes(nomim1, nomim2, difference_kind_name(type_treat), basis, hypso);
}

}  // namespace

int32_t ask_output_unit(double d_min, double d_max)
{
    const bool metres_fit = largest_result_fits(d_max, 1.0, itype_dem_out) &&
                            smallest_result_fits(d_min, 1.0, itype_dem_out);
    const char *sample_name = itype_dem_out == 1 ? "32-bit" : "16-bit";
    for (;;) {
        const int32_t unit = ask_menu({"\n\n\tIn the resulting raster file, the dynamic scale will be : ",
                                       "\n\t\t0 ====> in meters",
                                       "\n\t\t1 ====> in decimeters\n\t\t2 ====> in centimeters",
                                       "\n\t\t3 ====> in millimeters\n\t\t"},
                                      3);
        const double coef = unit_coefficient(unit);
        const bool largest_fits = largest_result_fits(d_max, coef, itype_dem_out);
        if (!metres_fit || (largest_fits && smallest_result_fits(d_min, coef, itype_dem_out))) return unit;
        if (!largest_fits)
            printf("\n\tIn %s the largest result, %lf m, gives %.0lf: more than a %s sample holds (%lld). "
                   "Choose a larger unit. ",
                   unit_names[unit], d_max, std::trunc(d_max * coef), sample_name,
                   static_cast<long long>(largest_sample(itype_dem_out)));
        else
            printf("\n\tIn %s the smallest result, %lf m, gives %.0lf: less than a %s sample holds (%lld). "
                   "Choose a larger unit. ",
                   unit_names[unit], d_min, std::trunc(d_min * coef), sample_name,
                   static_cast<long long>(smallest_sample(itype_dem_out)));
    }
}

int32_t given_output_unit(int32_t unit_given, double d_min, double d_max)
{
    const auto fits = [&](int32_t unit) {
        const double coef = unit_coefficient(unit);
        return largest_result_fits(d_max, coef, itype_dem_out) && smallest_result_fits(d_min, coef, itype_dem_out);
    };
    if (unit_given < 0) {
        for (int32_t unit = 3; unit > 0; unit--)
            if (fits(unit)) return unit;
        return 0;
    }
    if (fits(unit_given) || !fits(0)) return unit_given;
    const double coef = unit_coefficient(unit_given);
    const bool largest_fits = largest_result_fits(d_max, coef, itype_dem_out);
    stop_with_message("\n\tThe output %s cannot be written in %s: its %s result, %lf m, gives %.0lf, %s than a "
                      "%s sample holds (%lld). Give a larger --unit, or leave --unit out for the finest that "
                      "holds the range.\n",
                      nomim3.c_str(), unit_names[unit_given], largest_fits ? "smallest" : "largest",
                      largest_fits ? d_min : d_max, std::trunc((largest_fits ? d_min : d_max) * coef),
                      largest_fits ? "less" : "more", itype_dem_out == 1 ? "32-bit" : "16-bit",
                      static_cast<long long>(largest_fits ? smallest_sample(itype_dem_out)
                                                          : largest_sample(itype_dem_out)));
}

int32_t ask_raster_pixel_size()
{
    for (;;) {
        const int32_t size = ask_int(RASTER_PIXEL_SIZE_QUESTION);
        if (size > 0) return size;
    }
}

std::string raster_output_refusal()
{
    const bool has_corner = Coord_UTM_dem1_OK != 0 || Coord_UTM_dem2_OK != 0;
    if (!has_corner || cells_square(dpix_size, dpix_size_y))
        return "";
    return text_printf("\n\tThe cells of these grids are not square (dx %s, dy %s), and a raster pair's "
                       "descriptor holds one pixel size: choose the ascii or the geotiff form.\n",
                       exact_real_text(dpix_size).c_str(), exact_real_text(dpix_size_y).c_str());
}

void ask_raster_output_options()
{
    for (;;) {
        itype_dem_out = ask_menu({RASTER_SAMPLE_TYPE_MENU}, 1);
        if (itype_dem_out != 0 || type_treat != TREAT_SIGNED) return;
        printf("\n\tSigned values fall below 0, which 16-bit samples cannot hold: choose 32 bits.\n");
    }
}

void raster_output_paths(const std::string &stem, std::string *samples, std::string *descriptor)
{
    *samples = stem + raster_sample_suffix(itype_dem_out);
    *descriptor = stem + raster_descriptor_suffix(itype_dem_out);
}

void create_raster_output(const std::string &samples, const std::string &descriptor)
{
    f3 = create_output_file(samples, "wb");
    f3d = create_output_file(descriptor, "w");
    if (!write_descriptor_head(f3d, nb_lig, nb_col, raster_bytes_per_sample(itype_dem_out)))
        stop_output_failed(f3d);
    // An answer no file records (the descriptor takes the second grid's pixel size).
    if (pix_size3 <= 0) pix_size3 = output_answers.pixel_size();
}

void raster_start_output(double d_min, double d_max)
{
    printf("\n\tHypsometric dynamic scale out :\n\t\tMin = %lf\n\t\tMax = %lf ", d_min, d_max);
    const int32_t dyn_scale_out = output_answers.raster_unit(d_min, d_max);
    coef_out = unit_coefficient(dyn_scale_out);
    run = raster_run();
    run.min = truncate_to_int32(d_min * coef_out);
    run.max = truncate_to_int32(d_max * coef_out);
    // The descriptor's head is written already.
    const size_t descriptor = text_printf("%d\n%d\n%d\n", nb_lig, nb_col, raster_bytes_per_sample(itype_dem_out)).size() +
                              descriptor_tail_text().size();
    require_disk_space(f3, raster_output_bytes(nb_lig, nb_col, raster_bytes_per_sample(itype_dem_out), descriptor));
}

void raster_output_lines(int32_t first, int32_t end, double *const *rows)
{
    if (itype_dem_out == 1)
        write_sample_lines(first, end, rows, &run.long_line);
    else
        write_sample_lines(first, end, rows, &run.short_line);
}

void raster_finish_output()
{
    if (run.saturated > 0)
        printf("\n\tWarning: %zu values do not fit the %s samples even in meters; "
               "they are written as the nearest sample (%lld at most). ",
               run.saturated, itype_dem_out == 1 ? "32-bit" : "16-bit",
               static_cast<long long>(largest_sample(itype_dem_out)));

    // The pixel size recorded is the second grid's, not the answer to the output's
    // pixel-size question: the result lies on the second grid's pixels.
    if (!write_descriptor_tail(f3d, run.min, run.max, pix_size2)) stop_output_failed(f3d);
    if (fputs(processing_notes(nomim1, nomim2, difference_kind_name(type_treat), basis, hypso).c_str(), f3d) < 0)
        stop_output_failed(f3d);
    run = raster_run();
    finish_output(f3);
    f3 = nullptr;
    finish_output(f3d);
    f3d = nullptr;
}

void raster_output(double d_min, double d_max)
{
    raster_start_output(d_min, d_max);
    raster_output_lines(0, nb_lig, dtab_out);
    raster_finish_output();
}

// The dialogue's questions, unless the command line put its options in their place.
output_choices output_answers = {ask_raster_pixel_size, ask_output_unit, ask_output_corner};
