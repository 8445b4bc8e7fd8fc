// The error model against figures from outside the program: fields of a planted
// spherical covariance (white noise filtered through its spectrum), the exact bounds of
// no and full correlation, the closed form of the error of a mean over a disk (Rolstad
// et al. 2009), and noise planted to grow with the slope.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <vector>

#include <nlohmann/json.hpp>

#include "error_model/correlated_error.h"
#include "error_model/correlation_figures.h"
#include "error_model/slope_sigma.h"
#include "error_model/terrain_slope.h"
#include "error_model/variogram.h"
#include "error_model/variogram_picture.h"

namespace {

const double PI = 3.14159265358979323846;

// In-place radix-2 transform of n (a power of 2) values spaced by stride.
void fft(std::complex<double> *x, size_t n, size_t stride, bool inverse)
{
    for (size_t i = 1, j = 0; i < n; i++) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(x[i * stride], x[j * stride]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const double angle = 2.0 * PI / static_cast<double>(len) * (inverse ? 1.0 : -1.0);
        const std::complex<double> step(std::cos(angle), std::sin(angle));
        for (size_t i = 0; i < n; i += len) {
            std::complex<double> w(1.0, 0.0);
            for (size_t k = 0; k < len / 2; k++) {
                const std::complex<double> u = x[(i + k) * stride], v = x[(i + k + len / 2) * stride] * w;
                x[(i + k) * stride] = u + v;
                x[(i + k + len / 2) * stride] = u - v;
                w *= step;
            }
        }
    }
}

void fft2(std::vector<std::complex<double>> &grid, size_t n, bool inverse)
{
    for (size_t r = 0; r < n; r++)
        fft(grid.data() + r * n, n, 1, inverse);
    for (size_t c = 0; c < n; c++)
        fft(grid.data() + c, n, n, inverse);
    if (inverse)
        for (auto &v : grid)
            v /= static_cast<double>(n * n);
}

// An n x n field (n a power of 2) of covariance sill x spherical(range_cells) written
// here from its formula, by filtering white noise of the seed through the square root
// of that covariance's spectrum on the torus.
std::vector<float> spherical_field(size_t n, double range_cells, double sill, uint64_t seed)
{
    std::vector<std::complex<double>> covariance(n * n), noise(n * n);
    for (size_t i = 0; i < n; i++)
        for (size_t j = 0; j < n; j++) {
            const double di = static_cast<double>(std::min(i, n - i)), dj = static_cast<double>(std::min(j, n - j));
            const double h = std::sqrt(di * di + dj * dj) / range_cells;
            covariance[i * n + j] = h >= 1.0 ? 0.0 : sill * (1.0 - 1.5 * h + 0.5 * h * h * h);
        }
    fft2(covariance, n, false);
    std::mt19937_64 random(seed);
    std::normal_distribution<double> gauss(0.0, 1.0);
    for (auto &v : noise)
        v = gauss(random);
    fft2(noise, n, false);
    for (size_t k = 0; k < n * n; k++)
        noise[k] *= std::sqrt(std::max(0.0, covariance[k].real()));
    fft2(noise, n, true);
    std::vector<float> field(n * n);
    for (size_t k = 0; k < n * n; k++)
        field[k] = static_cast<float>(noise[k].real());
    return field;
}

frame_geometry metric_frame(int32_t lines, int32_t columns, double cell_m)
{
    frame_geometry frame;
    frame.lines = lines;
    frame.columns = columns;
    frame.cellsize = cell_m;
    return frame;
}

TEST(ErrorModel, FittedVariogramFindsThePlantedRangeAndSill)
{
    const struct {
        const char *what;
        double range_cells, sill, nugget, stable_share;
    } cases[] = {
        {"a short range, all stable", 8.0, 1.0, 0.0, 1.0},
        {"a longer range, sill 2.5, 60 % stable", 20.0, 2.5, 0.0, 0.6},
        {"a nugget of a fifth", 12.0, 0.8, 0.2, 1.0},
    };
    const size_t n = 512;
    const double cell_m = 2.0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<float> field = spherical_field(n, c.range_cells, c.sill, 7);
        std::mt19937_64 random(11);
        std::normal_distribution<double> gauss(0.0, std::sqrt(c.nugget));
        std::uniform_real_distribution<double> share(0.0, 1.0);
        for (float &v : field) {
            v += static_cast<float>(gauss(random));
            if (share(random) >= c.stable_share)
                v = NAN;
        }
        const frame_geometry frame = metric_frame(n, n, cell_m);
        const empirical_variogram variogram = sample_variogram(field, frame);
        ASSERT_EQ(variogram.reason, "");
        const variogram_model model = fit_variogram(variogram);
        const size_t main = model.sills[1] > model.sills[0] ? 1 : 0;
        EXPECT_NEAR(model.ranges_m[main], c.range_cells * cell_m, 0.2 * c.range_cells * cell_m);
        EXPECT_NEAR(model.nugget + model.sills[0] + model.sills[1], c.sill + c.nugget, 0.1 * (c.sill + c.nugget));
        EXPECT_NEAR(model.nugget, c.nugget, 0.1 * (c.sill + c.nugget));
        EXPECT_LE(model.nugget + model.sills[0] + model.sills[1], model.variance * (1.0 + 1e-12));
        for (double range : model.ranges_m) {
            EXPECT_GE(range, variogram.cell_m);
            EXPECT_LE(range, variogram.largest_lag_m);
        }
        // The same field and seed give the same bins to the bit.
        const empirical_variogram again = sample_variogram(field, frame);
        ASSERT_EQ(again.bins.size(), variogram.bins.size());
        for (size_t k = 0; k < again.bins.size(); k++) {
            EXPECT_EQ(again.bins[k].pairs, variogram.bins[k].pairs);
            EXPECT_EQ(std::memcmp(&again.bins[k].gamma, &variogram.bins[k].gamma, sizeof(double)), 0);
        }
    }
}

