// The selection of the stable ground's median and NMAD on sets large enough to be
// narrowed by their bits, against a full sort.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "treatment/stable_ground.h"

namespace {

TEST(StableGround, KthSmallestIsTheSortedValue)
{
    std::mt19937_64 random(2026);
    std::normal_distribution<double> noise(0.0, 1.0);
    const struct {
        const char *what;
        size_t count;
        double offset, spread;  // values offset + spread x noise
    } cases[] = {
        {"a few values", 7, 0.0, 1.0},
        {"changes of both signs", 400001, 0.0, 0.5},
        // A bias of 0.35 m, a centimetre of noise: most values share their leading bits.
        {"a bias of one band of bits", 300000, 0.35, 0.01},
        {"all equal", 200000, -1.25, 0.0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<double> values(c.count);
        for (double &v : values)
            v = c.offset + c.spread * noise(random);
        values[0] = -0.0;
        std::vector<double> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        // And of the distances from a centre (the NMAD's), the values left as they are.
        const double centre = c.offset + 0.1 * c.spread;
        std::vector<double> distances = values;
        for (double &d : distances)
            d = std::fabs(d - centre);
        std::sort(distances.begin(), distances.end());
        const std::vector<double> unchanged = values;
        for (size_t k : {size_t(0), c.count / 2 - (c.count % 2 == 0), c.count / 2, c.count / 3, c.count - 1}) {
            double before = NAN, distance_before = NAN;
            EXPECT_EQ(kth_smallest(values, k, &before), sorted[k]) << k;
            EXPECT_EQ(kth_smallest(values, k, &distance_before, &centre), distances[k]) << k;
            if (k > 0) {
                EXPECT_EQ(before, sorted[k - 1]) << k;
                EXPECT_EQ(distance_before, distances[k - 1]) << k;
            }
        }
        EXPECT_EQ(values, unchanged);
    }
    // The value before the first of a bucket lies in the bucket below: 1.0 and 2.0 differ
    // in their leading bits.
    const std::vector<double> apart = {2.0, 1.0, 2.0, 2.0};
    double before = NAN;
    EXPECT_EQ(kth_smallest(apart, 1, &before), 2.0);
    EXPECT_EQ(before, 1.0);
}

TEST(StableGround, TheFiguresOfTheStableCellsAsASortWouldGiveThem)
{
    // first - second on the stable cells with data; the median of an even count is the
    // mean of its two middle values, the NMAD 1.4826 times the median of the deviations.
    const struct {
        const char *what;
        std::vector<double> change;  // NaN: no data
        std::vector<uint8_t> stable;
        double median, nmad;
    } cases[] = {
        {"an odd count", {1.0, 2.0, 3.0, 10.0, 5.0}, {1, 1, 1, 1, 1}, 3.0, 1.4826 * 2.0},
        {"an even count", {1.0, 2.0, 3.0, 10.0, 7.0}, {1, 1, 1, 1, 0}, 2.5, 1.4826 * 1.0},
        {"five values", {4.0, -1.0, 2.0, 8.0, 3.0}, {1, 1, 1, 1, 1}, 3.0, 1.4826 * 1.0},
        {"a cell without data left out", {1.0, NAN, 3.0, -6.0, 2.0}, {1, 1, 1, 1, 1}, 1.5, 1.4826 * 1.0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const int32_t columns = static_cast<int32_t>(c.change.size());
        std::vector<double> first(c.change.size(), 100.0), second(c.change.size());
        for (size_t j = 0; j < c.change.size(); j++)
            second[j] = 100.0 - c.change[j];
        double *first_rows[] = {first.data()}, *second_rows[] = {second.data()};
        std::vector<uint8_t> stable = c.stable;
        uint8_t *mask[] = {stable.data()};
        const stable_ground_figures f = stable_ground(mask, first_rows, second_rows, 1, columns);
        EXPECT_DOUBLE_EQ(f.median, c.median);
        EXPECT_DOUBLE_EQ(f.nmad, c.nmad);
    }
}

// Changes kept as floats while each is one exactly, then as doubles: those of the lines
// before are kept, in their order, and none is rounded.
TEST(StableGround, ChangesThatAreNoFloatsAfterFloatsKeepTheirValues)
{
    std::vector<double> first[] = {{0.5, -0.25, 2.0, 1.0}, {0.1, 0.3, -0.7, 1.0}};
    std::vector<double> second[] = {{0.0, 0.0, 0.0, 0.0}, {0.0, 0.0, 0.0, 0.0}};
    std::vector<uint8_t> stable[] = {{1, 1, 1, 0}, {1, 1, 1, 0}};
    double *first_rows[] = {first[0].data(), first[1].data()};
    double *second_rows[] = {second[0].data(), second[1].data()};
    uint8_t *mask[] = {stable[0].data(), stable[1].data()};
    stable_ground_sums sums;
    for (int32_t line = 0; line < 2; line++)
        add_stable_lines(mask, first_rows, second_rows, line, line + 1, 4, &sums);
    const stable_ground_figures f = finish_stable_ground(&sums);
    // Sorted: -0.7 -0.25 0.1 0.3 0.5 2.0.
    EXPECT_EQ(f.cells, 6u);
    EXPECT_EQ(f.median, 0.1 + (0.3 - 0.1) / 2.0);
    EXPECT_DOUBLE_EQ(f.mean, (0.5 - 0.25 + 2.0 + 0.1 + 0.3 - 0.7) / 6.0);
}

} // namespace

// A mask with no stable cell that has data gives the budget file empty figures, not zeros
// that would read as a stable ground without bias or error; one cell gives its figures.
TEST(StableGround, NoStableCellLeavesTheFiguresEmpty)
{
    for (size_t cells : {size_t(0), size_t(1)}) {
        stable_ground_figures figures;
        figures.cells = cells;
        const std::string values = csv_values(stable_ground_record(figures).columns);
        EXPECT_EQ(values, cells == 0 ? "0,,,," : "1,0.000000,0.000000,0.000000,0.000000") << cells;
    }
}
