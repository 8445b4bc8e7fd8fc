// Coordinate systems through PROJ: GeoTIFFs that GDAL wrote in each system GeoTIFF can
// spell out, read as GDAL reads them; the keys written back read the same; a .prj in
// each WKT dialect; the names the console shows.
#include "coordinates/carried_positions.h"
#include "coordinates/coordinate_system.h"
#include "coordinates/geotiff_keys.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "gridfiles/geotiff_reader.h"
#include "geotiff_files.h"

namespace {

std::string epsg(int code)
{
    std::string problem;
    return crs_from_text("EPSG:" + std::to_string(code), &problem);
}

// tests/data/geotiff/systems/gdal_wkt2.txt: each file and GDAL's WKT2 of its system.
std::map<std::string, std::string> gdal_readings()
{
    std::ifstream in(std::string(ORMELIX_SOURCE_DIR) + "/tests/data/geotiff/systems/gdal_wkt2.txt");
    std::map<std::string, std::string> found;
    std::string line;
    while (std::getline(in, line))
        found[line.substr(0, line.find(' '))] = line.substr(line.find(' ') + 1);
    return found;
}

uint16_t key_value(const geo_keys &keys, uint16_t id)
{
    for (const geokey &key : read_geokeys(keys))
        if (key.id == id && !key.numbers.empty())
            return static_cast<uint16_t>(key.numbers[0]);
    return 0;
}

TEST(CoordinateSystems, GeotiffKeysReadAsGdalReadsThemAndWrittenBackTheSame)
{
    struct case_of_keys {
        const char *file;
        bool geographic;
        int code;       // the EPSG code PROJ identifies, 0 none
        int transform;  // GeoTIFF's number of the projection written, 0 none
    };
    const case_of_keys cases[] = {
        {"tmerc_grs80.tif", false, 0, 1},     {"lcc_2sp.tif", false, 0, 8},      {"lcc_1sp.tif", false, 0, 9},
        {"polar_a.tif", false, 5042, 0},      {"polar_b.tif", false, 0, 15},     {"albers_nad83.tif", false, 0, 11},
        {"mercator_a.tif", false, 0, 7},      {"mercator_b.tif", false, 0, 7},   {"gauss_kruger.tif", false, 31467, 0},
        {"geographic_user.tif", true, 0, 0},  {"etrs89.tif", true, 4258, 0},     {"robinson_pe.tif", false, 0, 0},
        {"../dem_2015.tif", false, 32632, 0}, {"../elev_lzw_strips.tif", true, 4326, 0},
    };
    const std::map<std::string, std::string> gdal = gdal_readings();
    for (const case_of_keys &c : cases) {
        SCOPED_TRACE(c.file);
        const geo_keys keys = e2e::read_tiff(e2e::geotiff_fixture(std::string("systems/") + c.file)).layout.keys;
        std::string problem;
        const std::string crs = crs_from_geokeys(keys, &problem);
        ASSERT_FALSE(crs.empty()) << problem;
        EXPECT_EQ(crs_is_geographic(crs), c.geographic);
        EXPECT_EQ(crs_epsg_code(crs), c.code);
        const std::string name = c.file;
        if (gdal.count(name) > 0) {
            const std::string gdals = crs_from_text(gdal.at(name), &problem);
            EXPECT_TRUE(same_coordinate_system(crs, gdals)) << crs << "\n" << gdals;
        } else {
            EXPECT_TRUE(same_coordinate_system(crs, epsg(c.code)));
        }
        // Written back: the same system, the projection under GDAL's number for it.
        const geo_keys written = crs_geokeys(crs);
        const std::string again = crs_from_geokeys(written, &problem);
        EXPECT_TRUE(same_coordinate_system(crs, again)) << crs << "\n" << again;
        EXPECT_EQ(key_value(written, GEOKEY_MODEL_TYPE), c.geographic ? 1 + 1 : 1);
        EXPECT_EQ(key_value(written, 3075), c.transform);
        EXPECT_EQ(key_value(written, c.geographic ? GEOKEY_GEOGRAPHIC_TYPE : GEOKEY_PROJECTED_TYPE),
                  c.code > 0 ? c.code : 32767);
    }
}

TEST(CoordinateSystems, PrjTextsInEveryDialectAndWhatCannotBeRead)
{
    struct case_of_text {
        const char *text;
        int same_as;  // EPSG code of an equivalent system, 0 when PROJ cannot read it
    };
    const case_of_text cases[] = {
        // GDAL's WKT1 (lat/long axes), ESRI's as GDAL writes beside an ASCII grid, WKT2.
        {"GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563,AUTHORITY[\"EPSG\",\"7030\"]],"
         "AUTHORITY[\"EPSG\",\"6326\"]],PRIMEM[\"Greenwich\",0,AUTHORITY[\"EPSG\",\"8901\"]],UNIT[\"degree\","
         "0.0174532925199433,AUTHORITY[\"EPSG\",\"9122\"]],AXIS[\"Latitude\",NORTH],AXIS[\"Longitude\",EAST],"
         "AUTHORITY[\"EPSG\",\"4326\"]]",
         4326},
        {"\xEF\xBB\xBFGEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137.0,298.257223563]],"
         "PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]]\r\n",
         4326},
        {"PROJCS[\"ETRS_1989_UTM_Zone_32N\",GEOGCS[\"GCS_ETRS_1989\",DATUM[\"D_ETRS_1989\",SPHEROID[\"GRS_1980\","
         "6378137.0,298.257222101]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]],PROJECTION["
         "\"Transverse_Mercator\"],PARAMETER[\"False_Easting\",500000.0],PARAMETER[\"False_Northing\",0.0],"
         "PARAMETER[\"Central_Meridian\",9.0],PARAMETER[\"Scale_Factor\",0.9996],PARAMETER[\"Latitude_Of_Origin\","
         "0.0],UNIT[\"Meter\",1.0]]",
         25832},
        // A datum shift bound to it and heights beside it: the horizontal system.
        {"COMPD_CS[\"x\",PROJCS[\"WGS 84 / UTM zone 33N\",GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\","
         "6378137,298.257223563],TOWGS84[0,0,0,0,0,0,0]],PRIMEM[\"Greenwich\",0],UNIT[\"degree\",0.0174532925199433]],"
         "PROJECTION[\"Transverse_Mercator\"],PARAMETER[\"latitude_of_origin\",0],PARAMETER[\"central_meridian\",15],"
         "PARAMETER[\"scale_factor\",0.9996],PARAMETER[\"false_easting\",500000],PARAMETER[\"false_northing\",0],"
         "UNIT[\"metre\",1],AUTHORITY[\"EPSG\",\"32633\"]],VERT_CS[\"EGM96 height\",VERT_DATUM[\"EGM96 geoid\",2005],"
         "UNIT[\"metre\",1],AXIS[\"Up\",UP]]]",
         32633},
        {"EPSG:3035", 3035},
        {"", 0},
        {"GEOGCS[\"broken\"", 0},
        {"this is no coordinate system", 0},
    };
    for (const case_of_text &c : cases) {
        SCOPED_TRACE(c.text);
        std::string problem;
        const std::string crs = crs_from_text(c.text, &problem);
        if (c.same_as == 0) {
            EXPECT_TRUE(crs.empty());
            EXPECT_FALSE(problem.empty());
            continue;
        }
        ASSERT_FALSE(crs.empty()) << problem;
        EXPECT_TRUE(same_coordinate_system(crs, epsg(c.same_as)));
        EXPECT_EQ(crs_is_geographic(crs), c.same_as == 4326);
    }
    // Zones and datums apart.
    EXPECT_FALSE(same_coordinate_system(epsg(32632), epsg(32633)));
    EXPECT_FALSE(same_coordinate_system(epsg(32632), epsg(25832)));
    EXPECT_FALSE(same_coordinate_system(epsg(32632), ""));
    EXPECT_TRUE(same_coordinate_system("", ""));
}

TEST(CoordinateSystems, NamesAndThePrjGdalWritesBesideAnAsciiGrid)
{
    EXPECT_EQ(crs_display_name(epsg(32632)), "WGS 84 / UTM zone 32N (EPSG 32632)");
    std::string problem;
    EXPECT_EQ(crs_display_name(crs_from_text("+proj=utm +zone=31 +ellps=intl +type=crs", &problem)),
              "unknown (no EPSG code)");
    EXPECT_EQ(crs_display_name(""), "no coordinate system");
    // gdal_translate -of AAIGrid on dem_2015.tif and elev.tif.
    EXPECT_EQ(crs_prj_text(epsg(32632)),
              "PROJCS[\"WGS_1984_UTM_Zone_32N\",GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\","
              "6378137.0,298.257223563]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]],PROJECTION["
              "\"Transverse_Mercator\"],PARAMETER[\"False_Easting\",500000.0],PARAMETER[\"False_Northing\",0.0],"
              "PARAMETER[\"Central_Meridian\",9.0],PARAMETER[\"Scale_Factor\",0.9996],PARAMETER[\"Latitude_Of_Origin\""
              ",0.0],UNIT[\"Meter\",1.0]]");
    EXPECT_EQ(crs_prj_text(epsg(4326)),
              "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137.0,298.257223563]],PRIMEM["
              "\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]]");
    EXPECT_EQ(crs_prj_text(""), "");
}

// The lattice against PROJ cell by cell, where the interpolation is easy (UTM zone 32N
// to 33N) and where it is not (degrees far north into a zone 20 degrees away, whose
// squares are carried whole): every position within 1/100 of a cell.
TEST(CarriedPositions, StayWithinAHundredthOfACellOfProjsOwn)
{
    struct case_of_grids {
        int from, to;
        grid_frame target, source;
        bool some_carried;
    };
    const case_of_grids cases[] = {
        {32632, 32633, {true, 300, 400, 483285.0, 5627295.0, 30.0, 30.0},
         {true, 500, 500, 60000.0, 5640000.0, 30.0, 30.0}, false},
        {4326, 32633, {true, 300, 300, -5.0, 70.0, 0.02, 0.01}, {true, 400, 400, -300000.0, 7850000.0, 1000.0, 1000.0},
         true},
    };
    for (const case_of_grids &c : cases) {
        SCOPED_TRACE(c.from);
        carried_positions p;
        ASSERT_TRUE(carry_cell_centres(epsg(c.from), epsg(c.to), c.target, c.source, &p));
        EXPECT_EQ(p.carried_squares > 0, c.some_carried);
        PJ_CONTEXT *ctx = coordinates_context();
        const pj_object raw(proj_create_crs_to_crs(ctx, ("EPSG:" + std::to_string(c.from)).c_str(),
                                                   ("EPSG:" + std::to_string(c.to)).c_str(), nullptr));
        const pj_object op(proj_normalize_for_visualization(ctx, raw.get()));
        std::vector<double> columns(c.target.columns), lines(c.target.columns);
        double worst = 0;
        const double source_top = c.source.yll + c.source.lines * c.source.dy;
        for (int32_t i = 0; i < c.target.lines; i++) {
            p.line(i, 0, c.target.columns, columns.data(), lines.data());
            for (int32_t j = 0; j < c.target.columns; j++) {
                const double x = c.target.xll + (j + 0.5) * c.target.dx;
                const double y = c.target.yll + (c.target.lines - i - 0.5) * c.target.dy;
                const PJ_COORD out = proj_trans(op.get(), PJ_FWD, proj_coord(x, y, 0, 0));
                const double column = (out.xy.x - c.source.xll) / c.source.dx - 0.5;
                const double line = (source_top - out.xy.y) / c.source.dy - 0.5;
                // Only where a value is taken: inside the source.
                if (column >= -1 && column <= c.source.columns && line >= -1 && line <= c.source.lines)
                    worst = std::max({worst, std::fabs(columns[j] - column), std::fabs(lines[j] - line)});
            }
        }
        EXPECT_LT(worst, CARRY_TOLERANCE);
        if (!c.some_carried) {
            EXPECT_GT(worst, 0.0);  // interpolated, not carried
        }
    }
}

} // namespace
