#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "coregister/coregister.h"
#include "regrid/frame_step.h"
#include "e2e_support.h"
#include "text/number_text.h"

namespace {

const double PI = 3.14159265358979323846;

// A grid of doubles the kernels can view.
struct test_grid {
    int32_t lines = 0, columns = 0;
    std::vector<double> values;
    std::vector<double *> rows;
    test_grid(int32_t l, int32_t c) : lines(l), columns(c), values(static_cast<size_t>(l) * c), rows(l)
    {
        for (int32_t i = 0; i < l; i++)
            rows[i] = values.data() + static_cast<size_t>(i) * c;
    }
    test_grid(const test_grid &other) : test_grid(other.lines, other.columns) { values = other.values; }
    double &at(int32_t i, int32_t j) { return rows[i][j]; }
    grid_view view() const { return {rows.data(), lines, columns}; }
};

// Hills and valleys facing every way: slopes of a few degrees to about 30.
double hills(double x, double y)
{
    return 300.0 + 60.0 * std::sin(x / 230.0) * std::cos(y / 170.0) + 25.0 * std::sin((x + 2.0 * y) / 410.0) +
           8.0 * std::cos((3.0 * x - y) / 95.0);
}

// A small noise of surveys, the same on every run: uniform in [-amplitude, amplitude].
double noise(int32_t i, int32_t j, double amplitude)
{
    uint64_t z = static_cast<uint64_t>(i) * 1000003u + static_cast<uint64_t>(j) + 12345u;
    z = (z ^ (z >> 33)) * 0xff51afd7ed558ccdULL;
    z = (z ^ (z >> 33)) * 0xc4ceb9fe1a85ec53ULL;
    z ^= z >> 33;
    return amplitude * (2.0 * static_cast<double>(z >> 11) / 9007199254740992.0 - 1.0);
}

std::string data(const std::string &name)
{
    return std::string(ORMELIX_SOURCE_DIR) + "/tests/data/" + name;
}

// The test's own bilinear: the value of grid at a position in cells (column, line).
double bilinear(const test_grid &g, double u, double v)
{
    const int32_t c = static_cast<int32_t>(std::floor(u)), l = static_cast<int32_t>(std::floor(v));
    if (c < 0 || l < 0 || c + 1 >= g.columns || l + 1 >= g.lines)
        return NAN;
    const double fu = u - c, fv = v - l;
    return (1 - fv) * ((1 - fu) * g.rows[l][c] + fu * g.rows[l][c + 1]) +
           fv * ((1 - fu) * g.rows[l + 1][c] + fu * g.rows[l + 1][c + 1]);
}

} // namespace

