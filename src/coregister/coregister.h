// The second epoch aligned on the first on stable ground. Two surveys are never exactly
// registered: on a slope a horizontal shift s makes a false change of tan(slope) * s, and
// a vertical offset the same false change everywhere. The shift is found by the method of
// Nuth and Kaab (2011): on the first grid's slopes, dh / tan(slope) varies with the aspect
// as a cosine whose amplitude and phase are the shift. Pure: grids in memory in, a typed
// record out; the caller prints it, writes it and applies it.
#ifndef ORMELIX_COREGISTER_H
#define ORMELIX_COREGISTER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "regrid/resample.h"

enum coregister_method {
    coregister_vertical,  // the median offset only
    coregister_shift,     // the horizontal shift, then the median offset
    coregister_tilt,      // the shift, a plane of the stable differences, one more shift
};
// "vertical", "shift", "tilt"; false for any other word.
bool coregister_method_named(const std::string &name, coregister_method *method);
const char *coregister_method_name(coregister_method method);

// Where the cells lie on the ground: cell width and height (metres, or degrees with
// degrees set), and for degrees the latitude of the frame's lower edge.
struct coregister_frame {
    int32_t lines = 0, columns = 0;
    double dx = 0.0, dy = 0.0;
    bool degrees = false;
    double yll = 0.0;
};
// The ground size in metres of a cell of each line (line 0 at the top): its width and
// its height; on a frame in degrees those of the WGS 84 ellipsoid at the line's latitude.
struct line_spacing {
    std::vector<double> east, north;
};
line_spacing ground_spacing_of_lines(const coregister_frame &frame);

// The slope (degrees from the horizontal) and the aspect (the way the ground faces
// downhill, degrees clockwise from north) of a cell by Horn's kernel on its eight
// neighbours, cells of east_m by north_m metres. NaN at the edge or where a neighbour
// has no data.
struct slope_aspect {
    double slope, aspect;
};
slope_aspect horn_slope_aspect(const grid_view &dem, int32_t line, int32_t column, double east_m, double north_m);

// The stable differences of the fits' sample, first - second, before the alignment and
// after it, counted in bins of one width from low; a difference outside is left out.
struct coregister_histogram {
    double low = 0.0, width = 0.0;
    std::vector<size_t> before, after;
};
constexpr size_t COREGISTER_HISTOGRAM_BINS = 60;

// The second DEM's displacement relative to the first: where the first shows a feature
// at x, y, z the second shows it at x + east, y + north, z + up (+ the plane).
struct coregistration {
    coregister_method method = coregister_shift;
    double east_m = 0.0, north_m = 0.0, up_m = 0.0;
    double east_cells = 0.0, north_cells = 0.0;
    int32_t iterations = 0;
    bool converged = true;
    size_t stable_cells = 0;  // stable cells with data in both grids
    size_t fitted_cells = 0;  // of those, the sample the fits worked on
    // Of the stable differences, first - second, as the budget gives them: before the
    // alignment and after it (of the sample).
    double median_before_m = 0.0, nmad_before_m = 0.0;
    double median_after_m = 0.0, nmad_after_m = 0.0;
    // tilt: the plane's rise in metres per metre east and north, about the frame's centre
    // (up_m is its height there).
    bool tilted = false;
    double plane_east = 0.0, plane_north = 0.0;
    coregister_histogram histogram;
};

enum coregister_fault_kind {
    coregister_fine,
    coregister_too_few_cells,  // too few stable cells (or aspect bins) to fit
    coregister_diverged,       // the shift grew beyond its bound without converging
};
struct coregister_fault {
    coregister_fault_kind kind = coregister_fine;
    size_t cells = 0, cells_needed = 0;   // too few: the cells there were and the least
    size_t bins = 0, bins_needed = 0;     // too few for the shift: the aspect bins filled
    double shift_cells = 0.0;             // diverged: how far the shift had gone
    int32_t iterations = 0;
};

struct coregister_settings {
    coregister_method method = coregister_shift;
    size_t sample_cells = 500000;          // the fits' sample of the stable cells, at most
    uint64_t seed = 0x6f726d656c6978ULL;   // of that sample: two runs give the same bytes
    int32_t max_iterations = 10;
    double converged_cells = 0.01;         // an increment below this ends the iterations
    double diverged_cells = 5.0;           // a shift beyond this, not converged, is a fault
};

