// Whole sessions on real DEMs in their coordinate systems: each output form carries the
// result's system (read back by PROJ always, and by GDAL where it is installed), and a
// system PROJ cannot read is said so.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "coordinates/coordinate_system.h"
#include "coordinates/geotiff_keys.h"
#include "e2e_support.h"
#include "geotiff_files.h"

namespace {

class SystemSession : public ::testing::Test {
protected:
    void SetUp() override { root = e2e::make_root(); }
    void TearDown() override { e2e::remove_root(root); }
    std::string site(const std::string &name) const { return root + "/images/site/" + name; }
    e2e::run_result run(const std::string &answers) const { return e2e::run_program(root, answers); }

    // The system of a GeoTIFF output, as the program reads GeoKeys.
    std::string tiff_system(const std::string &name) const
    {
        std::string problem;
        return crs_from_geokeys(e2e::read_tiff(e2e::read_file(site(name))).layout.keys, &problem);
    }

    // GDAL's reading of each output's system against the one expected (any text GDAL's
    // SetFromUserInput takes): "same" for each, or what differs.
    std::string gdal_says(const std::string &outputs_and_systems) const
    {
#ifdef _WIN32
        (void)outputs_and_systems;
        return "no GDAL";
#else
        if (std::system("/usr/bin/python3 -c 'import osgeo.gdal' > /dev/null 2>&1") != 0)
            return "no GDAL";
        e2e::write_file(site("check.py"), R"(import sys
from osgeo import gdal, osr
gdal.UseExceptions()
args = sys.argv[2:]
for name, expected in zip(args[0::2], args[1::2]):
    read = osr.SpatialReference(gdal.Open(sys.argv[1] + name).GetProjection())
    wanted = osr.SpatialReference()
    wanted.SetFromUserInput(expected)
    print("same" if read.IsSame(wanted, ["IGNORE_DATA_AXIS_TO_SRS_AXIS_MAPPING=YES"]) else name + ": " + read.ExportToWkt())
)");
        FILE *check = popen(("/usr/bin/python3 " + site("check.py") + " " + site("") + " " + outputs_and_systems +
                             " 2>&1")
                                .c_str(),
                            "r");
        std::string said = e2e::file_text(check);
        pclose(check);
        return said;
#endif
    }