// Second epochs of an analytic surface, the shift planted exactly (the surface taken at
// moved positions, no resampling), with noise, a slide the outliers must leave aside,
// cells not square; each found within 0.05 cell, 0.02 m, the plane within 10 %.
TEST(Coregister, RecoversPlantedShiftsOffsetsAndPlanes)
{
    const struct {
        const char *name;
        coregister_method method;
        double east, north, up;      // cells, cells, metres
        double plane_east, plane_north;  // metres per metre
        bool slide;
    } cases[] = {
        {"aligned", coregister_shift, 0.0, 0.0, 0.0, 0, 0, false},
        {"east and north", coregister_shift, 0.41, 0.27, 0.8, 0, 0, false},
        {"west and south, a slide", coregister_shift, -0.63, -0.35, -1.5, 0, 0, true},
        {"more than a cell", coregister_shift, 1.7, -1.2, 0.3, 0, 0, false},
        {"a tilt", coregister_tilt, 0.3, -0.45, 0.5, 4e-4, -2.5e-4, true},
        {"vertical only", coregister_vertical, 0.0, 0.0, 2.5, 0, 0, true},
    };
    const int32_t lines = 240, columns = 200;
    const coregister_frame frame{lines, columns, 10.0, 8.0, false, 0.0};
    const double centre_x = 0.5 * (columns - 1) * frame.dx, centre_y = 0.5 * (lines - 1) * frame.dy;
    test_grid first(lines, columns);
    for (int32_t i = 0; i < lines; i++)
        for (int32_t j = 0; j < columns; j++)
            first.at(i, j) = hills(j * frame.dx, (lines - 1 - i) * frame.dy) + noise(i, j, 0.1);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        test_grid second(lines, columns);
        const double east_m = c.east * frame.dx, north_m = c.north * frame.dy;
        for (int32_t i = 0; i < lines; i++)
            for (int32_t j = 0; j < columns; j++) {
                const double x = j * frame.dx, y = (lines - 1 - i) * frame.dy;
                // What the first shows at x, the second shows at x + east.
                double z = hills(x - east_m, y - north_m) + c.up + c.plane_east * (x - centre_x) +
                           c.plane_north * (y - centre_y) + noise(j, i, 0.1);
                if (c.slide && i > 60 && i < 110 && j > 40 && j < 100)
                    z += 12.0;
                second.at(i, j) = z;
            }
        coregister_settings settings;
        settings.method = c.method;
        const coregister_outcome out = coregister_grids(first.view(), second.view(), nullptr, frame, settings);
        ASSERT_EQ(out.fault.kind, coregister_fine);
        const coregistration &f = out.found;
        const double tolerance = c.east == 0.0 && c.north == 0.0 ? 0.02 : 0.05;
        EXPECT_NEAR(f.east_cells, c.east, tolerance);
        EXPECT_NEAR(f.north_cells, c.north, tolerance);
        EXPECT_NEAR(f.east_m, f.east_cells * frame.dx, 1e-9);
        EXPECT_NEAR(f.north_m, f.north_cells * frame.dy, 1e-9);
        EXPECT_NEAR(f.up_m, c.up, 0.02);
        EXPECT_TRUE(f.converged);
        EXPECT_EQ(f.stable_cells, static_cast<size_t>(lines) * columns);
        if (c.method == coregister_tilt) {
            EXPECT_NEAR(f.plane_east, c.plane_east, 0.1 * std::fabs(c.plane_east));
            EXPECT_NEAR(f.plane_north, c.plane_north, 0.1 * std::fabs(c.plane_north));
        }
        // Aligned, the stable ground keeps the noise of the two epochs and nothing more.
        EXPECT_NEAR(f.median_after_m, 0.0, 0.02);
        EXPECT_LT(f.nmad_after_m, 0.2);
        // The report's histogram: the sample after, on the axis of both, peaks at its median.
        const coregister_histogram &h = f.histogram;
        ASSERT_EQ(h.after.size(), COREGISTER_HISTOGRAM_BINS);
        size_t after = 0, peak = 0;
        for (size_t k = 0; k < h.after.size(); k++) {
            after += h.after[k];
            peak = h.after[k] > h.after[peak] ? k : peak;
        }
        EXPECT_GT(after, f.fitted_cells * 9 / 10);
        EXPECT_NEAR(h.low + (static_cast<double>(peak) + 0.5) * h.width, f.median_after_m, 1.5 * h.width);
        if (c.east == 0.0 && c.north == 0.0) {
            EXPECT_NEAR(f.median_before_m, -c.up, 0.05);
        }

        // Applied: the second, aligned, is the first again but for noise and the slide.
        test_grid aligned(lines, columns);
        fill_coregistered(second.view(), aligned.view(), f, frame, true);
        double worst = 0.0;
        for (int32_t i = 5; i < lines - 5; i++)
            for (int32_t j = 5; j < columns - 5; j++)
                if (!(c.slide && i >= 58 && i <= 112 && j >= 38 && j <= 102))
                    worst = std::max(worst, std::fabs(aligned.at(i, j) - first.at(i, j)));
        EXPECT_LT(worst, 0.35);
    }
}

