// The change at a confidence level: the factor of the test, and whole sessions on two
// real epochs with uniform errors, an error grid and an error grid without data in
// places, against the budgets numpy expects (tests/data/confidence/README.md).
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "geotiff_files.h"
#include "treatment/change_test.h"

namespace {

using e2e::read_file;
using e2e::write_file;

TEST(ConfidenceLevel, TheFactorIsTheTwoSidedNormalQuantile)
{
    // statistics.NormalDist().inv_cdf((1 + C / 100) / 2), and inv_cdf(p) in the tails.
    const struct {
        double level, t;
    } levels[] = {{95.0, 1.9599639845400536}, {68.27, 1.0000217133229994}, {90.0, 1.6448536269514715},
                  {99.0, 2.5758293035489}, {99.9999, 4.891638475671084}, {1.0, 0.012533469508069278}};
    for (const auto &c : levels)
        EXPECT_NEAR(confidence_factor(c.level), c.t, 1e-14 * c.t) << c.level;
    EXPECT_NEAR(normal_quantile(1e-10), -6.361340902404056, 1e-13);
    EXPECT_NEAR(normal_quantile(0.3), -0.5244005127080407, 1e-15);
    EXPECT_EQ(normal_quantile(0.5), 0.0);
}

std::string fixture(const std::string &name)
{
    return read_file(std::string(ORMELIX_SOURCE_DIR) + "/tests/data/confidence/" + name);
}

// One line of names and one of values, as the budget file and the fixture have them.
std::map<std::string, std::string> csv_row(const std::string &text, const std::string &first_value = "")
{
    std::istringstream lines(e2e::console_text(text));  // CR LF on Windows
    std::string names, values;
    std::getline(lines, names);
    while (std::getline(lines, values))
        if (first_value.empty() || values.compare(0, first_value.size() + 1, first_value + ",") == 0)
            break;
    std::map<std::string, std::string> row;
    std::istringstream n(names), v(values);
    std::string name, value;
    while (std::getline(n, name, ',')) {
        value.clear();
        std::getline(v, value, ',');
        row[name] = value;
    }
    return row;
}

class ConfidenceSession : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = e2e::make_root();
        write_file(site("dem_2015.tif"), e2e::geotiff_fixture("dem_2015.tif"));
        write_file(site("dem_2020.tif"), e2e::geotiff_fixture("dem_2020.tif"));
        for (const char *name : {"err_2015.tif", "err_2020.asc", "err_shifted.asc", "err_negative.asc",
                                 "dem_2020_part.tif", "err_2020_part.asc"})
            write_file(site(name), fixture(name));
        // Another DEM's cells.
        write_file(site("elev.asc"), e2e::geotiff_fixture("elev.asc"));
    }
    void TearDown() override { e2e::remove_root(root); }
    std::string site(const std::string &name) const { return root + "/images/site/" + name; }

    // Runs the session and compares its budget file with numpy's figures.
    e2e::run_result session(const std::string &answers, const std::string &expected, const std::string &budget_file,
                            const std::string &second = "dem_2020")
    {
        e2e::run_result r = e2e::run_program(root, "site\ndem_2015\n2\n" + second + "\n2\n" + answers);
        EXPECT_EQ(r.status, 0) << r.console;
        const auto want = csv_row(fixture("expected_budgets.csv"), expected);
        EXPECT_EQ(want.at("session"), expected);
        const auto got = csv_row(read_file(site(budget_file)));
        for (const auto &figure : want) {
            if (figure.first == "session" || figure.first == "t")
                continue;
            const double w = std::stod(figure.second);
            EXPECT_NEAR(std::stod(got.at(figure.first)), w, 1e-9 * std::fabs(w) + 1e-9) << figure.first;
        }
        EXPECT_EQ(got.at("limit_m"), "");
        return r;
    }
    std::string root;
};

TEST_F(ConfidenceSession, UniformErrorsAt95PercentAreALimitOfTTimesTheirRootSumOfSquares)
{
    e2e::run_result r = session("conf\n0\n0\n2\n0.1\n0.15\n95\n", "uniform_95", "conf_val_abs_budget.csv");
    const std::string questions =
        "\n\tError of the first DEM (standard deviation in meters, or name of an error grid) ? "
        "\n\tError of the second DEM (standard deviation in meters, or name of an error grid) ? "
        "\n\tConfidence level of the detection (in percent, above 0 and below 100) ? ";
    EXPECT_NE(r.console.find("2 ====> at a confidence level, from each DEM's error\n\t\t" + questions),
              std::string::npos);
    EXPECT_NE(r.console.find("\n\t\ttest of the change" + std::string(22, ' ') +
                             " : 95 % confidence, t 1.959964, first "
                             "DEM's error 0.100000 m, second DEM's error 0.150000 m: |change| >= 0.353338 m\n"),
              std::string::npos)
        << r.console;
    const auto got = csv_row(read_file(site("conf_val_abs_budget.csv")));
    EXPECT_EQ(got.at("confidence_pct"), "95.000000");
    EXPECT_EQ(got.at("sigma_first_m"), "0.100000");
    EXPECT_EQ(got.at("sigma_second_m"), "0.150000");
    // The rise of 0.35 m below 185 m stays under 0.353338 m: no cell of the result but
    // those that lowered by 0.6 m or more, and 0 elsewhere.
    const std::string grid = read_file(site("conf_val_abs.asc"));
    EXPECT_EQ(e2e::occurrences(grid, "\t0.350000"), 0u);
    EXPECT_GT(e2e::occurrences(grid, "\t0.000000"), 1000u);
}

