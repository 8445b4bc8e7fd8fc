// The difference of two grids: the four kinds, the clamps, the elimination, the range
// and the budget of the change.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "nrutil.h"
#include "text/number_text.h"
#include "globals/globals.h"
#include "treatment/difference.h"
#include "treatment/treatment.h"

namespace {

const double NO_DATA = NAN;

struct grids {
    double **first;
    double **second;
    double **out;
    int32_t lines;
    int32_t columns;
};

grids make_grids(const std::vector<double> &a, const std::vector<double> &b, int32_t lines,
                 int32_t columns)
{
    grids g = {dmatrice(columns, lines), dmatrice(columns, lines), dmatrice(columns, lines),
               lines, columns};
    for (int32_t i = 0; i < lines; i++)
        for (int32_t j = 0; j < columns; j++) {
            g.first[i][j] = a[static_cast<size_t>(i * columns + j)];
            g.second[i][j] = b[static_cast<size_t>(i * columns + j)];
        }
    return g;
}

void free_grids(grids &g)
{
    frdmatrice(g.first, g.lines);
    frdmatrice(g.second, g.lines);
    frdmatrice(g.out, g.lines);
}

TEST(Difference, TheThreeKindsOnBothSides)
{
    // first above second, then first below second.
    EXPECT_EQ(difference_cell(120.5, 100.0, TREAT_ABSOLUTE, 1, 0.0), 20.5);
    EXPECT_EQ(difference_cell(120.5, 100.0, TREAT_NEGATIVE, 1, 0.0), 0.0);
    EXPECT_EQ(difference_cell(120.5, 100.0, TREAT_POSITIVE, 1, 0.0), 20.5);
    EXPECT_EQ(difference_cell(100.0, 120.5, TREAT_ABSOLUTE, 1, 0.0), 20.5);
    EXPECT_EQ(difference_cell(100.0, 120.5, TREAT_NEGATIVE, 1, 0.0), 20.5);
    EXPECT_EQ(difference_cell(100.0, 120.5, TREAT_POSITIVE, 1, 0.0), 0.0);
    // Signed values, eliminated by their magnitude.
    EXPECT_EQ(difference_cell(100.0, 120.5, TREAT_SIGNED, 0, 20.5), -20.5);
    EXPECT_EQ(difference_cell(100.0, 120.49, TREAT_SIGNED, 0, 20.5), 0.0);
    // A result is never negative zero, which would print as -0.000000.
    for (int32_t kind : {TREAT_NEGATIVE, TREAT_POSITIVE, TREAT_SIGNED})
        EXPECT_FALSE(std::signbit(difference_cell(5.0, 5.0, kind, 1, 0.0)));
}

TEST(Difference, EliminationKeepsTheLimitAndDropsWhatIsBelow)
{
    for (int32_t kind : {TREAT_ABSOLUTE, TREAT_NEGATIVE, TREAT_POSITIVE}) {
        double high = kind == TREAT_NEGATIVE ? 120.5 : 100.0;
        double low = kind == TREAT_NEGATIVE ? 100.0 : 120.5;
        EXPECT_EQ(difference_cell(low, high - 20.5 + 20.5, kind, 0, 20.5),
                  difference_cell(low, high, kind, 1, 0.0))
            << "kind " << kind;
        // A change of exactly the limit stays; one just under it goes.
        EXPECT_EQ(difference_cell(kind == TREAT_NEGATIVE ? 0.0 : 20.5,
                                  kind == TREAT_NEGATIVE ? 20.5 : 0.0, kind, 0, 20.5),
                  20.5);
        EXPECT_EQ(difference_cell(kind == TREAT_NEGATIVE ? 0.0 : 20.49,
                                  kind == TREAT_NEGATIVE ? 20.49 : 0.0, kind, 0, 20.5),
                  0.0);
        // A limit of zero or below removes nothing.
        EXPECT_EQ(difference_cell(kind == TREAT_NEGATIVE ? 0.0 : 0.25,
                                  kind == TREAT_NEGATIVE ? 0.25 : 0.0, kind, 0, -3.0),
                  0.25);
    }
    // The limit compares the change, not the altitudes.
    EXPECT_EQ(difference_cell(1000.0, 999.0, TREAT_ABSOLUTE, 0, 500.0), 0.0);
}

TEST(Difference, CellsWithoutDataStayWithoutData)
{
    for (int32_t kind : {TREAT_ABSOLUTE, TREAT_NEGATIVE, TREAT_POSITIVE, TREAT_SIGNED}) {
        EXPECT_TRUE(std::isnan(difference_cell(NO_DATA, 100.0, kind, 1, 0.0)));
        EXPECT_TRUE(std::isnan(difference_cell(100.0, NO_DATA, kind, 0, 0.5)));
    }
    // A no-data value that is not marked as such is an altitude like any other.
    EXPECT_EQ(difference_cell(-99.0, 100.0, TREAT_ABSOLUTE, 1, 0.0), 199.0);
}

TEST(Difference, GridAndItsRange)
{
    grids g = make_grids({120.5, 100.0, 7.0, 1.0, 2.0, 3.0}, {100.0, 120.5, 5.0, 1.25, 2.0, 0.0},
                         2, 3);
    double low = -1, high = -1;
    compute_difference(g.first, g.second, g.out, 2, 3, TREAT_ABSOLUTE, 0, 0.5, &low, &high);
    std::vector<double> got = {g.out[0][0], g.out[0][1], g.out[0][2],
                               g.out[1][0], g.out[1][1], g.out[1][2]};
    EXPECT_EQ(got, (std::vector<double>{20.5, 20.5, 2.0, 0.0, 0.0, 3.0}));
    EXPECT_EQ(low, 0.0);
    EXPECT_EQ(high, 20.5);
    free_grids(g);
}

TEST(Difference, RangeIsTheTrueRangeOfCellsWithData)
{
    // Every result far above the old fixed starting bound of 10000000.
    grids g = make_grids({3e7, 5e7, NO_DATA, 4e7}, {0, 0, 0, 0}, 2, 2);
    double low = 0, high = 0;
    compute_difference(g.first, g.second, g.out, 2, 2, TREAT_POSITIVE, 1, 0.0, &low, &high);
    EXPECT_EQ(low, 3e7);
    EXPECT_EQ(high, 5e7);
    EXPECT_TRUE(std::isnan(g.out[1][0]));
    // Signed values: the true range, negative minimum included.
    compute_difference(g.second, g.first, g.out, 2, 2, TREAT_SIGNED, 1, 0.0, &low, &high);
    EXPECT_EQ(low, -5e7);
    EXPECT_EQ(high, -3e7);
    free_grids(g);

    // Identical grids, and a grid with no data at all.
    g = make_grids({1, 2}, {1, 2}, 1, 2);
    low = high = -1;
    compute_difference(g.first, g.second, g.out, 1, 2, TREAT_ABSOLUTE, 1, 0.0, &low, &high);
    EXPECT_EQ(low, 0.0);
    EXPECT_EQ(high, 0.0);
    free_grids(g);
    g = make_grids({NO_DATA, 4}, {1, NO_DATA}, 1, 2);
    low = high = -1;
    compute_difference(g.first, g.second, g.out, 1, 2, TREAT_ABSOLUTE, 1, 0.0, &low, &high);
    EXPECT_EQ(low, 0.0);
    EXPECT_EQ(high, 0.0);
    free_grids(g);
}

TEST(Difference, TheGridPassGivesEachCellItsOwnResult)
{
    // Every pair of these values, each repeated along a line long enough for the pass
    // to take whole runs of cells at once, in every kind, limit and elimination, in every
    // width of vectors the processor has.
    const std::vector<double> values = {0.0, -0.0, 1.5, -2.0, 20.5, std::ldexp(1.0, 1000), INFINITY, -INFINITY,
                                        NO_DATA};
    const int32_t columns = 300;
    const int32_t lines = static_cast<int32_t>(values.size() * values.size());
    std::vector<double> a, b;
    for (double x : values)
        for (double y : values)
            for (int32_t j = 0; j < columns; j++) {
                a.push_back(x);
                b.push_back(y);
            }
    grids g = make_grids(a, b, lines, columns);
    for (int32_t trial = 0; trial < 15; trial++) {
        // Kinds 0 to 4 (4: one the dialogue never lets through) in each width of vectors.
        const int32_t kind = trial % 5, vectors = trial / 5;
        for (int32_t basis : {0, 1})
            for (double hypso : {0.0, 20.5, -3.0, NO_DATA}) {
                if (use_difference_vectors(vectors) != vectors)
                    continue;
                change_budget budget;
                double low = 0, high = 0;
                compute_difference(g.first, g.second, g.out, lines, columns, kind, basis, hypso, &low, &high,
                                   &budget);
                // Cells and volumes above, below, and of the result.
                size_t cells[3] = {0, 0, 0}, without_data = 0;
                double volumes[3] = {0.0, 0.0, 0.0};
                for (int32_t i = 0; i < lines; i++)
                    for (int32_t j = 0; j < columns; j++) {
                        const double want = difference_cell(g.first[i][j], g.second[i][j], kind, basis, hypso);
                        const double got = g.out[i][j];
                        ASSERT_TRUE(std::isnan(want) ? std::isnan(got)
                                                     : got == want && std::signbit(got) == std::signbit(want))
                            << "vectors " << vectors << " kind " << kind << " basis " << basis << " hypso " << hypso
                            << ": " << g.first[i][j] << " and " << g.second[i][j] << " give " << got;
                        const double change = g.first[i][j] - g.second[i][j];
                        const double parts[3] = {change > 0.0 ? change : 0.0, change < 0.0 ? -change : 0.0,
                                                 std::isnan(want) ? 0.0 : want};
                        for (size_t k = 0; k < 3; k++) {
                            cells[k] += parts[k] != 0.0;
                            volumes[k] += parts[k];
                        }
                        without_data += std::isnan(g.first[i][j]) || std::isnan(g.second[i][j]);
                    }
                const change_measure *measures[] = {&budget.above, &budget.below, &budget.output};
                for (size_t k = 0; k < 3; k++) {
                    const double volume = compensated_total(measures[k]->volume);
                    EXPECT_EQ(measures[k]->cells, cells[k]) << "kind " << kind << " figure " << k;
                    EXPECT_TRUE(std::isnan(volumes[k]) ? std::isnan(volume) : volume == volumes[k]);
                }
                EXPECT_EQ(budget.without_data, without_data);
            }
    }
    use_difference_vectors(VECTORS_AVX512);
    free_grids(g);
}

TEST(ChangeBudget, EveryFigureOfEachKindWorkedByHand)
{
    // Changes of north minus south: +20.5, -20.5, +2 on a line of cells of 4 m2, -0.25,
    // 0 and no data on a line of 1 m2. Above: 20.5 x 4 + 2 x 4 m3 on 8 m2; below:
    // 20.5 x 4 + 0.25 on 5 m2. The limit 2 removes 0.25 m: errors of 2 x 8 and 2 x 4 m3,
    // the net's sqrt(16^2 + 8^2); if independent, 2 x sqrt(4^2 + 4^2) and 2 x 4 m3, the
    // net's sqrt(32 x 4 + 64).
    const std::vector<double> north = {120.5, 100.0, 7.0, 1.0, 2.0, NO_DATA};
    const std::vector<double> south = {100.0, 120.5, 5.0, 1.25, 2.0, 0.0};
    const std::vector<std::string> raw = {
        "cells with data in both grids : 5 of 6 (1 without data)",
        "first above second, raw : 2 cells, 8.000000 m2, 90.000000 m3, mean 11.250000 m",
        "first below second, raw : 2 cells, 5.000000 m2, 82.250000 m3, mean 16.450000 m",
        "net volume, raw : 7.750000 m3"};
    const std::vector<std::string> detected = {
        raw[0], raw[1], "first above second, detected : 2 cells, 8.000000 m2, 90.000000 m3, mean 11.250000 m",
        "first above second, error : 16.000000 m3 (17.777778 %)",
        "first above second, error if independent : 11.313708 m3 (12.570787 %)", raw[2],
        "first below second, detected : 1 cell, 4.000000 m2, 82.000000 m3, mean 20.500000 m",
        "first below second, error : 8.000000 m3 (9.756098 %)",
        "first below second, error if independent : 8.000000 m3 (9.756098 %)", raw[3],
        "net volume, detected : 8.000000 m3", "net volume, error : 17.888544 m3 (223.606798 %)",
        "net volume, error if independent : 13.856406 m3 (173.205081 %)"};
    struct worked {
        int32_t kind, basis;
        const char *output;
    } cases[] = {
        {TREAT_ABSOLUTE, 1, "absolute values : 4 cells, 13.000000 m2, 172.250000 m3, mean 13.250000 m"},
        {TREAT_ABSOLUTE, 0, "absolute values : 3 cells, 12.000000 m2, 172.000000 m3, mean 14.333333 m"},
        {TREAT_NEGATIVE, 1, "negative values : 2 cells, 5.000000 m2, 82.250000 m3, mean 16.450000 m"},
        {TREAT_NEGATIVE, 0, "negative values : 1 cell, 4.000000 m2, 82.000000 m3, mean 20.500000 m"},
        {TREAT_POSITIVE, 0, "positive values : 2 cells, 8.000000 m2, 90.000000 m3, mean 11.250000 m"},
        {TREAT_SIGNED, 1, "signed values : 4 cells, 13.000000 m2, 7.750000 m3, mean 0.596154 m"},
        {TREAT_SIGNED, 0, "signed values : 3 cells, 12.000000 m2, 8.000000 m3, mean 0.666667 m"},
    };
    grids g = make_grids(north, south, 2, 3);
    const double line_areas[] = {4.0, 1.0};
    change_budget budget;
    for (const worked &c : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << c.kind << " basis " << c.basis);
        budget = change_budget();
        double low = 0, high = 0;
        compute_difference(g.first, g.second, g.out, 2, 3, c.kind, c.basis, 2.0, &low, &high, &budget, line_areas);
        std::vector<std::string> shown;
        for (const budget_line &line : budget_lines(budget, c.kind, c.basis == 0, 2.0))
            shown.push_back(line.label + " : " + line.value);
        std::vector<std::string> want = c.basis == 0 ? detected : raw;
        want.push_back(std::string("output grid, ") + c.output);
        EXPECT_EQ(shown, want);
    }
    // The file of the last: every figure exact, but the net's error if independent, a
    // root sum of squares that each C library's hypot rounds within a unit of its last place.
    const std::string csv = budget_csv(budget, TREAT_SIGNED, true, 2.0);
    const size_t last = csv.rfind(',') + 1;
    EXPECT_NEAR(std::strtod(csv.c_str() + last, nullptr), std::sqrt(192.0), 4e-15);
    EXPECT_EQ(csv.substr(0, last),
              "kind,limit_m,cells,cells_with_data,cells_without_data,above_cells,above_area_m2,above_volume_m3,"
              "below_cells,below_area_m2,below_volume_m3,net_volume_m3,above_detected_cells,"
              "above_detected_area_m2,above_detected_volume_m3,above_error_m3,below_detected_cells,"
              "below_detected_area_m2,below_detected_volume_m3,below_error_m3,net_detected_volume_m3,"
              "net_error_m3,output_cells,output_area_m2,output_volume_m3,confidence_pct,sigma_first_m,"
              "sigma_second_m,above_error_independent_m3,below_error_independent_m3,net_error_independent_m3\n"
              "3,2.000000,6,5,1,2,8.000000,90.000000,2,5.000000,82.250000,7.750000,2,8.000000,90.000000,"
              "16.000000,1,4.000000,82.000000,8.000000,8.000000,17.88854381999832,3,12.000000,8.000000,,,,"
              "11.313708498984761,8.000000,");
    free_grids(g);
}