TEST(ErrorModel, TooFewStableCellsOrShortPairsGiveAReason)
{
    const int32_t n = 400;
    const struct {
        const char *what;
        int32_t spacing;  // every spacing-th cell of every spacing-th line stable
        const char *reason_start;
    } cases[] = {
        {"a scatter of 400 cells", 20, "fewer than 1000 stable cells"},
        {"1600 cells, none within three cells of another", 10, "fewer than 30 pairs"},
        {"all stable", 1, ""},
    };
    std::mt19937_64 random(5);
    std::normal_distribution<double> gauss(0.0, 1.0);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<float> field(static_cast<size_t>(n) * n, NAN);
        for (int32_t i = 0; i < n; i += c.spacing)
            for (int32_t j = 0; j < n; j += c.spacing)
                field[static_cast<size_t>(i) * n + j] = static_cast<float>(gauss(random));
        const empirical_variogram variogram = sample_variogram(field, metric_frame(n, n, 1.0));
        EXPECT_EQ(variogram.reason.rfind(c.reason_start, 0), 0u) << variogram.reason;
    }
}

// Cells of a disk of radius_cells about the middle of a square frame, each weighing
// weight(i) by its index.
std::vector<detected_cell> disk_cells(int32_t side, double radius_cells)
{
    std::vector<detected_cell> cells;
    for (int32_t i = 0; i < side; i++)
        for (int32_t j = 0; j < side; j++) {
            const double di = i - 0.5 * side, dj = j - 0.5 * side;
            if (di * di + dj * dj <= radius_cells * radius_cells)
                cells.push_back(detected_cell{i, j, 1.0});
        }
    return cells;
}