    std::string root;
};

std::string epsg(int code)
{
    std::string problem;
    return crs_from_text("EPSG:" + std::to_string(code), &problem);
}

// A transverse Mercator on GRS 80 that the registry does not hold, as ESRI's WKT.
const char USER_TM[] =
    "PROJCS[\"site grid\",GEOGCS[\"GCS_ETRS_1989\",DATUM[\"D_ETRS_1989\",SPHEROID[\"GRS_1980\",6378137.0,"
    "298.257222101]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]],PROJECTION["
    "\"Transverse_Mercator\"],PARAMETER[\"False_Easting\",400000.0],PARAMETER[\"False_Northing\",-5000000.0],"
    "PARAMETER[\"Central_Meridian\",8.5],PARAMETER[\"Scale_Factor\",0.9999],PARAMETER[\"Latitude_Of_Origin\","
    "0.0],UNIT[\"Meter\",1.0]]";

TEST_F(SystemSession, EveryOutputFormCarriesTheFirstDemsSystem)
{
    // UTM zone 32N in GeoKeys: the ASCII grid gets GDAL's NAME.prj, the raster pair none.
    e2e::write_file(site("dem_2015.tif"), e2e::geotiff_fixture("dem_2015.tif"));
    e2e::write_file(site("dem_2020.tif"), e2e::geotiff_fixture("dem_2020.tif"));
    e2e::run_result r = run("site\ndem_2015\n2\ndem_2020\n2\nchange\n0\n0\n1\n");
    ASSERT_EQ(r.status, 0) << r.console;
    EXPECT_EQ(r.console.find("coordinate system"), std::string::npos) << r.console;
    const std::string prj = e2e::read_file(site("change_val_abs.prj"));
    EXPECT_EQ(prj, crs_prj_text(epsg(32632)));
    std::string problem;
    EXPECT_TRUE(same_coordinate_system(crs_from_text(prj, &problem), epsg(32632)));
    EXPECT_NE(e2e::read_file(site("change_val_abs_report.html"))
                  .find("<tr><th>second grid's coordinate system</th><td>WGS 84 / UTM zone 32N (EPSG 32632)</td>"),
              std::string::npos);
    r = run("site\ndem_2015\n2\ndem_2020\n2\nchange\n1\n0\n1\n0\n5\n2\n");
    ASSERT_EQ(r.status, 0);
    EXPECT_FALSE(e2e::file_exists(site("change_val_abs_m2.prj")));
    EXPECT_FALSE(e2e::file_exists(site("change_val_abs_m2.txt.prj")));

    // ASCII grids whose .prj holds a system of no EPSG code, the second without one: a
    // GeoTIFF that spells it out, an ASCII grid with it beside.
    const std::string grid = e2e::geotiff_fixture("dem_diff_abs.asc");
    e2e::write_file(site("old.asc"), grid);
    e2e::write_file(site("old.prj"), USER_TM);
    e2e::write_file(site("new.asc"), grid);
    r = run("site\nold\n0\nnew\n0\nsame\n2\n0\n1\n");
    ASSERT_EQ(r.status, 0) << r.console;
    EXPECT_EQ(r.console.find("coordinate system"), std::string::npos) << r.console;
    const std::string user_tm = crs_from_text(USER_TM, &problem);
    EXPECT_TRUE(same_coordinate_system(tiff_system("same_val_abs.tif"), user_tm));
    r = run("site\nnew\n0\nold\n0\nback\n0\n0\n1\n");
    ASSERT_EQ(r.status, 0);
    EXPECT_TRUE(same_coordinate_system(crs_from_text(e2e::read_file(site("back_val_abs.prj")), &problem), user_tm));

    // A grid in degrees whose .prj is GDAL's: the GeoTIFF declares EPSG 4326.
    const std::string lux = std::string(ORMELIX_SOURCE_DIR) + "/tests/data/srtm_luxembourg/";
    e2e::write_file(site("lux_2000.asc"), e2e::read_file(lux + "lux_2000.asc"));
    e2e::write_file(site("lux_2000.prj"), e2e::read_file(lux + "lux_2000.prj"));
    e2e::write_file(site("lux_2010.asc"), e2e::read_file(lux + "lux_2010.asc"));
    r = run("site\nlux_2000\n0\nlux_2010\n0\nlux\n2\n0\n1\n");
    ASSERT_EQ(r.status, 0) << r.console;
    EXPECT_NE(r.console.find("degrees (areas on the WGS 84 ellipsoid)"), std::string::npos);
    uint16_t code = 0;
    EXPECT_TRUE(geokey_short(e2e::read_tiff(e2e::read_file(site("lux_val_abs.tif"))).layout.keys,
                             GEOKEY_GEOGRAPHIC_TYPE, &code));
    EXPECT_EQ(code, 4326);

    const std::string said = gdal_says("change_val_abs.asc EPSG:32632 same_val_abs.tif '" + std::string(USER_TM) +
                                       "' back_val_abs.asc '" + USER_TM + "' lux_val_abs.tif EPSG:4326");
    if (said == "no GDAL")
        GTEST_SKIP() << "no /usr/bin/python3 with GDAL's osgeo";
    EXPECT_EQ(said, "same\nsame\nsame\nsame\n");
}

TEST_F(SystemSession, ASystemProjCannotReadIsSaidAndTheRunGoesOn)
{
    e2e::write_file(site("old.asc"), e2e::geotiff_fixture("dem_diff_abs.asc"));
    e2e::write_file(site("old.prj"), "PROJCS[\"half written\",GEOGCS[");
    e2e::write_file(site("new.asc"), e2e::geotiff_fixture("dem_diff_abs.asc"));
    const e2e::run_result r = run("site\nold\n0\nnew\n0\nsame\n0\n0\n1\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.console.find("\n\t        AND 41 COLUMNS\n"
                             "\n\tWarning: the coordinate system in file c:\\images\\site\\old.prj cannot be read ("),
              std::string::npos)
        << r.console;
    EXPECT_NE(r.console.find("): the DEM is taken to declare none.\n"), std::string::npos);
    EXPECT_FALSE(e2e::file_exists(site("same_val_abs.prj")));
}

// The grid of an ASCII file, line after line, NaN for its no-data value.
std::vector<double> ascii_cells(const std::string &text, int32_t *lines, int32_t *columns)
{
    std::istringstream in(text);
    std::string word;
    std::vector<double> cells;
    double nodata = 0;
    for (int k = 0; k < 6 && in >> word; k++) {
        double value = 0;
        in >> value;
        if (word == "ncols")
            *columns = static_cast<int32_t>(value);
        else if (word == "nrows")
            *lines = static_cast<int32_t>(value);
        else if (word == "nodata_value")
            nodata = value;
    }
    double value;
    while (in >> value)
        cells.push_back(value == nodata ? NAN : value);
    return cells;
}