TEST(ChangeBudget, AMillionSmallChangesDoNotDrift)
{
    // 10^6 changes of 0.1 m: a plain running sum reaches 100000.00000133 and prints
    // the wrong sixth decimal.
    const int32_t side = 1000;
    grids g = make_grids(std::vector<double>(side * side, 0.1), std::vector<double>(side * side, 0.0), side,
                         side);
    double plain = 0.0;
    for (int32_t k = 0; k < side * side; k++)
        plain += 0.1;
    ASSERT_EQ(text_printf("%lf", plain), "100000.000001");

    double low = 0, high = 0;
    change_budget whole;
    compute_difference(g.first, g.second, g.out, side, side, TREAT_ABSOLUTE, 1, 0.0, &low, &high, &whole);
    EXPECT_NEAR(compensated_total(whole.output.volume), 100000.0, 1e-9);
    frame_geometry frame;
    frame.cellsize = 1.0;
    EXPECT_EQ(format_change_budget("c:\\images\\site\\d_val_abs.asc", frame, budget_lines(whole, 0, false, 0.0)),
              "\n\n\tCHANGE BUDGET OF c:\\images\\site\\d_val_abs.asc (cells of 1.000000 m) :"
              "\n\t\tcells with data in both grids : 1000000 of 1000000 (0 without data)"
              "\n\t\tfirst above second, raw       : 1000000 cells, 1000000.000000 m2, 100000.000000 m3, "
              "mean 0.100000 m"
              "\n\t\tfirst below second, raw       : 0 cells, 0.000000 m2, 0.000000 m3, mean 0.000000 m"
              "\n\t\tnet volume, raw               : 100000.000000 m3"
              "\n\t\toutput grid, absolute values  : 1000000 cells, 1000000.000000 m2, 100000.000000 m3, "
              "mean 0.100000 m\n");

    // The budgets of the top and the bottom lines add up to the whole grid's.
    change_budget parts;
    compute_difference(g.first, g.second, g.out, 300, side, TREAT_ABSOLUTE, 1, 0.0, &low, &high, &parts);
    compute_difference(g.first + 300, g.second + 300, g.out + 300, 700, side, TREAT_ABSOLUTE, 1, 0.0, &low, &high,
                       &parts);
    EXPECT_EQ(parts.cells, whole.cells);
    EXPECT_NEAR(compensated_total(parts.output.volume), 100000.0, 1e-9);
    free_grids(g);
}