// Epochs that agree to the bit leave both distributions a single value: the histogram's
// axis is then a metre centred on it, not an empty span.
TEST(Coregister, IdenticalEpochsCentreTheHistogramOnTheirOneValue)
{
    const int32_t lines = 60, columns = 50;
    const coregister_frame frame{lines, columns, 10.0, 10.0, false, 0.0};
    test_grid first(lines, columns);
    for (int32_t i = 0; i < lines; i++)
        for (int32_t j = 0; j < columns; j++)
            first.at(i, j) = hills(j * frame.dx, (lines - 1 - i) * frame.dy);
    coregister_settings settings;
    settings.method = coregister_vertical;
    const coregister_outcome out = coregister_grids(first.view(), first.view(), nullptr, frame, settings);
    ASSERT_EQ(out.fault.kind, coregister_fine);
    const coregister_histogram &h = out.found.histogram;
    EXPECT_DOUBLE_EQ(h.low, -0.5);
    EXPECT_DOUBLE_EQ(h.width * COREGISTER_HISTOGRAM_BINS, 1.0);
}

// The fit's sample: two runs give the same figures, and a sample of a tenth of the cells
// still finds the shift; a mask keeps the fit to its cells.
TEST(Coregister, SampleAndMask)
{
    const int32_t lines = 200, columns = 200;
    const coregister_frame frame{lines, columns, 5.0, 5.0, false, 0.0};
    test_grid first(lines, columns), second(lines, columns);
    std::vector<uint8_t> mask_cells(static_cast<size_t>(lines) * columns);
    std::vector<uint8_t *> mask(lines);
    for (int32_t i = 0; i < lines; i++) {
        mask[i] = mask_cells.data() + static_cast<size_t>(i) * columns;
        for (int32_t j = 0; j < columns; j++) {
            const double x = j * 5.0, y = (lines - 1 - i) * 5.0;
            first.at(i, j) = hills(2 * x, 2 * y);
            // The unmasked half moved away: only the mask's half tells the shift.
            const bool stable = j < 100;
            mask[i][j] = stable;
            second.at(i, j) = stable ? hills(2 * (x - 1.5), 2 * (y - 1.0)) : hills(2 * (x + 7.0), 2 * y) + 30.0;
            // Every tenth line of the mask without data in the first: drawn, not fitted.
            if (stable && i % 10 == 0)
                first.at(i, j) = NAN;
        }
    }
    coregister_settings settings;
    settings.sample_cells = 2000;
    // The draw ranks the mask's 20 000 cells, 100 a line; those drawn on a line without
    // data leave the sample.
    size_t drawn_with_data = 0;
    for (size_t rank : coregister_sample_ranks(20000, settings))
        drawn_with_data += (rank / 100) % 10 != 0 ? 1 : 0;
    const coregister_outcome a = coregister_grids(first.view(), second.view(), mask.data(), frame, settings);
    const coregister_outcome b = coregister_grids(first.view(), second.view(), mask.data(), frame, settings);
    ASSERT_EQ(a.fault.kind, coregister_fine);
    EXPECT_EQ(a.found.stable_cells, 18000u);
    EXPECT_EQ(a.found.fitted_cells, drawn_with_data);
    EXPECT_LT(drawn_with_data, 2000u);
    EXPECT_EQ(a.found.east_cells, b.found.east_cells);
    EXPECT_EQ(a.found.nmad_after_m, b.found.nmad_after_m);
    EXPECT_NEAR(a.found.east_cells, 0.3, 0.05);
    EXPECT_NEAR(a.found.north_cells, 0.2, 0.05);
}

