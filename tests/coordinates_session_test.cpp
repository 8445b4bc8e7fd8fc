// Whole sessions on real DEMs in their coordinate systems: each output form carries the
// result's system (read back by PROJ always, and by GDAL where it is installed), and a
// system PROJ cannot read is said so.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

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

} // namespace
