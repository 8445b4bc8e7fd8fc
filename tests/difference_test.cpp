// The difference of two grids: the three kinds, the clamps, the elimination, the range
// and the budget of the change.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "nrutil.h"
#include "text/number_text.h"
#include "treatment/difference.h"

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
    // A result is never negative zero, which would print as -0.000000.
    EXPECT_FALSE(std::signbit(difference_cell(5.0, 5.0, TREAT_NEGATIVE, 1, 0.0)));
    EXPECT_FALSE(std::signbit(difference_cell(5.0, 5.0, TREAT_POSITIVE, 1, 0.0)));
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
    for (int32_t kind : {TREAT_ABSOLUTE, TREAT_NEGATIVE, TREAT_POSITIVE}) {
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
    // to take whole runs of cells at once, in every kind, limit and elimination.
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
    for (int32_t kind : {0, 1, 2, 3})  // 3: a kind the dialogue never lets through
        for (int32_t basis : {0, 1})
            for (double hypso : {0.0, 20.5, -3.0, NO_DATA}) {
                change_budget budget;
                double low = 0, high = 0;
                compute_difference(g.first, g.second, g.out, lines, columns, kind, basis, hypso, &low, &high,
                                   &budget);
                size_t changed = 0, without_data = 0;
                double sum = 0.0;
                for (int32_t i = 0; i < lines; i++)
                    for (int32_t j = 0; j < columns; j++) {
                        const double want = difference_cell(g.first[i][j], g.second[i][j], kind, basis, hypso);
                        const double got = g.out[i][j];
                        ASSERT_TRUE(std::isnan(want) ? std::isnan(got)
                                                     : got == want && std::signbit(got) == std::signbit(want))
                            << "kind " << kind << " basis " << basis << " hypso " << hypso << ": "
                            << g.first[i][j] << " and " << g.second[i][j] << " give " << got;
                        changed += want > 0.0;
                        without_data += std::isnan(want);
                        sum += want > 0.0 ? want : 0.0;
                    }
                EXPECT_EQ(budget.changed, changed);
                EXPECT_EQ(budget.without_data, without_data);
                EXPECT_EQ(budget_total(budget), sum);
            }
    free_grids(g);
}

TEST(ChangeBudget, CountsAndSumForEachKind)
{
    // Changes of north minus south: +20.5, -20.5, +2, -0.25, 0, no data.
    const std::vector<double> north = {120.5, 100.0, 7.0, 1.0, 2.0, NO_DATA};
    const std::vector<double> south = {100.0, 120.5, 5.0, 1.25, 2.0, 0.0};
    struct worked {
        int32_t kind, basis;
        double hypso;
        size_t changed;
        double total;
    } cases[] = {
        {TREAT_ABSOLUTE, 1, 0.0, 4, 43.25}, {TREAT_ABSOLUTE, 0, 2.0, 3, 43.0},
        {TREAT_NEGATIVE, 1, 0.0, 2, 20.75}, {TREAT_NEGATIVE, 0, 0.5, 1, 20.5},
        {TREAT_POSITIVE, 1, 0.0, 2, 22.5},  {TREAT_POSITIVE, 0, 2.5, 1, 20.5},
    };
    grids g = make_grids(north, south, 2, 3);
    for (const worked &c : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << c.kind << " basis " << c.basis);
        change_budget budget;
        double low = 0, high = 0;
        compute_difference(g.first, g.second, g.out, 2, 3, c.kind, c.basis, c.hypso, &low, &high, &budget);
        EXPECT_EQ(budget.cells, 6u);
        EXPECT_EQ(budget.changed, c.changed);
        EXPECT_EQ(budget.without_data, 1u);
        EXPECT_EQ(budget_total(budget), c.total);
    }
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
    EXPECT_NEAR(budget_total(whole), 100000.0, 1e-9);
    EXPECT_EQ(format_change_budget("c:\\images\\site\\d_val_abs.asc", 1.0, whole),
              "\n\n\tCHANGE BUDGET OF c:\\images\\site\\d_val_abs.asc (cells of 1.000000 m) :"
              "\n\t\tcells with a change : 1000000 of 1000000 (0 without data)"
              "\n\t\tarea of change      : 1000000.000000 m2"
              "\n\t\tvolume of change    : 100000.000000 m3"
              "\n\t\tmean change         : 0.100000 m\n");
    // A header's cell size of 0 leaves no area, but the changes keep their mean.
    EXPECT_NE(format_change_budget("", 0.0, whole).find("mean change         : 0.100000 m\n"), std::string::npos);

    // The budgets of the top and the bottom lines add up to the whole grid's.
    change_budget parts;
    compute_difference(g.first, g.second, g.out, 300, side, TREAT_ABSOLUTE, 1, 0.0, &low, &high, &parts);
    compute_difference(g.first + 300, g.second + 300, g.out + 300, 700, side, TREAT_ABSOLUTE, 1, 0.0, &low, &high,
                       &parts);
    EXPECT_EQ(parts.cells, whole.cells);
    EXPECT_NEAR(budget_total(parts), 100000.0, 1e-9);
    free_grids(g);
}

} // namespace
