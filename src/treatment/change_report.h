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
#include "treatment/change_budget.h"
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
    std::string test;                 // the test at a confidence level, in words ("": none)
    std::string test_short;           // the same as the charts state it
    double bound = 0.0;               // magnitude at the ends of the colour ramp
    size_t factor = 1;                // cells per pixel side
    size_t image_width = 0, image_height = 0;
    double metres_per_unit = 1.0;     // on the ground, per unit of the frame's x coordinate
    std::vector<std::vector<std::string>> classes;  // the budget per class: a header row, a row a class
    std::string sections;             // HTML sections other steps add at the end
};
// The whole HTML text, the map being the PNG whose base64 is given.
std::string change_report_html(const change_report &report, const change_distribution &distribution,
                               const std::string &map_base64);

// The report of the run's output, NAME_report.html beside it.
std::string change_report_path();
// What the report needs of the run's grids, gathered in one pass (line_areas: a cell's
// ground area for each line), before_line called on each line first (see gather_change).
change_gathering gather_run_change(const std::vector<double> &line_areas,
                                   const line_work &before_line = line_work());
// The same a band of lines at a time (see start_gathering), for epochs read in bands.
std::shared_ptr<change_gatherer> start_run_gathering(const std::vector<double> &line_areas,
                                                     const line_work &before_line);
// The map as the report embeds it: its PNG in base64, with the magnitude at the ends
// of its colour ramp. Drawn from what was gathered, whose pixels it frees as it goes,
// and the frame (for the ground distances of the hillshade); it reads no global, so
// that it can be drawn while the output is written.
struct change_picture {
    std::string png_base64;
    double bound = 1.0;
    size_t factor = 1, width = 0, height = 0;
};
change_picture draw_change_map(change_gathering *gathering, const frame_geometry &frame);
// The report of the run from what was gathered, its map, and the globals.
// budget holds the figures of the run's budget, in the console's order; sections, the
// HTML of what other steps of the run add at the end (the error model's variogram).
std::string run_change_report_html(const change_gathering &gathering, const change_picture &picture,
                                   const std::vector<budget_line> &budget, const std::string &sections = "");
// Makes and writes it, once the output is written.
void write_change_report(const change_gathering &gathering, const change_picture &picture,
                         const std::vector<budget_line> &budget, const std::string &sections = "");
// False in a build without reports (cmake -DORMELIX_REPORT=OFF), which `make bench`
// times to weigh them.
#if defined(ORMELIX_REPORT) && !ORMELIX_REPORT
constexpr bool CHANGE_REPORTS = false;
#else
constexpr bool CHANGE_REPORTS = true;
#endif
// Tells the user where the report is.
void print_change_report_line();

#endif
