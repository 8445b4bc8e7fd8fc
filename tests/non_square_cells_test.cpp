// Whole sessions on real grids whose cells are wider than high, as GDAL makes them
// (tests/data/geotiff/README.md): read, weighed, and written in each output form.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "e2e_support.h"
#include "geotiff_files.h"

namespace {

using e2e::geotiff_fixture;
using e2e::read_file;
using e2e::write_file;

const std::string FORMAT_MENU =
    "\n\tFormat Type :\n\t\t0 ====> ascii\n\t\t1 ====> raster\n\t\t2 ====> geotiff\n\t\t";
const std::string TREATMENT_MENU = "\n\n\tType of treatment : "
                                   "\n\t\t0 ====> absolute values\n\t\t1 ====> negative values"
                                   "\n\t\t2 ====> positive values\n\t\t3 ====> signed values\n\t\t";

// The first lines of an ASCII grid, each as its keyword in lower case and its value.
std::vector<std::pair<std::string, std::string>> header_lines(const std::string &grid, int count)
{
    std::istringstream text(grid);
    std::vector<std::pair<std::string, std::string>> lines;
    std::string keyword, value;
    for (int i = 0; i < count && text >> keyword >> value; i++) {
        for (char &c : keyword)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        lines.emplace_back(keyword, value);
    }
    return lines;
}

std::string twelve_decimals(double value)
{
    std::ostringstream text;
    text << std::fixed << std::setprecision(12) << value;
    return text.str();
}

// Our header against the one GDAL writes for the same grid: the same keywords in the same
// order, each value the same when printed as GDAL prints it (twelve decimals).
void expect_gdal_header(const std::string &ours, const std::string &gdals)
{
    const auto mine = header_lines(ours, 6), theirs = header_lines(gdals, 6);
    ASSERT_EQ(mine.size(), 6u);
    ASSERT_EQ(theirs.size(), 6u);
    for (size_t i = 0; i < 6; i++) {
        EXPECT_EQ(mine[i].first, theirs[i].first);
        const std::string value =
            i < 2 ? mine[i].second : twelve_decimals(std::strtod(mine[i].second.c_str(), nullptr));
        EXPECT_EQ(value, theirs[i].second) << mine[i].first;
    }
}

using e2e::body_words;

class NonSquareCells : public ::testing::Test {
protected:
    void SetUp() override { root = e2e::make_root(); }
    void TearDown() override { e2e::remove_root(root); }
    std::string site(const std::string &name) const { return root + "/images/site/" + name; }
    e2e::run_result run(const std::string &answers) const { return e2e::run_program(root, answers); }

    // GDAL reads each output with the geotransform it reads in the input: "same" when it does.
    std::string gdal_reads_the_same_cells(const std::string &input, const std::vector<std::string> &outputs)
    {
        std::string script = "from osgeo import gdal\ngdal.UseExceptions()\n"
                             "g = gdal.Open('" + site(input) + "').GetGeoTransform()\n";
        for (const std::string &output : outputs)
            script += "assert gdal.Open('" + site(output) + "').GetGeoTransform() == g, ('" + output +
                      "', gdal.Open('" + site(output) + "').GetGeoTransform(), g)\n";
        write_file(site("check.py"), script + "print('same')\n");
#ifdef _WIN32
        return "";
#else
        FILE *check = popen(("/usr/bin/python3 " + site("check.py") + " 2>&1").c_str(), "r");
        if (check == nullptr)
            return "";
        std::string said = e2e::file_text(check);
        pclose(check);
        return said;
#endif
    }