TEST_F(ConfidenceSession, AnErrorGridBesideAUniformErrorAt90PercentAfterEveryRefusal)
{
    const struct {
        const char *answer, *message;
    } refusals[] = {
        {"-0.1", "\n\t-0.1 is not an error: a standard deviation is a number of meters, 0 or more. Please answer "
                 "again.\n"},
        {"nan", "\n\tnan is not an error"},
        {"nosuch", "\n\tnosuch is neither a number nor an error grid: there is no file nosuch.tif nor nosuch.asc in "
                   "c:\\images\\site\\. Please answer again.\n"},
        {"elev", "\n\tThe error grid c:\\images\\site\\elev.asc has 90 lines and 95 columns, its DEM 41 lines and 41 "
                 "columns: an error grid lies on the cells of its DEM. Please give another error.\n"},
        {"err_shifted", "\n\tThe error grid c:\\images\\site\\err_shifted.asc lies on other cells than its DEM "
                        "(corner 483300.000000 5627295.000000, cells of 30.000000; the DEM's corner 483285.000000 "
                        "5627295.000000, cells of 30.000000)"},
        {"err_negative", "\n\tThe error grid c:\\images\\site\\err_negative.asc holds a negative error (-0.100000 at "
                         "line 4, column 5)"},
    };
    std::string answers = "conf\n0\n3\n2\n";
    for (const auto &refusal : refusals)
        answers += std::string(refusal.answer) + "\n";
    answers += "err_2015\n0.15\n0\n100\nabc\n90\n";
    e2e::run_result r = session(answers, "grid_beside_uniform_90", "conf_val_sgn_budget.csv");
    for (const auto &refusal : refusals)
        EXPECT_NE(r.console.find(refusal.message), std::string::npos) << refusal.answer << "\n" << r.console;
    for (const char *level : {"0", "100", "abc"})
        EXPECT_NE(r.console.find(std::string("\n\t") + level +
                                 " is not a confidence level: give a percentage above 0 and below 100, such as 95. "
                                 "Please answer again.\n"),
                  std::string::npos)
            << level;
    // The grid's mean, from numpy.
    EXPECT_NE(r.console.find(": 90 % confidence, t 1.644854, first DEM's error c:\\images\\site\\err_2015.tif (mean "
                             "0.111523 m), second DEM's error 0.150000 m\n"),
              std::string::npos)
        << r.console;
    const auto got = csv_row(read_file(site("conf_val_sgn_budget.csv")));
    EXPECT_EQ(got.at("sigma_first_m"), "");
    EXPECT_EQ(got.at("sigma_second_m"), "0.150000");
}

TEST_F(ConfidenceSession, ACellWithoutAnErrorHasNoData)
{
    // The second epoch's error grid has no data in 25 cells, 25 beside its own 14.
    e2e::run_result r = session("conf\n0\n2\n2\n0.1\nerr_2020\n99\n", "no_data_in_grid_99", "conf_val_pos_budget.csv");
    EXPECT_NE(r.console.find("\n\t\tcells with data in both grids" + std::string(11, ' ') +
                             " : 1642 of 1681 (39 without data)\n"),
              std::string::npos)
        << r.console;
    const std::string grid = read_file(site("conf_val_pos.asc"));
    EXPECT_EQ(e2e::occurrences(grid, "-9999.999900"), 39u);
}

// The second epoch is a part of the first's extent: the run differences the common
// part, and the second's error grid, on the second's own cells, follows it there.
TEST_F(ConfidenceSession, AnErrorGridFollowsItsDemOntoTheCommonPart)
{
    e2e::run_result r = session("conf\n0\n0\n2\n0.1\nerr_2020_part\n99\n", "grid_follows_part_of_second_99",
                                "conf_val_abs_budget.csv", "dem_2020_part");
    EXPECT_NE(r.console.find(" : 965 of 990 (25 without data)\n"), std::string::npos) << r.console;
    // On the first DEM's cells, the part's error grid is refused.
    r = e2e::run_program(root, "site\ndem_2015\n2\ndem_2020_part\n2\nconf\n0\n0\n2\nerr_2020_part\n");
    EXPECT_NE(r.console.find("\n\tThe error grid c:\\images\\site\\err_2020_part.asc has 33 lines and 30 columns, its "
                             "DEM 41 lines and 41 columns"),
              std::string::npos)
        << r.console;
}

} // namespace