// The faults come back to the caller with their counts: too few stable cells, too few
// aspects (flat ground), a shift running away.
TEST(Coregister, FaultsComeBackWithTheirCounts)
{
    const int32_t lines = 120, columns = 120;
    const coregister_frame frame{lines, columns, 10.0, 10.0, false, 0.0};
    test_grid first(lines, columns), flat(lines, columns), distant(lines, columns);
    std::vector<uint8_t> few_cells(static_cast<size_t>(lines) * columns), none_cells(few_cells.size());
    std::vector<uint8_t *> few(lines), none(lines);
    for (int32_t i = 0; i < lines; i++) {
        few[i] = few_cells.data() + static_cast<size_t>(i) * columns;
        none[i] = none_cells.data() + static_cast<size_t>(i) * columns;
        for (int32_t j = 0; j < columns; j++) {
            first.at(i, j) = hills(j * 10.0, i * 10.0);
            flat.at(i, j) = 100.0 + 0.001 * j;
            distant.at(i, j) = hills((j - 7) * 10.0, i * 10.0);
            few[i][j] = i < 10 && j < 19;  // 190 cells, 200 needed
        }
    }
    const struct {
        const char *name;
        coregister_method method;
        const test_grid *first, *second;
        const uint8_t *const *mask;
        coregister_fault_kind kind;
        size_t cells, needed;
        const char *said;
    } cases[] = {
        {"a small mask", coregister_shift, &first, &first, few.data(), coregister_too_few_cells, 190, 200,
         "190 with data in both, at least 200 needed"},
        {"an empty mask, vertical", coregister_vertical, &first, &first, none.data(), coregister_too_few_cells, 0, 1,
         "0 with data in both, at least 1 needed"},
        {"flat ground", coregister_shift, &flat, &flat, nullptr, coregister_too_few_cells, 0, 200,
         "fill 0 of the 72 aspect bins"},
        {"seven cells apart", coregister_shift, &first, &distant, nullptr, coregister_diverged, 0, 0,
         "does not converge"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        coregister_settings settings;
        settings.method = c.method;
        const coregister_outcome out = coregister_grids(c.first->view(), c.second->view(), c.mask, frame, settings);
        EXPECT_EQ(out.fault.kind, c.kind);
        EXPECT_EQ(out.fault.cells, c.cells);
        EXPECT_EQ(out.fault.cells_needed, c.needed);
        if (c.kind == coregister_diverged) {
            EXPECT_GT(out.fault.shift_cells, 5.0);
        }
        const std::string text = coregister_fault_text(out.fault, "a.tif", "b.tif");
        EXPECT_NE(text.find(c.said), std::string::npos) << text;
        EXPECT_NE(text.find("b.tif"), std::string::npos);
    }
}

// Horn's slope and aspect on planes facing each way, on metres and on degrees, against
// the lengths of a degree published for WGS 84.
TEST(Coregister, SlopeAndAspectOnTheGround)
{
    const coregister_frame equator{3, 3, 1.0, 1.0, true, -1.5};
    const coregister_frame sixty{3, 3, 1.0, 1.0, true, 58.5};
    const line_spacing at_equator = ground_spacing_of_lines(equator), at_sixty = ground_spacing_of_lines(sixty);
    EXPECT_NEAR(at_equator.east[1], 111319.49, 0.1);
    EXPECT_NEAR(at_equator.north[1], 110574.27, 0.1);
    EXPECT_NEAR(at_sixty.east[1], 55799.98, 0.1);
    EXPECT_NEAR(at_sixty.north[1], 111412.24, 0.1);

    const struct {
        double rise_east, rise_north;  // metres per metre
        double slope, aspect;          // degrees
    } planes[] = {
        {0.0, -0.1, std::atan(0.1) * 180 / PI, 0.0},    // falling north: faces north
        {-0.2, 0.0, std::atan(0.2) * 180 / PI, 90.0},   // falling east
        {0.0, 1.0, 45.0, 180.0},                         // rising north: faces south
        {0.5, 0.0, std::atan(0.5) * 180 / PI, 270.0},   // faces west
        {-0.3, -0.3, std::atan(0.3 * std::sqrt(2.0)) * 180 / PI, 45.0},
    };
    for (const auto &p : planes) {
        // Cells 30 m wide and 20 m high.
        test_grid g(3, 3);
        for (int32_t i = 0; i < 3; i++)
            for (int32_t j = 0; j < 3; j++)
                g.at(i, j) = 50.0 + p.rise_east * 30.0 * j + p.rise_north * 20.0 * (2 - i);
        const slope_aspect sa = horn_slope_aspect(g.view(), 1, 1, 30.0, 20.0);
        EXPECT_NEAR(sa.slope, p.slope, 1e-9);
        EXPECT_NEAR(sa.aspect, p.aspect, 1e-9);
        EXPECT_TRUE(std::isnan(horn_slope_aspect(g.view(), 0, 1, 30.0, 20.0).slope));
    }
}

// The aligned second grid is one bilinear of the values as read at the frame step's
// positions moved by the shift, whatever the step: the expected values from the test's
// own bilinear at the total positions. A grid resampled by the step and then again by
// the shift differs by tenths of a metre on these ripples.
TEST(Coregister, MovedOnceThroughEveryFrameStep)
{
    test_grid as_read(40, 50);
    for (int32_t i = 0; i < as_read.lines; i++)
        for (int32_t j = 0; j < as_read.columns; j++)
            as_read.at(i, j) = hills(j * 30.0, i * 30.0) + 3.0 * std::sin(j / 1.3) * std::cos(i / 1.1);
    as_read.at(20, 20) = NAN;
    const double east = 0.37, north = -0.61;
    // Result cell (i, j) lies at column c0 + j * cs, line l0 + i * ls of the grid as read.
    const double c0 = 3.5, cs = 0.8, l0 = 2.25, ls = 1.1;
    frame_plan resampled;
    resampled.kind = frames_bilinear;
    resampled.positions = {c0, cs, l0, ls};
    frame_plan carried = resampled;
    carried.kind = frames_reprojected;
    carried.carried = affine_source_positions(resampled.positions);
    frame_plan cut;
    cut.kind = frames_common_part;
    cut.second_line = 4;
    cut.second_column = 6;
    frame_plan same;
    const struct {
        const char *name;
        frame_plan plan;
        double c0, cs, l0, ls;
    } cases[] = {
        {"resampled", resampled, c0, cs, l0, ls},
        {"reprojected", carried, c0, cs, l0, ls},
        {"common part", cut, 6.0, 1.0, 4.0, 1.0},
        {"one frame", same, 0.0, 1.0, 0.0, 1.0},
    };
    for (auto c : cases) {
        SCOPED_TRACE(c.name);
        c.plan.lines = 30;
        c.plan.columns = 36;
        test_grid target(c.plan.lines, c.plan.columns);
        fill_second_moved(as_read.view(), target.view(), c.plan, east, north);
        size_t compared = 0;
        for (int32_t i = 0; i < target.lines; i++)
            for (int32_t j = 0; j < target.columns; j++) {
                const double expected =
                    bilinear(as_read, c.c0 + (j + east) * c.cs, c.l0 + (i - north) * c.ls);
                if (std::isnan(expected)) {
                    EXPECT_TRUE(std::isnan(target.at(i, j))) << i << " " << j;
                    continue;
                }
                EXPECT_NEAR(target.at(i, j), expected, 1e-9) << i << " " << j;
                compared++;
            }
        EXPECT_GT(compared, 700u);
        // No shift: the values as read themselves where the frames are one lattice.
        if (c.plan.kind == frames_common_part) {
            fill_second_moved(as_read.view(), target.view(), c.plan, 0.0, 0.0);
            EXPECT_TRUE(std::isnan(target.at(16, 14)));
            EXPECT_EQ(target.at(16, 15), as_read.at(20, 21));
        }
    }
}

// A whole session where the frame step resamples the second DEM (its cells half a cell
// out of step) and the alignment moves it: the result is the first less one bilinear of
// the second's values as read, at its cell centres moved by the shift the JSON gives.
TEST(CoregisterSession, ResampledOnceFromTheGridAsRead)
{
    const std::string root = e2e::make_root(), site = root + "/images/site/";
    const double cell = 30.0, xll = 500000.0, yll = 4000000.0;
    const int32_t lines = 90, columns = 100;
    const auto surface = [](double x, double y) {
        return hills(x, y) + 3.0 * std::sin(x / 40.0) * std::cos(y / 35.0);
    };
    // The second shows the ground 0.3 cell east and 0.2 south, on cells half a cell off.
    const double x2 = xll + 0.5 * cell, y2 = yll - 0.5 * cell, planted_east = 9.0, planted_north = -6.0;
    test_grid second(lines, columns);
    std::string first_text = text_printf("ncols %d\nnrows %d\nxllcorner %f\nyllcorner %f\ncellsize %f\n"
                                         "NODATA_value -9999\n",
                                         columns, lines, xll, yll, cell);
    std::string second_text = text_printf("ncols %d\nnrows %d\nxllcorner %f\nyllcorner %f\ncellsize %f\n"
                                          "NODATA_value -9999\n",
                                          columns, lines, x2, y2, cell);
    for (int32_t i = 0; i < lines; i++)
        for (int32_t j = 0; j < columns; j++) {
            const double x = (j + 0.5) * cell, y = (lines - i - 0.5) * cell;
            first_text += text_printf("%.9f ", surface(x, y));
            second.at(i, j) = surface(x + 0.5 * cell - planted_east, y - 0.5 * cell - planted_north);
            second_text += text_printf("%.9f ", second.at(i, j));
        }
    e2e::write_file(site + "first.asc", first_text);
    e2e::write_file(site + "second.asc", second_text);
    e2e::run_limits limits;
    limits.arguments = {"first.asc", "second.asc", "out.asc", "--coregister", "--json"};
    const e2e::run_result r = e2e::run_program(site, "", limits);
    ASSERT_EQ(r.status, 0) << r.errors;
    const nlohmann::json found = nlohmann::json::parse(r.console)["coregistration"];
    const double east = found["east_cells"].get<double>(), north = found["north_cells"].get<double>();
    const double up = found["up_m"].get<double>();
    EXPECT_NEAR(east, planted_east / cell, 0.05);
    EXPECT_NEAR(north, planted_north / cell, 0.05);

    std::istringstream out(e2e::read_file(site + "out.asc"));
    std::string key;
    double out_columns = 0, out_lines = 0, out_xll = 0, out_yll = 0, out_cell = 0, nodata = 0;
    for (double *value : {&out_columns, &out_lines, &out_xll, &out_yll, &out_cell, &nodata})
        out >> key >> *value;
    size_t compared = 0;
    double worst = 0.0;
    for (int32_t i = 0; i < static_cast<int32_t>(out_lines); i++)
        for (int32_t j = 0; j < static_cast<int32_t>(out_columns); j++) {
            double change = 0.0;
            out >> change;
            const double x = out_xll + (j + 0.5 + east) * cell;
            const double y = out_yll + (out_lines - i - 0.5 + north) * cell;
            const double expected_second = bilinear(second, (x - x2) / cell - 0.5, (y2 + lines * cell - y) / cell - 0.5);
            if (std::isnan(expected_second) || change == nodata)
                continue;
            const double first_value = surface(x - east * cell - xll, y - north * cell - yll);
            worst = std::max(worst, std::fabs(change - (first_value - (expected_second - up))));
            compared++;
        }
    EXPECT_GT(compared, 7000u);
    EXPECT_LT(worst, 1e-5);
    // The report holds the alignment's table and both distributions.
    const std::string report = e2e::read_file(site + "out_report.html");
    EXPECT_NE(report.find("<h2>Alignment of the epochs</h2>"), std::string::npos);
    EXPECT_NE(report.find("<path class=\"before\""), std::string::npos);
    EXPECT_NE(report.find("<path class=\"after\""), std::string::npos);
    e2e::remove_root(root);
}

// Whole sessions of the real program on the real SRTM grid and copies whose corner is
// moved: the displacement found has the signs of the corner's move, a move by whole
// cells leaves no change at all, and too small a stable ground stops the run with
// nothing written.
TEST(CoregisterSession, CornersMovedAsGdalWouldMoveThem)
{
    const std::string root = e2e::make_root(), site = root + "/images/site/";
    const std::string first = e2e::read_file(data("srtm_luxembourg/lux_2000.asc"));
    e2e::write_file(site + "lux_2000.asc", first);
    e2e::write_file(site + "lux_2000.prj", e2e::read_file(data("srtm_luxembourg/lux_2000.prj")));
    const struct {
        const char *name;
        double east, north, up;
        bool whole;
    } cases[] = {
        {"one cell east, one south", 1.0, -1.0, 0.5, true},
        {"fractions east and north", 0.4, 0.25, 0.5, false},
        {"fractions west and south", -0.3, -0.45, -1.0, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        e2e::write_file(site + "moved.asc", e2e::moved_grid(first, c.east, c.north, c.up));
        e2e::run_limits limits;
        limits.arguments = {"lux_2000.asc", "moved.asc", "out.asc", "--coregister"};
        if (!c.whole)
            limits.arguments.push_back("--json");
        const e2e::run_result r = e2e::run_program(site, "", limits);
        ASSERT_EQ(r.status, 0) << r.errors;
        const size_t at = r.errors.find("the second DEM lies east ");
        ASSERT_NE(at, std::string::npos) << r.errors;
        double east_m, east, north_m, north, up;
        ASSERT_EQ(std::sscanf(r.errors.c_str() + at, "the second DEM lies east %lf m (%lf cells), north %lf m (%lf "
                                                     "cells), up %lf m",
                              &east_m, &east, &north_m, &north, &up),
                  5);
        EXPECT_NEAR(east, c.east, 0.05);
        EXPECT_NEAR(north, c.north, 0.05);
        if (!c.whole) {
            // The JSON gives the same figures, beside the budget's.
            const nlohmann::json json = nlohmann::json::parse(r.console);
            EXPECT_NEAR(json["coregistration"]["east_cells"].get<double>(), east, 1e-6);
            EXPECT_NEAR(json["coregistration"]["up_m"].get<double>(), up, 1e-6);
            EXPECT_TRUE(json["coregistration"]["converged"].get<bool>());
            EXPECT_EQ(json["coregistration_converged"].get<int>(), 1);  // the budget file's column
            EXPECT_TRUE(json.contains("net_volume_m3"));
            continue;
        }
        EXPECT_NEAR(up, c.up, 0.02);
        // The grids were one: aligned, their difference is what a thousandth of a cell
        // makes on slopes of up to 100 m a cell, where a whole cell's made tens of metres.
        std::vector<double> change;
        for (const std::string &word : e2e::body_words(e2e::read_file(site + "out.asc"), 6))
            if (std::stod(word) > -9999.0) {
                change.push_back(std::fabs(std::stod(word)));
                EXPECT_LT(change.back(), 0.1) << word;
            }
        ASSERT_GT(change.size(), 1000u);
        std::nth_element(change.begin(), change.begin() + change.size() / 2, change.end());
        EXPECT_LT(change[change.size() / 2], 0.01);
    }
    std::string mask = first.substr(0, first.find("NODATA"));
    for (int32_t i = 0; i < 60; i++)
        for (int32_t j = 0; j < 60; j++)
            mask += (i > 30 && i < 35 && j > 30 && j < 40 ? "1 " : "0 ") + std::string(j == 59 ? "\n" : "");
    e2e::write_file(site + "mask.asc", mask);
    e2e::run_limits limits;
    limits.arguments = {"lux_2000.asc", "moved.asc", "few.asc", "--coregister", "tilt", "--stable", "mask.asc"};
    const e2e::run_result r = e2e::run_program(site, "", limits);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.errors.find("Too few stable cells to align the second DEM moved.asc on the first lux_2000.asc: 36 "
                            "with data in both, at least 200 needed"),
              std::string::npos)
        << r.errors;
    EXPECT_FALSE(e2e::file_exists(site + "few.asc"));
    e2e::remove_root(root);
}
