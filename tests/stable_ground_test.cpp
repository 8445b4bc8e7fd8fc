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
        for (size_t k : {size_t(0), c.count / 2 - (c.count % 2 == 0), c.count / 2, c.count / 3, c.count - 1}) {
            double before = NAN;
            EXPECT_EQ(kth_smallest(values, k, &before), sorted[k]) << k;
            if (k > 0) {
                EXPECT_EQ(before, sorted[k - 1]) << k;
            }
        }
    }
    // The value before the first of a bucket lies in the bucket below: 1.0 and 2.0 differ
    // in their leading bits.
    const std::vector<double> apart = {2.0, 1.0, 2.0, 2.0};
    double before = NAN;
    EXPECT_EQ(kth_smallest(apart, 1, &before), 2.0);
    EXPECT_EQ(before, 1.0);
}

} // namespace
