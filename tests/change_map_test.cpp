// The pass that gathers the report's map and distribution, its bins against the budget
// worked by hand, and the light of the hillshade.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "nrutil.h"
#include "treatment/change_map.h"
#include "treatment/change_report.h"
#include "treatment/frame_area.h"

namespace {

TEST(ChangeMap, TheBinsAddUpToTheBudgetOfEachSide)
{
    // first - second on 4 lines of 3 cells; the limit is 0.25 m. Changes from 5 cm to
    // 12 m widen the bins many times; the lower two lines go to the second thread.
    const double changes[4][3] = {{0.3, -0.2, 1.5}, {-7.25, 0.0, NAN}, {0.05, 12.0, -0.25}, {-0.1, 2.0, 0.0}};
    double **first = dmatrice(3, 4), **second = dmatrice(3, 4);
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 3; j++) {
            first[i][j] = 500.0 + i;
            second[i][j] = first[i][j] - changes[i][j];
        }
    frame_geometry metres;
    metres.lines = 4;
    metres.columns = 3;
    metres.cellsize = 2.0;
    frame_geometry degrees = metres;
    degrees.cellsize = 0.5;
    degrees.yll = 60.0;
    degrees.degrees = true;
    for (const frame_geometry &frame : {metres, degrees}) {
        SCOPED_TRACE(frame.degrees ? "degrees" : "metres");
        const std::vector<double> a = line_cell_areas(frame);
        const change_gathering g = gather_change(first, second, 4, 3, a, 0.25, 1600);
        const change_distribution d = distribution_of(g.histogram, 60);
        // Worked by hand, line by line. Detected, first above: 0.3, 1.5 | 12.0 | 2.0;
        // first below: 7.25 | 0.25 (the limit is kept). Raw adds 0 | 0.05 | 0 above and
        // 0.2 | - | 0.1 below; the cell without data has no change.
        const double above_area = a[0] * 2 + a[2] + a[3], above_volume = a[0] * 1.8 + a[2] * 12.0 + a[3] * 2.0;
        const double below_area = a[1] + a[2], below_volume = a[1] * 7.25 + a[2] * 0.25;
        const double raw_above_area = a[0] * 2 + a[1] + a[2] * 2 + a[3] * 2;
        const double raw_above_volume = above_volume + a[2] * 0.05;
        const double raw_below_area = a[0] + a[1] + a[2] + a[3];
        const double raw_below_volume = below_volume + a[0] * 0.2 + a[3] * 0.1;
        double sums[8] = {};
        for (const distribution_bin &b : d.bins) {
            const int side = b.high <= 0.0 ? 4 : 0;
            const double parts[4] = {b.detected_area, b.detected_volume, b.raw_area, b.raw_volume};
            for (int k = 0; k < 4; k++)
                sums[side + k] += parts[k];
            // Every bin is a whole number of the stated width from 0.
            EXPECT_NEAR(std::remainder(b.low, d.width), 0.0, 1e-9);
            EXPECT_NEAR(b.high - b.low, d.width, 1e-9);
        }
        const double expected[8] = {above_area,     above_volume,     raw_above_area, raw_above_volume,
                                    below_area,     below_volume,     raw_below_area, raw_below_volume};
        for (int k = 0; k < 8; k++)
            EXPECT_NEAR(sums[k], expected[k], 1e-9 * expected[k]) << k;
        // 19.25 m of range in at most 60 bins: 0.5 m wide, from -7.5 to 12.5 m.
        EXPECT_EQ(d.width, 0.5);
        EXPECT_DOUBLE_EQ(d.bins.front().low, -7.5);
        EXPECT_DOUBLE_EQ(d.bins.back().high, 12.5);
        // The map: the change shown, 0 under the limit, none without data.
        EXPECT_FLOAT_EQ(g.pixels.change[0], 0.3f);
        EXPECT_FLOAT_EQ(g.pixels.change[1], 0.0f);
        EXPECT_FLOAT_EQ(g.pixels.change[8], -0.25f);  // a change of the limit itself is shown
        EXPECT_TRUE(std::isnan(g.pixels.change[5]));
        EXPECT_FLOAT_EQ(g.pixels.elevation[5], 501.0f);
    }
    frdmatrice(first, 4);
    frdmatrice(second, 4);
}