TEST(ErrorModel, CorrelatedErrorHasTheExactLimitsAndLiesBetweenThem)
{
    // Weights of a varied σ·A on a scatter of 12000 cells of a 200 x 200 frame, twenty
    // times heavier in a patch of 30 x 30 cells (a landslide among flats).
    std::mt19937_64 random(3);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    std::vector<detected_cell> cells;
    double sum = 0.0, squares = 0.0;
    for (int32_t i = 0; i < 200; i++)
        for (int32_t j = 0; j < 200; j++)
            if (uniform(random) < 0.3) {
                const double w = (0.5 + 2.0 * uniform(random)) * (i >= 80 && i < 110 && j >= 40 && j < 70 ? 20.0 : 1.0);
                cells.push_back(detected_cell{i, j, w});
                sum += w;
                squares += w * w;
            }
    const frame_geometry frame = metric_frame(200, 200, 5.0);
    variogram_model independent;
    independent.variance = 1.0;
    independent.nugget = 1.0;
    variogram_model correlated;
    correlated.variance = 1.0;
    variogram_model between;
    between.variance = 1.0;
    between.nugget = 0.1;
    between.sills[0] = 0.4;
    between.ranges_m[0] = 30.0;
    between.sills[1] = 0.3;
    between.ranges_m[1] = 400.0;
    const correlated_error exact = correlated_volume_error(cells, between, frame, double_sum_method::exact);
    for (double_sum_method method : {double_sum_method::exact, double_sum_method::sampled}) {
        SCOPED_TRACE(method == double_sum_method::exact ? "exact" : "sampled");
        const correlated_error none = correlated_volume_error(cells, independent, frame, method);
        EXPECT_NEAR(none.error_m3, std::sqrt(squares), 1e-9 * std::sqrt(squares));
        EXPECT_NEAR(none.effective_cells, sum * sum / squares, 1e-6 * cells.size());
        const correlated_error all = correlated_volume_error(cells, correlated, frame, method);
        EXPECT_NEAR(all.error_m3, sum, 1e-9 * sum);
        EXPECT_NEAR(all.effective_cells, 1.0, 1e-9);
        const correlated_error some = correlated_volume_error(cells, between, frame, method);
        EXPECT_GT(some.error_m3, none.error_m3);
        EXPECT_LT(some.error_m3, all.error_m3);
        EXPECT_NEAR(some.error_m3, exact.error_m3, 0.05 * exact.error_m3);
    }
}

TEST(ErrorModel, ErrorOfTheMeanOverADiskFollowsRolstadsClosedForm)
{
    // Variance of the mean over a disk of area A much wider than the range a, one
    // spherical model of sill c: c πa² / (5A) (Rolstad et al. 2009); the disk's edge
    // takes about 0.27 a / R of it away, 2.7 % at a radius of ten ranges.
    const struct {
        const char *what;
        double range_m, radius_cells, cell_m;
        double_sum_method method;
    } cases[] = {
        {"a range of 6 cells, exact", 6.0, 60.0, 1.0, double_sum_method::exact},
        {"the same sampled", 6.0, 60.0, 1.0, double_sum_method::sampled},
        {"a range of 40 cells, in blocks", 200.0, 400.0, 5.0, double_sum_method::automatic},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const int32_t side = static_cast<int32_t>(2.0 * c.radius_cells) + 4;
        const std::vector<detected_cell> cells = disk_cells(side, c.radius_cells);
        variogram_model model;
        model.variance = 1.0;
        model.sills[0] = 1.0;
        model.ranges_m[0] = c.range_m;
        model.ranges_m[1] = c.range_m;
        const correlated_error error = correlated_volume_error(cells, model, metric_frame(side, side, c.cell_m), c.method);
        const double area = static_cast<double>(cells.size()) * c.cell_m * c.cell_m;
        // The volume's error over the area is the mean's (σ = 1 m, weights of one cell's area).
        const double mean_variance = std::pow(error.error_m3 * c.cell_m * c.cell_m / area, 2.0);
        const double closed_form = PI * c.range_m * c.range_m / (5.0 * area);
        EXPECT_NEAR(mean_variance, closed_form, 0.05 * closed_form);
    }
}

