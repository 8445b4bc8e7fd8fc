// Where two frames' result lies, and the kernels that bring a grid onto other cells,
// on cases worked by hand.
#include "regrid/frame_step.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// 10 lines by 20 columns of 30 m cells, lower-left corner 1000 2000.
const grid_frame FIRST = {true, 10, 20, 1000.0, 2000.0, 30.0, 30.0};

grid_frame frame(int32_t lines, int32_t columns, double xll, double yll, double dx, double dy)
{
    return {true, lines, columns, xll, yll, dx, dy};
}

// Rows of a small grid, for the kernels.
struct small_grid {
    std::vector<std::vector<double>> rows;
    std::vector<double *> lines;
    small_grid(int32_t lines_count, int32_t columns, double fill = 0.0)
        : rows(static_cast<size_t>(lines_count), std::vector<double>(static_cast<size_t>(columns), fill))
    {
        for (auto &row : rows)
            lines.push_back(row.data());
    }
    grid_view view() { return {lines.data(), static_cast<int32_t>(rows.size()), static_cast<int32_t>(rows[0].size())}; }
};

} // namespace

TEST(FrameStep, PlacesTheResultOnTheFirstGridsCells)
{
    const struct {
        const char *what;
        grid_frame second;
        frame_step_kind kind;
        int32_t lines, columns, first_line, first_column, second_line, second_column;
        double xll, yll;
    } cases[] = {
        {"one frame", FIRST, frames_same, 10, 20, 0, 0, 0, 0, 1000, 2000},
        {"one frame, corner 1/2000 cell off", frame(10, 20, 1000.015, 1999.985, 30, 30), frames_same, 10, 20, 0, 0, 0,
         0, 1000, 2000},
        // 5 columns east, 2 lines north: the first's columns 5-19, lines 0-7; the
        // second's columns 0-14, lines 2-9.
        {"whole cells apart", frame(10, 20, 1150, 2060, 30, 30), frames_common_part, 8, 15, 0, 5, 2, 0, 1150, 2060},
        {"a part inside", frame(3, 4, 1060, 2090, 30, 30), frames_common_part, 3, 4, 4, 2, 0, 0, 1060, 2090},
        {"around the first", frame(30, 40, 700, 1700, 30, 30), frames_common_part, 10, 20, 0, 0, 10, 10, 1000, 2000},
        {"sizes 0.5 ppm apart", frame(10, 20, 1030, 2000, 30 * (1 + 5e-7), 30 * (1 + 5e-7)), frames_common_part, 10,
         19, 0, 1, 0, 0, 1030, 2000},
        {"side by side, no overlap", frame(10, 20, 1600, 2000, 30, 30), frames_apart, 0, 0, 0, 0, 0, 0, 0, 0},
        {"corner to corner", frame(10, 20, 1600, 2300, 30, 30), frames_apart, 0, 0, 0, 0, 0, 0, 0, 0},
        // Half a cell east: the first's centres from 1015 m on; the first column's lies
        // on the second's edge, and belongs to the result.
        {"half a cell east", frame(10, 20, 1015, 2000, 30, 30), frames_bilinear, 10, 20, 0, 0, 0, 0, 1000, 2000},
        {"a 1/400 cell off", frame(10, 20, 1000.075, 2000, 30, 30), frames_bilinear, 10, 20, 0, 0, 0, 0, 1000, 2000},
        {"cells 1.5 times larger", frame(4, 8, 1090, 2030, 45, 45), frames_bilinear, 6, 12, 3, 3, 0, 0, 1090, 2030},
        {"cells twice as fine", frame(8, 8, 1060, 2060, 15, 15), frames_area_mean, 4, 4, 4, 2, 0, 0, 1060, 2060},
        {"twice as fine across only", frame(8, 16, 1060, 2060, 15, 30), frames_bilinear, 8, 8, 0, 2, 0, 0, 1060, 2060},
        {"out of step beyond the edge", frame(10, 20, 1610, 2000, 30, 30.5), frames_apart, 0, 0, 0, 0, 0, 0, 0, 0},
    };
    for (const auto &c : cases) {
        const frame_plan plan = plan_frame_step(FIRST, c.second);
        EXPECT_EQ(plan.kind, c.kind) << c.what;
        if (c.kind == frames_apart)
            continue;
        EXPECT_EQ(plan.lines, c.lines) << c.what;
        EXPECT_EQ(plan.columns, c.columns) << c.what;
        EXPECT_EQ(plan.first_line, c.first_line) << c.what;
        EXPECT_EQ(plan.first_column, c.first_column) << c.what;
        if (c.kind == frames_common_part) {
            EXPECT_EQ(plan.second_line, c.second_line) << c.what;
            EXPECT_EQ(plan.second_column, c.second_column) << c.what;
        }
        EXPECT_NEAR(plan.xll, c.xll, 1e-6) << c.what;
        EXPECT_NEAR(plan.yll, c.yll, 1e-6) << c.what;
    }
}