TEST(ChangeMap, APixelIsTheMeanOfTheCellsItCovers)
{
    // 5 x 7 cells in blocks of 2: 3 x 4 pixels, the last row and column of one cell.
    double **first = dmatrice(7, 5), **second = dmatrice(7, 5);
    for (int i = 0; i < 5; i++)
        for (int j = 0; j < 7; j++) {
            first[i][j] = 10.0 * i + j;
            second[i][j] = first[i][j] - (j == 0 ? 1.0 : 0.0);
        }
    second[0][1] = NAN;
    const change_gathering g = gather_change(first, second, 5, 7, std::vector<double>(5, 1.0), 0.0, 4);
    EXPECT_EQ(g.pixels.factor, 2u);
    EXPECT_EQ(g.pixels.rows, 3u);
    EXPECT_EQ(g.pixels.columns, 4u);
    // Pixel (0, 0): changes 1, none, 1, 0; elevations 0, 1, 10, 11.
    EXPECT_FLOAT_EQ(g.pixels.change[0], 2.0f / 3.0f);
    EXPECT_FLOAT_EQ(g.pixels.elevation[0], 5.5f);
    // Pixel (2, 3): the one cell (4, 6).
    EXPECT_FLOAT_EQ(g.pixels.elevation[11], 46.0f);
    frdmatrice(first, 5);
    frdmatrice(second, 5);
}

TEST(ChangeMap, TheLightOfFlatGroundOfASlopeAndTheGroundDistancesOfDegrees)
{
    pixel_spacing metres = {{10.0, 10.0, 10.0}, {10.0, 10.0, 10.0}};
    // Flat: 255 sin 45. Rising 10 m a pixel eastwards, facing west: the normal
    // (-1, 0, 1)/sqrt 2 against the sun (-1/2, 1/2, 1/sqrt 2): (1/2 + 1/sqrt 2)/sqrt 2.
    // A missing neighbour, or one beyond the edge, continues the slope.
    const std::vector<float> flat(9, 100.0f);
    const std::vector<float> slope = {NAN, 10, 20, 0, 10, 20, 0, 10, 20};
    EXPECT_EQ(hillshade(flat, 3, 3, metres)[4], 180);
    const std::vector<uint8_t> lit = hillshade(slope, 3, 3, metres);
    EXPECT_EQ(lit[4], 218);
    EXPECT_EQ(lit[3], 218);
    EXPECT_EQ(lit[0], 0);

    // On the equator one degree is 111319.491 m of longitude (a pi / 180) and
    // 110574.276 m of latitude (a (1 - e^2) pi / 180).
    frame_geometry equator;
    equator.lines = 2;
    equator.columns = 2;
    equator.yll = -1.0;
    equator.cellsize = 1.0;
    equator.degrees = true;
    const pixel_spacing spacing = ground_spacing(equator, 1, 2);
    EXPECT_NEAR(spacing.x[0], 111319.491 * std::cos(0.5 * 3.14159265358979323846 / 180.0), 0.1);
    EXPECT_NEAR(metres_per_degree_east(0.0), 111319.491, 0.001);
    EXPECT_NEAR(metres_per_degree_north(0.0), 110574.276, 0.001);

    // Cells wider than high: a pixel of 2 x 2 cells spans two widths east, two heights
    // north (its middle at 0.5 degrees, from the top at 1 degree).
    frame_geometry wide = equator;
    wide.lines = 4;
    wide.cellsize = 1.5;
    wide.cellsize_y = 0.5;
    const pixel_spacing cells = ground_spacing(wide, 2, 2);
    EXPECT_DOUBLE_EQ(cells.x[0], 3.0 * metres_per_degree_east(0.5));
    EXPECT_DOUBLE_EQ(cells.y[0], 1.0 * metres_per_degree_north(0.5));
    wide.degrees = false;
    wide.cellsize = 30.0;
    wide.cellsize_y = 20.0;
    const pixel_spacing projected = ground_spacing(wide, 4, 1);
    EXPECT_EQ(projected.x[0], 120.0);
    EXPECT_EQ(projected.y[0], 80.0);
}

} // namespace
