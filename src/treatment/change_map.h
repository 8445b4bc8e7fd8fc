// The picture of a run's change: the signed change first - second gathered in one pass
// over the two grids into the pixels of a map and the bins of its distribution, then
// drawn as a diverging colour ramp over a hillshade of the first grid, as a PNG image.
#ifndef ORMELIX_CHANGE_MAP_H
#define ORMELIX_CHANGE_MAP_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "treatment/frame_area.h"

// The bins of the magnitude of the change, kept apart for each side and for the cells
// detected (magnitude at least the limit) and not, fine enough to be regrouped into the
// bins a reader sees. A bin is width_digit x 10^width_exponent metres wide; the width
// grows (x2, then x5, ...) as larger changes come, so any range fits and every width
// is a whole number of the narrower ones.
const size_t CHANGE_BINS = 1024;
enum { FIRST_ABOVE = 0, FIRST_BELOW = 1 };  // sides; no change counts with FIRST_ABOVE
// Where bin k of a side, detected or not, is kept.
inline size_t histogram_slot(size_t side, bool detected, size_t k)
{
    return (side * 2 + (detected ? 1 : 0)) * CHANGE_BINS + k;
}
const size_t HISTOGRAM_SLOTS = 4 * CHANGE_BINS;
struct change_histogram {
    int32_t width_digit = 1;
    int32_t width_exponent = -6;
    double width = 0.0, inverse_width = 0.0, coverage = 0.0;  // of a bin, and of them all
    std::vector<double> area;        // ground area of the cells of each slot (a cell whose
                                     // change is not a finite number has none)
    std::vector<double> volume;      // their magnitudes times their areas
    double largest[2] = {0.0, 0.0};  // largest magnitude on each side
};
change_histogram empty_histogram();
// Widens the bins until magnitude fits in them.
void widen_histogram(change_histogram *histogram, double magnitude);
// Adds the cells of another histogram.
void merge_histograms(change_histogram *into, const change_histogram &part);
// The magnitude under which that fraction of the detected area lies, 0 when nothing
// is detected.
double detected_percentile(const change_histogram &histogram, double fraction);

// The map's pixels, line 0 at the top: each the mean of the cells it covers, a block of
// factor x factor cells (fewer at the right and bottom edges), NaN where none has data.
struct change_pixels {
    size_t rows = 0, columns = 0, factor = 1;
    std::vector<float> change;     // first - second, 0 where its magnitude is under the limit
    std::vector<float> elevation;  // of the first grid
};
// The smallest block side that gives at most longest_side pixels on the long side.
size_t downsampling_factor(int32_t lines, int32_t columns, size_t longest_side);

struct change_gathering {
    change_pixels pixels;
    change_histogram histogram;
};
// The standard deviations of the cells of both grids (rows of the grid, from line 0; a
// uniform one as rows that are all one line) and the factor t of a confidence level: a
// change is detected where its magnitude is at least t times the root sum of their
// squares.
struct cell_errors {
    double *const *first;
    double *const *second;
    double t;
};

// One pass over both grids, on two threads when it can have them. line_areas holds a
// cell's ground area for each line; changes of a magnitude under limit (or, with errors,
// under their own cell's limit) count as none.
// before_line, when given, is called on each line just before it is gathered, on the
// thread that gathers it (half 0 or 1, each half of the lines in order): other work on
// the same line then finds it in the processor's cache.
using line_work = std::function<void(size_t half, size_t line)>;
change_gathering gather_change(double *const *first, double *const *second, int32_t lines, int32_t columns,
                               const std::vector<double> &line_areas, double limit, size_t longest_side,
                               const line_work &before_line = line_work(), const cell_errors *errors = nullptr);
// The same pass a band of lines at a time, for a frame worked in bands: started with the
// arguments of gather_change (the grids' line tables, which hold each band's lines when it
// is gathered), then each band in order, whose lines must end on a row of the map's
// pixels (gathering_row_lines of them) but for the last; the figures are those of the
// whole pass, whatever the bands.
struct change_gatherer;
std::shared_ptr<change_gatherer> start_gathering(double *const *first, double *const *second, int32_t lines,
                                                 int32_t columns, const std::vector<double> &line_areas,
                                                 double limit, size_t longest_side, const line_work &before_line,
                                                 const cell_errors *errors);
size_t gathering_row_lines(const change_gatherer &gatherer);
void gather_band(change_gatherer *gatherer, int32_t first_line, int32_t end_line);
change_gathering finish_gathering(change_gatherer *gatherer);

// The ground distance in metres between the centres of two neighbouring pixels of each
// row, along the row (x) and down the columns (y); for a frame in degrees, on the WGS 84
// ellipsoid at the latitude of the row.
struct pixel_spacing {
    std::vector<double> x, y;
};
pixel_spacing ground_spacing(const frame_geometry &frame, size_t factor, size_t rows);
// Metres on the ground per unit of the frame's x coordinate, at its middle line.
double ground_metres_per_unit(const frame_geometry &frame);

struct rgb {
    uint8_t r, g, b;
};
inline bool operator==(const rgb &a, const rgb &b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

// The light on each pixel of a grid of elevations in metres, 0 to 255 (flat ground gets
// 255 sin 45 degrees): sun at 315 degrees azimuth and 45 degrees altitude, slopes from
// the eight neighbours at their ground distances (a missing one continues the slope
// from the one opposite, or is level with the pixel). 0 where the pixel has no elevation.
std::vector<uint8_t> hillshade(const std::vector<float> &elevation, size_t rows, size_t columns,
                               const pixel_spacing &spacing);

// The diverging ramp, value -1 (first grid far below the second: deep blue) through 0
// (white) to 1 (far above: deep red); beyond, the end colours.
rgb ramp_colour(double value);
// The map's RGB pixels, row after row: each pixel's change as a fraction of bound,
// coloured, and darkened by its light so that the terrain reads under the colours;
// pixels without data in NO_DATA_COLOUR, which no other has.
extern const rgb NO_DATA_COLOUR;
std::vector<unsigned char> map_colours(const change_pixels &pixels, const std::vector<uint8_t> &light, double bound);

// A PNG of RGB pixels (3 bytes each, row after row, the top first); the colour
// transparent, when given, is marked transparent. Empty when the image cannot be made.
std::vector<unsigned char> encode_png_rgb(size_t width, size_t height, const unsigned char *pixels,
                                          const rgb *transparent);

#endif