TEST(ErrorModel, SigmaBySlopeRecoversNoisePlantedToGrowWithSlope)
{
    // A valley whose sides steepen away from its floor: z = k x² across 400 columns of
    // 10 m, noise of 0.1 m + 0.01 m per degree of slope in the second epoch.
    const int32_t lines = 300, columns = 400;
    const frame_geometry frame = metric_frame(lines, columns, 10.0);
    std::vector<double> first_values(static_cast<size_t>(lines) * columns);
    std::vector<double *> first(lines);
    for (int32_t i = 0; i < lines; i++) {
        first[i] = first_values.data() + static_cast<size_t>(i) * columns;
        for (int32_t j = 0; j < columns; j++) {
            const double x = (j - columns / 2) * 10.0;
            first[i][j] = 0.0005 * x * x;
        }
    }
    const std::vector<double> slopes = horn_slope_grid(first.data(), frame);
    // Horn's kernel is exact on a parabola's gradient: 2 k x.
    EXPECT_NEAR(slopes[150 * columns + 300], std::atan(0.001 * 1000.0) * 180.0 / PI, 1e-9);
    std::mt19937_64 random(17);
    std::normal_distribution<double> gauss(0.0, 1.0);
    std::vector<double> differences(slopes.size());
    for (size_t k = 0; k < slopes.size(); k++)
        differences[k] = (0.1 + 0.01 * slopes[k]) * gauss(random);
    const slope_sigma model = fit_sigma_by_slope(slopes, differences);
    ASSERT_EQ(model.bins.size(), SLOPE_SIGMA_BINS);
    for (const slope_sigma_bin &bin : model.bins) {
        EXPECT_EQ(bin.cells, slopes.size() / SLOPE_SIGMA_BINS);
        EXPECT_NEAR(bin.sigma_m, 0.1 + 0.01 * bin.slope_deg, 0.06 * (0.1 + 0.01 * bin.slope_deg)) << bin.slope_deg;
    }
    // Linear between centres, held beyond the first and the last.
    const slope_sigma_bin &low = model.bins[3], &high = model.bins[4];
    EXPECT_DOUBLE_EQ(sigma_at_slope(model, 0.25 * low.slope_deg + 0.75 * high.slope_deg),
                     0.25 * low.sigma_m + 0.75 * high.sigma_m);
    EXPECT_EQ(sigma_at_slope(model, -1.0), model.bins.front().sigma_m);
    EXPECT_EQ(sigma_at_slope(model, 90.0), model.bins.back().sigma_m);
    // Too few cells: a reason, no bins.
    const slope_sigma few = fit_sigma_by_slope(std::vector<double>(99, 1.0), std::vector<double>(99, 0.1));
    EXPECT_TRUE(few.bins.empty());
    EXPECT_FALSE(few.reason.empty());
    // Flat ground, every slope one: the bins follow the cells' order. The k-th hundred
    // differs by ±(k + 1) m, an NMAD of 1.4826 (k + 1) m; mixed bins would not have it.
    std::vector<double> flat_differences(1000);
    for (size_t k = 0; k < flat_differences.size(); k++)
        flat_differences[k] = (k % 2 == 0 ? 1.0 : -1.0) * static_cast<double>(k / 100 + 1);
    const slope_sigma flat = fit_sigma_by_slope(std::vector<double>(1000, 2.5), flat_differences);
    ASSERT_EQ(flat.bins.size(), SLOPE_SIGMA_BINS);
    for (size_t k = 0; k < flat.bins.size(); k++)
        EXPECT_DOUBLE_EQ(flat.bins[k].sigma_m, 1.4826 * static_cast<double>(k + 1)) << k;
    // A hole in the valley: each line's slopes are each cell's, the hole's rule near it.
    first[100][200] = NAN;
    first[101][0] = NAN;
    std::vector<double> line(columns);
    for (int32_t i : {0, 99, 100, 101, lines - 1}) {
        horn_slope_line(first.data(), lines, columns, i, 10.0, 10.0, line.data());
        for (int32_t j = 0; j < columns; j++) {
            const double cell = horn_slope_at(first.data(), lines, columns, i, j, 10.0, 10.0);
            ASSERT_TRUE(line[j] == cell || (std::isnan(line[j]) && std::isnan(cell))) << i << " " << j;
        }
    }
}