// dem_2020_utm33.tif is the second epoch warped by GDAL into UTM zone 33N: the program
// carries the first epoch's cell centres into it and takes its values there, as pyproj
// and numpy did for dem_diff_abs_utm33.asc (to the 1/100 of a cell of the lattice).
TEST_F(SystemSession, AnEpochInAnotherUtmZoneIsReprojectedOntoTheFirstsCells)
{
    e2e::write_file(site("dem_2015.tif"), e2e::geotiff_fixture("dem_2015.tif"));
    e2e::write_file(site("dem_2020.tif"), e2e::geotiff_fixture("dem_2020_utm33.tif"));
    const e2e::run_result r = run("site\ndem_2015\n2\ndem_2020\n2\nchange\n0\n0\n1\n");
    ASSERT_EQ(r.status, 0) << r.console;
    EXPECT_NE(r.console.find("\n\t        AND 44 COLUMNS\n"
                             "\n\tThe second DEM covers 41 lines and 41 columns of the first DEM's cells, lower-left "
                             "corner 483285.000000 5627295.000000:"
                             "\n\t\tlines 1 to 41 and columns 1 to 41 of the first DEM"
                             "\n\tTheir difference is taken on these cells.\n"
                             "\n\tWarning: the two DEMs do not declare the same coordinate system:"
                             "\n\t\tfirst DEM : WGS 84 / UTM zone 32N (EPSG 32632)"
                             "\n\t\tsecond DEM: WGS 84 / UTM zone 33N (EPSG 32633)"
                             "\n\tThe second DEM is reprojected onto the first DEM's cells: each cell's centre "
                             "carried into its system by PROJ, its value there bilinear from its four nearest cell "
                             "centres.\n\n\n\tName of the DEM to be created"),
              std::string::npos)
        << r.console;
    int32_t lines = 0, columns = 0, expected_lines = 0, expected_columns = 0;
    const std::string result = e2e::read_file(site("change_val_abs.asc"));
    const std::string expected_text = e2e::geotiff_fixture("dem_diff_abs_utm33.asc");
    EXPECT_EQ(result.substr(0, result.find("nodata")), e2e::text_file(expected_text.substr(0, expected_text.find("nodata"))));
    const std::vector<double> got = ascii_cells(result, &lines, &columns);
    const std::vector<double> expected = ascii_cells(expected_text, &expected_lines, &expected_columns);
    ASSERT_EQ(got.size(), expected.size());
    for (size_t k = 0; k < got.size(); k++) {
        ASSERT_EQ(std::isnan(got[k]), std::isnan(expected[k])) << "cell " << k;
        if (!std::isnan(got[k])) {
            EXPECT_NEAR(got[k], expected[k], 1e-3) << "cell " << k;
        }
    }
    std::string problem;
    EXPECT_TRUE(same_coordinate_system(crs_from_text(e2e::read_file(site("change_val_abs.prj")), &problem), epsg(32632)));
    EXPECT_NE(e2e::read_file(site("change_val_abs_report.html")).find("the second grid reprojected onto the first grid"),
              std::string::npos);
#ifndef _WIN32
    // gdalwarp's bilinear as a second look: it weighs a no-data neighbour out where the
    // program gives no data, so only the cells both have are compared, loosely.
    if (std::system("/usr/bin/python3 -c 'import osgeo.gdal, numpy' > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "no /usr/bin/python3 with GDAL's osgeo and numpy";
    e2e::write_file(site("look.py"), R"(import sys
import numpy
from osgeo import gdal
gdal.UseExceptions()
d = sys.argv[1]
w = gdal.Warp("", d + "dem_2020.tif", format="MEM", dstSRS="EPSG:32632", outputBounds=(483285, 5627295, 484515, 5628525),
              xRes=30, yRes=30, resampleAlg="bilinear")
b = w.ReadAsArray().astype(numpy.float64)
b[b == w.GetRasterBand(1).GetNoDataValue()] = numpy.nan
gdal_diff = numpy.abs(gdal.Open(d + "dem_2015.tif").ReadAsArray().astype(numpy.float64) - b)
t = open(d + "change_val_abs.asc").read().split()
ours = numpy.array([float(v) for v in t[12:]]).reshape(41, 41)
both = (ours != -9999.9999) & ~numpy.isnan(gdal_diff)
apart = numpy.abs(ours - gdal_diff)[both]
print("close" if both.sum() > 1400 and apart.mean() < 0.1 and numpy.percentile(apart, 95) < 0.3 else apart)
)");
    FILE *look = popen(("/usr/bin/python3 " + site("look.py") + " " + site("") + " 2>&1").c_str(), "r");
    EXPECT_EQ(e2e::file_text(look), "close\n");
    pclose(look);
#endif
}

// A site's own grid, which no transformation ties to the map: the run stops naming both.
TEST_F(SystemSession, NoTransformationBetweenTheSystemsStopsTheRun)
{
    e2e::write_file(site("dem_2015.tif"), e2e::geotiff_fixture("dem_2015.tif"));
    e2e::write_file(site("site.asc"), e2e::geotiff_fixture("dem_diff_abs.asc"));
    e2e::write_file(site("site.prj"),
                    "LOCAL_CS[\"site grid\",LOCAL_DATUM[\"pillar 7\",0],UNIT[\"metre\",1],AXIS[\"X\",EAST],AXIS[\"Y\",NORTH]]");
    const e2e::run_result r = run("site\ndem_2015\n2\nsite\n0\nchange\n0\n0\n1\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.console.find("\n\tPROJ knows no transformation between the coordinate systems of the two DEMs:"
                             "\n\t\tc:\\images\\site\\dem_2015.tif: WGS 84 / UTM zone 32N (EPSG 32632)"
                             "\n\t\tc:\\images\\site\\site.asc: site grid (no EPSG code)"
                             "\n\tReproject one of them into the other's system first.\n"),
              std::string::npos)
        << r.console;
    EXPECT_EQ(r.console.find("Name of the DEM to be created"), std::string::npos);
}

} // namespace