TEST(FrameStep, BilinearValuesAndTheCellsThatLackANeighbour)
{
    // A plane 2 x column + 10 x line, with one cell of no data.
    small_grid source(4, 5);
    for (int32_t i = 0; i < 4; i++)
        for (int32_t j = 0; j < 5; j++)
            source.rows[i][j] = 2.0 * j + 10.0 * i;
    source.rows[3][4] = NAN;
    small_grid target(4, 5, -1.0);
    // Half a cell right and a quarter down of each source centre.
    bilinear_fill(source.view(), target.view(), affine_source_positions({0.5, 1.0, 0.25, 1.0}));
    EXPECT_DOUBLE_EQ(target.rows[0][0], 1.0 + 2.5);
    EXPECT_DOUBLE_EQ(target.rows[2][2], 5.0 + 22.5);
    EXPECT_TRUE(std::isnan(target.rows[0][4])) << "beyond the last centre";
    EXPECT_TRUE(std::isnan(target.rows[3][0])) << "beyond the last line";
    EXPECT_TRUE(std::isnan(target.rows[2][3])) << "a neighbour without data";

    // On the centres themselves, the last column and line included, each cell's value;
    // a centre on the last column or line takes the neighbours before it.
    small_grid same(4, 5, -1.0);
    bilinear_fill(source.view(), same.view(), affine_source_positions({0.0, 1.0, 0.0, 1.0}));
    EXPECT_DOUBLE_EQ(same.rows[1][4], 18.0);
    EXPECT_DOUBLE_EQ(same.rows[3][2], 34.0);
    EXPECT_TRUE(std::isnan(same.rows[3][3]));

    // The affine path gives the same cells, with one cell size or another.
    for (const affine_positions a : {affine_positions{0.5, 1.0, 0.25, 1.0}, affine_positions{-0.5, 1.0, 0.0, 1.0},
                                     affine_positions{0.2, 0.7, -0.1, 0.8}}) {
        small_grid general(4, 5, -1.0), affine(4, 5, -2.0);
        bilinear_fill(source.view(), general.view(), affine_source_positions(a));
        bilinear_fill_affine(source.view(), affine.view(), a);
        for (size_t i = 0; i < 4; i++)
            for (size_t j = 0; j < 5; j++)
                if (std::isnan(general.rows[i][j]))
                    EXPECT_TRUE(std::isnan(affine.rows[i][j])) << a.column0 << " " << i << " " << j;
                else
                    EXPECT_NEAR(affine.rows[i][j], general.rows[i][j], 1e-12) << a.column0 << " " << i << " " << j;
    }

    // Positions per line as a caller carrying them through another system gives them.
    small_grid carried(1, 2, -1.0);
    bilinear_fill(source.view(), carried.view(), [](int32_t, int32_t count, double *u, double *v) {
        for (int32_t j = 0; j < count; j++) {
            u[j] = 1.5 + j;
            v[j] = j == 0 ? 0.5 : NAN;
        }
    });
    EXPECT_DOUBLE_EQ(carried.rows[0][0], 3.0 + 5.0);
    EXPECT_TRUE(std::isnan(carried.rows[0][1]));
}

TEST(FrameStep, AreaMeansWeighTheCellsInsideAndNeedHalfTheCell)
{
    // 4 x 6 fine cells under 2 x 3 coarse ones, two fine cells a side; the last target
    // column reaches half a coarse cell beyond the source.
    small_grid source(4, 6);
    for (int32_t i = 0; i < 4; i++)
        for (int32_t j = 0; j < 6; j++)
            source.rows[i][j] = j + 10.0 * i;
    source.rows[0][2] = NAN;
    source.rows[0][3] = NAN;
    source.rows[1][2] = NAN;
    small_grid target(2, 4, -1.0);
    area_mean_fill(source.view(), target.view(), {0.0, 2.0, 0.0, 2.0});
    EXPECT_DOUBLE_EQ(target.rows[0][0], (0 + 1 + 10 + 11) / 4.0);
    EXPECT_TRUE(std::isnan(target.rows[0][1])) << "a quarter with data";
    EXPECT_DOUBLE_EQ(target.rows[1][1], (22 + 23 + 32 + 33) / 4.0);
    EXPECT_TRUE(std::isnan(target.rows[0][3])) << "beyond the source";

    // Spans of 1.5 source cells: the cells cut by an edge weigh their part inside.
    small_grid cut(1, 1, -1.0);
    area_mean_fill(source.view(), cut.view(), {4.5, 1.5, 2.0, 1.0});
    EXPECT_DOUBLE_EQ(cut.rows[0][0], (0.5 * 24 + 1.0 * 25) / 1.5);
    // Half of the cell with data is enough.
    small_grid half(1, 1, -1.0);
    area_mean_fill(source.view(), half.view(), {1.0, 2.0, 0.0, 2.0});
    EXPECT_DOUBLE_EQ(half.rows[0][0], (1 + 11) / 2.0);
}

// The area mean has no data where the source's cells with data cover less than half of
// the target cell: n x n source cells under one target cell, k of them with data.
TEST(FrameStep, AreaMeansHaveNoDataBelowHalfCover)
{
    for (int32_t n : {2, 3, 4}) {
        for (int32_t k = 0; k <= n * n; k++) {
            SCOPED_TRACE(std::to_string(k) + " of " + std::to_string(n * n) + " cells with data");
            small_grid source(n, n, NAN);
            for (int32_t cell = 0; cell < k; cell++)
                source.rows[static_cast<size_t>(cell / n)][static_cast<size_t>(cell % n)] = 5.0;
            small_grid target(1, 1, -1.0);
            area_mean_fill(source.view(), target.view(), {0.0, double(n), 0.0, double(n)});
            if (2 * k >= n * n)
                EXPECT_DOUBLE_EQ(target.rows[0][0], 5.0);
            else
                EXPECT_TRUE(std::isnan(target.rows[0][0])) << target.rows[0][0];
        }
    }
}