TEST(ErrorModel, SlopesAndTheirErrorsAreTheLibrarysArcTangentAndTheOneCellRule)
{
    // The slope's own arc tangent against the C library's, within two units in the last
    // place, across every branch of its range and at their joins.
    const double degrees = 180.0 / PI;
    std::vector<double> gradients = {0.0, 1e-150, 1e-9, 0.3, 0.66, std::nextafter(0.66, 1.0), 1.0,
                                     2.414213562373095, 2.4142135623730954, 10.0, 1e8, 1e150};
    std::mt19937_64 random(5);
    std::uniform_real_distribution<double> exponent(-12.0, 12.0);
    for (int k = 0; k < 100000; k++)
        gradients.push_back(std::exp(exponent(random)));
    for (double g : gradients) {
        const double expected = std::atan(g) * degrees;
        ASSERT_NEAR(slope_degrees_of_gradient(g * g), expected, 2.0 * (std::nextafter(expected, 1e300) - expected) + 1e-300)
            << g;
    }
    EXPECT_EQ(slope_degrees_of_gradient(INFINITY), 90.0);
    EXPECT_TRUE(std::isnan(slope_degrees_of_gradient(NAN)));
    // A plane rising 2 m a column of 10 m: inside, atan(0.2); on the first and last lines
    // the line off the grid takes the centre's height, which leaves 12 of the 16 parts of
    // the east sum: atan(0.15).
    std::vector<double> plane(15);
    std::vector<double *> plane_rows(3);
    for (int32_t i = 0; i < 3; i++) {
        plane_rows[i] = plane.data() + 5 * i;
        for (int32_t j = 0; j < 5; j++)
            plane_rows[i][j] = 2.0 * j;
    }
    for (int32_t i : {0, 1, 2}) {
        std::vector<double> line(5);
        horn_slope_line(plane_rows.data(), 3, 5, i, 10.0, 10.0, line.data());
        EXPECT_NEAR(line[2], std::atan(i == 1 ? 0.2 : 0.15) * degrees, 1e-12) << i;
    }
    // A line's errors are each cell's: below, between, on and beyond the centres, on two
    // centres that are one, and without a slope.
    slope_sigma model;
    model.overall_sigma_m = 0.7;
    const double centres[] = {1.0, 2.0, 2.0, 5.0, 9.0};
    for (size_t k = 0; k < 5; k++)
        model.bins.push_back({centres[k], 0.0, 0.0, 0.1 * static_cast<double>(k + 1), 100});
    std::vector<double> slopes = {-1.0, 0.0, 1.0, 1.5, 2.0, 2.0000001, 3.5, 5.0, 7.0, 8.999, 9.0, 40.0, NAN};
    for (int k = 0; k < 1000; k++)
        slopes.push_back(10.0 * static_cast<double>(k) / 1000.0);
    std::vector<double> line = slopes;
    sigma_at_slopes(model, 2.0, line.data(), line.size());
    for (size_t j = 0; j < slopes.size(); j++)
        ASSERT_EQ(line[j], sigma_at_slope(model, slopes[j]) / 2.0) << slopes[j];
    EXPECT_EQ(line[3], (0.1 + 0.5 * 0.1) / 2.0);
    EXPECT_EQ(line[12], 0.35);
}

TEST(ErrorModel, SlopeOnAFrameInDegreesUsesGroundDistances)
{
    // One metre up per column of one arc second at 60° north, where a degree of
    // longitude is 55 800 m (half the equator's, a little more): 1 / 15.5 m per cell.
    frame_geometry frame;
    frame.lines = 5;
    frame.columns = 5;
    frame.cellsize = 1.0 / 3600.0;
    frame.yll = 60.0 - 2.5 / 3600.0;
    frame.degrees = true;
    std::vector<double> values(25);
    std::vector<double *> rows(5);
    for (int32_t i = 0; i < 5; i++) {
        rows[i] = values.data() + 5 * i;
        for (int32_t j = 0; j < 5; j++)
            rows[i][j] = j;
    }
    const std::vector<double> slopes = horn_slope_grid(rows.data(), frame);
    EXPECT_NEAR(std::tan(slopes[12] * PI / 180.0), 3600.0 / 55800.0, 0.002 * 3600.0 / 55800.0);
}