TEST(Difference, ACellWithoutAnErrorHasNoDataAndTheSecondGridStaysAsRead)
{
    // 95 % confidence, an error grid for the first DEM without an error in one cell, a
    // uniform 0.1 m for the second: t sigma is 1.959964 x hypot(s1, 0.1).
    grids g = make_grids({10.0, 10.0, 10.0, 10.0, 10.0, 10.0}, {9.0, 9.5, 9.0, 10.0, 9.0, 9.9}, 2, 3);
    double **sigma = dmatrice(3, 2);
    const double errors[] = {0.1, 0.4, NAN, 0.1, 0.1, 0.1};
    for (int32_t k = 0; k < 6; k++)
        sigma[k / 3][k % 3] = errors[k];
    nb_lig = 2;
    nb_col = 3;
    dtab_dem1 = g.first;
    dtab_dem2 = g.second;
    dtab_out = g.out;
    dtab_sigma1 = sigma;
    dtab_sigma2 = nullptr;
    nomsigma1 = "sigma_first.asc";
    nomsigma2.clear();
    sigma_dem1 = 0.2;
    sigma_dem2 = 0.1;
    type_treat = TREAT_SIGNED;
    basis = TEST_CONFIDENCE;
    confidence_pct = 95.0;
    double low = 0.0, high = 0.0;
    change_budget budget;
    const change_gathering gathering = run_difference(std::vector<double>(2, 1.0), &low, &high, &budget);
    // Detected: 1.0 (limit 0.277), not 0.5 (0.808); the cell without an error has no
    // data; 0.0; 1.0; 0.1 below 0.277.
    const double want[] = {1.0, 0.0, NAN, 0.0, 1.0, 0.0};
    for (int32_t k = 0; k < 6; k++) {
        SCOPED_TRACE(k);
        const double out = g.out[k / 3][k % 3];
        if (std::isnan(want[k]))
            EXPECT_TRUE(std::isnan(out));
        else
            EXPECT_EQ(out, want[k]);
        // The report's map sees what the pass sees.
        EXPECT_EQ(std::isnan(gathering.pixels.change[k]), std::isnan(want[k]));
    }
    EXPECT_EQ(budget.without_data, 1u);
    EXPECT_EQ(budget.above_detected.cells, 2u);
    EXPECT_EQ(g.second[0][2], 9.0);  // never marked in place
    dtab_sigma1 = nullptr;
    dtab_dem1 = dtab_dem2 = dtab_out = nullptr;
    nomsigma1.clear();
    basis = 1;
    frdmatrice(sigma, 2);
    free_grids(g);
}

} // namespace