// The least stable cells each fit needs: a median (vertical), and for the shift 10 of the
// 72 aspect bins holding 20 cells each.
constexpr size_t COREGISTER_BIN_CELLS = 20;
constexpr size_t COREGISTER_BINS = 10;
constexpr size_t COREGISTER_ASPECT_BINS = 72;
constexpr double COREGISTER_WARNING_CELLS = 2.0;

struct coregister_outcome {
    coregistration found;
    coregister_fault fault;
};

// The stable cells the fits work on, in the order of their lines and, in a line, of their
// columns, with what the first grid says of each.
struct coregister_sample {
    std::vector<int32_t> line, column;
    std::vector<double> first;            // the first grid's value
    std::vector<double> tan_slope;        // NaN where no slope (edge, gap)
    std::vector<int32_t> bin;             // aspect bin, -1 outside the slopes fitted
    std::vector<double> east_m, north_m;  // from the frame's centre, for the plane
    size_t size() const { return line.size(); }
};

// The sample is drawn in two steps, so that a frame read in bands draws the cells of the
// frame held whole from one reading of the epochs: the cells of the stable mask counted
// line by line (a null mask: every cell), then, their total known, the ranks drawn among
// them, and each line's cells of those ranks taken where both grids have data. The stable
// cells with data in both grids are counted besides, for the fit's least number.
size_t coregister_mask_in_line(const uint8_t *stable, int32_t columns);
size_t coregister_stable_in_line(const double *first, const double *second, const uint8_t *stable,
                                 int32_t columns);
std::vector<size_t> coregister_sample_ranks(size_t total, const coregister_settings &settings);
// Appends the cells of `line` whose ranks are drawn and which have data in both grids; its
// mask's cells are ranked from `rank` on, and *next is the index in ranks of the next rank.
void add_sample_of_line(const double *first, const double *second, const uint8_t *stable, int32_t columns,
                        int32_t line, size_t rank, const std::vector<size_t> &ranks, size_t *next,
                        coregister_sample *sample);
// Sample cell k's value, slope and aspect from the first grid, which holds the lines
// around it, and its place from the frame's centre.
void describe_sample_cell(const grid_view &first, const coregister_frame &frame, const line_spacing &spacing,
                          coregister_sample *sample, size_t k);

// The second grid's bilinear values at the sample's cells, each moved by east and north
// cells (values[k] of cell k; NaN where no value): the position of cell k being column
// + east, line - north.
using coregister_second_values = std::function<void(double east_cells, double north_cells, std::vector<double> *values)>;
// The fits on a sample of stable_count stable cells: what coregister_grids finds.
coregister_outcome coregister_sample_fit(const coregister_sample &sample, size_t stable_count,
                                         const coregister_second_values &second, const coregister_frame &frame,
                                         const coregister_settings &settings);

// Aligns second on first, both of the frame's cells; stable is null (every cell where
// both have data is stable ground) or 1 on the stable cells. The first grid gives the
// slopes and aspects.
coregister_outcome coregister_grids(const grid_view &first, const grid_view &second, const uint8_t *const *stable,
                                    const coregister_frame &frame, const coregister_settings &settings);

// The second grid aligned: each cell the bilinear value of the original second grid at
// the cell's position moved by the displacement found (one interpolation, however many
// iterations found it), less the vertical offset and the plane when `heights`; an error
// grid of the second DEM follows it with heights false.
void fill_coregistered(const grid_view &second, const grid_view &target, const coregistration &found,
                       const coregister_frame &frame, bool heights);

// The vertical part of the alignment, the offset and the plane, taken from a second grid
// already moved onto the frame.
// Of a target holding a band of lines, those lines only.
void remove_coregistered_heights(const grid_view &target, const coregistration &found, const coregister_frame &frame,
                                 target_lines band = {});

// The console's block, after the second grid's summary, and what a fault says.
std::string coregistration_text(const coregistration &found);
std::string coregister_fault_text(const coregister_fault &fault, const std::string &first_path,
                                  const std::string &second_path);


#endif