TEST(ErrorModel, FiguresRenderWithTheirLabelsAndExactReals)
{
    // A field of planted correlation through the whole chain: model, collector filled
    // on two runs of lines and merged, errors, renderings.
    const size_t n = 256;
    const frame_geometry frame = metric_frame(n, n, 3.0);
    correlation_figures figures = correlation_model(spherical_field(n, 10.0, 1.0, 23), frame);
    ASSERT_TRUE(figures.available) << figures.reason;
    correlated_error_collector upper, lower;
    for (int32_t i = 0; i < 256; i++)
        for (int32_t j = 0; j < 256; j += 3)
            (i < 128 ? upper : lower).add(i, j, 0.2 * 9.0, (i + j) % 2 == 0);
    upper.merge(lower);
    finish_correlation(&figures, upper, frame);
    figures.sigma_by_slope = {slope_sigma_bin{2.5, 0.0, 5.0, 0.1, 400}, slope_sigma_bin{0.1 + 0.2, 5.0, 9.0, 0.3, 400}};
    const correlated_volume_errors &e = figures.errors;
    EXPECT_EQ(e.above.cells + e.below.cells, e.net.cells);
    // Both directions share the survey's error: the net's exceeds either side's.
    EXPECT_GT(e.net.error_m3, std::max(e.above.error_m3, e.below.error_m3));

    const nlohmann::json json = nlohmann::json::parse(correlation_json(figures));
    // Reals read back to the very doubles.
    EXPECT_EQ(json.at("ranges_m").at(1).get<double>(), figures.model.ranges_m[1]);
    EXPECT_EQ(json.at("net_error_m3").get<double>(), e.net.error_m3);
    EXPECT_EQ(json.at("sigma_by_slope").at(1).at("slope_deg").get<double>(), 0.1 + 0.2);
    EXPECT_EQ(json.at("sigma_by_slope").at(1).at("sigma_m").get<double>(), 0.3);

    const std::vector<correlation_line> lines = correlation_lines(figures, 100.0, 50.0, 50.0);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0].label, "first above second, error with correlation");
    EXPECT_EQ(lines[1].label, "first below second, error with correlation");
    EXPECT_EQ(lines[2].label, "net volume, error with correlation");
    EXPECT_NE(lines[0].value.find(" m3 ("), std::string::npos);
    const std::vector<correlation_row> rows = correlation_rows(figures);
    EXPECT_EQ(rows[2].value, e.net.error_m3);

    // The picture: a point a bin with pairs, the model, both ranges marked.
    const std::string svg = variogram_svg(figures.variogram, figures.model);
    size_t points = 0, circles = 0;
    for (const variogram_bin &bin : figures.variogram)
        points += bin.pairs > 0;
    for (size_t at = svg.find("<circle"); at != std::string::npos; at = svg.find("<circle", at + 1))
        circles++;
    EXPECT_EQ(circles, points);
    EXPECT_NE(svg.find("class=\"model\""), std::string::npos);
    EXPECT_EQ(svg.find("class=\"range\"") != std::string::npos, figures.model.sills[0] + figures.model.sills[1] > 0.0);
    EXPECT_EQ(svg.rfind("</svg>"), svg.size() - 7);

    // Too little stable ground: one line why, nulls in the JSON, empty columns.
    correlation_figures left_out = correlation_model(std::vector<float>(n * n, NAN), frame);
    EXPECT_FALSE(left_out.available);
    EXPECT_EQ(left_out.reason, "fewer than 1000 stable cells (0)");
    const std::vector<correlation_line> why = correlation_lines(left_out, 1.0, 1.0, 0.0);
    ASSERT_EQ(why.size(), 1u);
    EXPECT_EQ(why[0].value, "left out: fewer than 1000 stable cells (0)");
    const nlohmann::json nulls = nlohmann::json::parse(correlation_json(left_out));
    EXPECT_TRUE(nulls.at("net_error_m3").is_null());
    EXPECT_EQ(nulls.at("reason").get<std::string>(), left_out.reason);
    for (const correlation_row &row : correlation_rows(left_out))
        EXPECT_TRUE(std::isnan(row.value)) << row.column;
}

} // namespace