    std::string root;
};

bool have_gdal()
{
#ifdef _WIN32
    return false;  // looked for as Debian installs it
#else
    return std::system("/usr/bin/python3 -c 'import osgeo.gdal' > /dev/null 2>&1") == 0;
#endif
}

// Two epochs of DEM.TIF on cells of 30 m by 20 m, to each output form.
TEST_F(NonSquareCells, ProjectedEpochsGiveGdalsDifferenceInEveryForm)
{
    write_file(site("a.tif"), geotiff_fixture("dem_2015_30x20.tif"));
    write_file(site("b.tif"), geotiff_fixture("dem_2020_30x20.tif"));
    const std::string gdal_diff = geotiff_fixture("dem_diff_abs_30x20.asc");
    // Cells of 600 m2; volumes summed by math.fsum over GDAL's Float64 difference.
    const char *const budget[] = {
        "(cells of 30.000000 by 20.000000 m) :",
        "first above second, raw       : 412 cells, 247200.000000 m2, 198359.976196 m3, mean 0.802427 m",
        "first below second, raw       : 1017 cells, 610200.000000 m2, 213573.724365 m3, mean 0.350006 m",
        "net volume, raw               : -15213.748169 m3",
        "output grid, absolute values  : 1429 cells, 857400.000000 m2, 411933.700562 m3, mean 0.480445 m",
    };

    e2e::run_result r = run("site\na\n2\nb\n2\nchange\n0\n0\n1\n");
    EXPECT_EQ(r.status, 0) << r.console;
    for (const char *line : budget)
        EXPECT_NE(r.console.find(line), std::string::npos) << line << r.console;
    const std::string asc = read_file(site("change_val_abs.asc"));
    const std::string header = e2e::text_file("ncols 41\nnrows 61\nxllcorner 483285.000000\nyllcorner "
                                              "5627305.000000\ndx 30.000000\ndy 20.000000\nnodata_value -9999.9999\n");
    EXPECT_EQ(asc.substr(0, header.size()), header);
    expect_gdal_header(asc, gdal_diff);
    EXPECT_EQ(body_words(asc, 7), body_words(gdal_diff, 7));

    // A raster pair is refused and the form menu comes back, before any other question.
    r = run("site\na\n2\nb\n2\nchange\n1\n2\n0\n1\n");
    EXPECT_EQ(r.status, 0) << r.console;
    EXPECT_NE(r.console.find(FORMAT_MENU +
                             "\n\tThe cells of these grids are not square (dx 30.000000, dy 20.000000), and a "
                             "raster pair's descriptor holds one pixel size: choose the ascii or the geotiff form.\n" +
                             FORMAT_MENU + TREATMENT_MENU),
              std::string::npos)
        << r.console;
    const e2e::tiff_read tif = e2e::read_tiff(read_file(site("change_val_abs.tif")));
    ASSERT_TRUE(tif.read);
    EXPECT_EQ(tif.layout.placement.xll, 483285.0);
    EXPECT_EQ(tif.layout.placement.yll, 5627305.0);
    EXPECT_EQ(tif.layout.placement.dx, 30.0);
    EXPECT_EQ(tif.layout.placement.dy, 20.0);
    const std::vector<std::string> expected = body_words(gdal_diff, 7);
    ASSERT_EQ(tif.cells.size(), expected.size());
    size_t wrong = 0;
    for (size_t k = 0; k < expected.size(); k++) {
        const double value = std::strtod(expected[k].c_str(), nullptr);
        if (value == -9999.9999 ? tif.cells[k] == tif.cells[k] : std::fabs(tif.cells[k] - value) > 5e-6)
            wrong++;
    }
    EXPECT_EQ(wrong, 0u);
    EXPECT_FALSE(e2e::file_exists(site("change_val_abs_m2.raw")));

    if (!have_gdal())
        GTEST_SKIP() << "no /usr/bin/python3 with GDAL's osgeo";
    EXPECT_EQ(gdal_reads_the_same_cells("a.tif", {"change_val_abs.asc", "change_val_abs.tif"}), "same\n");
}

// elev.tif on cells of 45 by 30 arc-seconds, as the Copernicus tiles north of 50 degrees
// have them (1.5 by 1 arc-second): each cell a band of 30" over 45" of the ellipsoid.
TEST_F(NonSquareCells, CellsInDegreesWeighTheirBandOfTheEllipsoid)
{
    write_file(site("a.tif"), geotiff_fixture("elev_45x30.tif"));
    write_file(site("b.tif"), geotiff_fixture("elev_45x30_2010.tif"));
    e2e::run_result r = run("site\na\n2\nb\n2\nchange\n0\n0\n1\n");
    EXPECT_EQ(r.status, 0) << r.console;
    EXPECT_NE(r.console.find("CHANGE BUDGET OF c:\\images\\site\\change_val_abs.asc (cells of 0.012500 by "
                             "0.008333333333333333 degrees (areas on the WGS 84 ellipsoid)) :"),
              std::string::npos)
        << r.console;
    // pyproj's geodesic areas of each line's cell (tests/data/geotiff/README.md).
    const struct {
        const char *line;
        double area, volume;
    } figures[] = {{"first above second, raw       : 694 cells, ", 576631972.9644969, 386254992.34445626},
                   {"first below second, raw       : 254 cells, ", 212395908.6368284, 74339864.384637},
                   {"output grid, absolute values  : 948 cells, ", 789027881.6013253, 460594856.72909325}};
    for (const auto &figure : figures) {
        const size_t at = r.console.find(figure.line);
        double area = 0, volume = 0;
        ASSERT_NE(at, std::string::npos) << figure.line << r.console;
        ASSERT_EQ(std::sscanf(r.console.c_str() + at + std::strlen(figure.line), "%lf m2, %lf m3", &area, &volume), 2);
        EXPECT_NEAR(area, figure.area, figure.area * 1e-11) << figure.line;
        EXPECT_NEAR(volume, figure.volume, figure.volume * 1e-11) << figure.line;
    }
    // The header is GDAL's, to the last of its twelve decimals, and exact beyond them.
    const std::string asc = read_file(site("change_val_abs.asc"));
    expect_gdal_header(asc, geotiff_fixture("elev_45x30_header.asc"));
    EXPECT_EQ(asc.substr(0, asc.find("nodata")),
              e2e::text_file("ncols 63\nnrows 90\nxllcorner 5.741666666666666\nyllcorner 49.44166666666666\n"
                             "dx 0.012500\ndy 0.008333333333333333\n"));
    if (!have_gdal())
        GTEST_SKIP() << "no /usr/bin/python3 with GDAL's osgeo";
    EXPECT_EQ(gdal_reads_the_same_cells("a.tif", {"change_val_abs.asc"}), "same\n");
}

// An ASCII grid with GDAL's dx and dy lines, to an ASCII grid with them.
TEST_F(NonSquareCells, AsciiDxAndDyLinesComeBackAsTheyWere)
{
    const std::string lux = read_file(std::string(ORMELIX_SOURCE_DIR) + "/tests/data/srtm_luxembourg/lux_dx_dy.asc");
    write_file(site("coarse.asc"), lux);
    write_file(site("again.asc"), lux);
    e2e::run_result r = run("site\ncoarse\n0\nagain\n0\nchange\n1\n0\n0\n1\n");
    EXPECT_EQ(r.status, 0) << r.console;
    EXPECT_NE(r.console.find("\n\tThe cells of these grids are not square (dx 0.016666666667, dy 0.008333333333)"),
              std::string::npos)
        << r.console;
    EXPECT_NE(r.console.find("(cells of 0.016667 by 0.008333 m) :"), std::string::npos) << r.console;
    EXPECT_EQ(read_file(site("change_val_abs.asc")),
              e2e::text_file("ncols 2\nnrows 3\nxllcorner 5.908333333333\nyllcorner 50.000000\n"
                             "dx 0.016666666667\ndy 0.008333333333\nnodata_value -9999.9999\n"
                             "0.000000\t0.000000\t0.000000\t0.000000\t0.000000\t0.000000\t"));
}

} // namespace
