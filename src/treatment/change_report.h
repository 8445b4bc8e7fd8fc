// The report beside a run's result: one HTML file that any browser opens, with no
// script and nothing to fetch, holding the map of the change over the terrain, the
// distribution of the change by area and by volume, the budget and the inputs.
#ifndef ORMELIX_CHANGE_REPORT_H
#define ORMELIX_CHANGE_REPORT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "treatment/change_map.h"
#include "treatment/difference.h"
#include "treatment/frame_area.h"

// A bin of the distribution a reader sees: signed change from low to high, in metres.
struct distribution_bin {
    double low, high;
    double raw_area, raw_volume;            // every cell with data
    double detected_area, detected_volume;  // the cells whose magnitude reaches the limit
};
struct change_distribution {
    double width = 0.0;      // of every bin, 1, 2 or 5 times a power of ten metres
    int32_t decimals = 0;    // that width needs
    std::vector<distribution_bin> bins;  // from the lowest change up
};
// The fine bins regrouped into at most about most_bins bins over the range of the change.
change_distribution distribution_of(const change_histogram &histogram, size_t most_bins);

// The bytes in base64, with no line breaks (as a data address holds them).
std::string base64(const std::vector<unsigned char> &bytes);

// What the report says besides its pictures.
struct change_report {
    std::string output_path;
    std::vector<budget_line> budget;  // as the console prints it
    std::vector<budget_line> inputs;  // what was read and how it was treated
    frame_geometry frame;
    double limit = 0.0;               // 0: none
    double bound = 0.0;               // magnitude at the ends of the colour ramp
    size_t factor = 1;                // cells per pixel side
    size_t image_width = 0, image_height = 0;
    double metres_per_unit = 1.0;     // on the ground, per unit of the frame's x coordinate
};
// The whole HTML text, the map being the PNG whose base64 is given.
std::string change_report_html(const change_report &report, const change_distribution &distribution,
                               const std::string &map_base64);

// The report of the run's output, NAME_report.html beside it.
std::string change_report_path();
// The report of the run, from its grids and globals.
std::string run_change_report_html();
// Makes and writes it, once the output is written.
void write_change_report();
// Tells the user where the report is.
void print_change_report_line();

#endif
