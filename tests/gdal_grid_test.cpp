// The rasters GDAL reads: real epochs (tests/data/geotiff/dem_2015.tif and dem_2020.tif)
// written by GDAL itself into its other forms, whose runs must give the GeoTIFF run's
// files byte for byte; GDAL's scale and offset against GDAL's own unscaling; the grids
// the program refuses; the dialogue's "other" choice.
#include <gtest/gtest.h>

#ifdef ORMELIX_GDAL

#include <cpl_conv.h>
#include <cpl_vsi.h>
#include <gdal.h>
#include <gdal_utils.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "e2e_support.h"
#include "gdal_translate.h"
#include "geotiff_files.h"
#include "gridfiles/gdal_grid.h"
#include "platform/platform.h"

namespace {

using e2e::read_file;
using e2e::write_file;

const std::string INPUT_MENU = "\n\tFormat Type :\n\t\t0 ====> ascii\n\t\t1 ====> raster\n\t\t2 ====> geotiff"
                               "\n\t\t3 ====> other (any raster GDAL reads)\n\t\t";
const std::string EXTENSION_QUESTION = "\n\tExtension of this file (img, vrt, hgt, bil, ...) ? ";

// The tests' own GDAL readied as the program readies its: on Windows PROJ's database is
// the one beside the test program.
void start_test_gdal()
{
    GDALAllRegister();
#ifdef _WIN32
    static const std::string folder = program_folder();
    const char *paths[] = {folder.c_str(), nullptr};
    OSRSetPROJSearchPaths(paths);
#endif
}

// gdal_translate, GDAL started as the tests start it.
bool translate(const std::string &from, const std::string &to, std::vector<std::string> arguments)
{
    start_test_gdal();
    return e2e::gdal_translate(from, to, std::move(arguments));
}

// A VRT mosaic of two GeoTIFF tiles, the north 20 lines and the south 21, of a 41 x 41 grid.
bool two_tile_vrt(const std::string &from, const std::string &folder, const std::string &name)
{
    const std::string north = folder + name + "_n.tif", south = folder + name + "_s.tif";
    if (!translate(from, north, {"-srcwin", "0", "0", "41", "20"}) ||
        !translate(from, south, {"-srcwin", "0", "20", "41", "21"}))
        return false;
    const char *tiles[] = {north.c_str(), south.c_str()};
    GDALDatasetH vrt = GDALBuildVRT((folder + name + ".vrt").c_str(), 2, nullptr, tiles, nullptr, nullptr);
    if (vrt == nullptr)
        return false;
    GDALClose(vrt);
    return true;
}

// An SRTM tile of 1201 x 1201 cells at N49E005, the epoch's cells repeated over it (the
// form holds nothing else), beside the same cells as a GeoTIFF.
bool srtm_tile(const std::string &from, const std::string &hgt, const std::string &tif)
{
    start_test_gdal();
    GDALDatasetH source = GDALOpen(from.c_str(), GA_ReadOnly);
    if (source == nullptr)
        return false;
    std::vector<double> cells(41 * 41);
    const bool read = GDALRasterIO(GDALGetRasterBand(source, 1), GF_Read, 0, 0, 41, 41, cells.data(), 41, 41,
                                   GDT_Float64, 0, 0) == CE_None;
    int has = 0;
    const double nodata = GDALGetRasterNoDataValue(GDALGetRasterBand(source, 1), &has);
    GDALClose(source);
    if (!read)
        return false;
    const int side = 1201;
    std::vector<int16_t> tile(static_cast<size_t>(side) * side);
    for (int i = 0; i < side; i++)
        for (int j = 0; j < side; j++) {
            const double v = cells[static_cast<size_t>(i % 41) * 41 + j % 41];
            tile[static_cast<size_t>(i) * side + j] = has && v == nodata ? -32768 : static_cast<int16_t>(v);
        }
    GDALDatasetH mem = GDALCreate(GDALGetDriverByName("MEM"), "", side, side, 1, GDT_Int16, nullptr);
    double transform[6] = {5.0 - 0.5 / 1200, 1.0 / 1200, 0, 50.0 + 0.5 / 1200, 0, -1.0 / 1200};
    GDALSetGeoTransform(mem, transform);
    GDALSetProjection(mem, "EPSG:4326");
    GDALSetRasterNoDataValue(GDALGetRasterBand(mem, 1), -32768);
    bool made = GDALRasterIO(GDALGetRasterBand(mem, 1), GF_Write, 0, 0, side, side, tile.data(), side, side,
                             GDT_Int16, 0, 0) == CE_None;
    for (const auto &[driver, path] : {std::pair<const char *, std::string>{"SRTMHGT", hgt}, {"GTiff", tif}}) {
        GDALDatasetH copy = GDALCreateCopy(GDALGetDriverByName(driver), path.c_str(), mem, FALSE, nullptr, nullptr,
                                           nullptr);
        made = made && copy != nullptr;
        if (copy != nullptr)
            GDALClose(copy);
    }
    GDALClose(mem);
    return made;
}

class GdalGrid : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = e2e::make_root();
        write_file(site("dem_2015.tif"), e2e::geotiff_fixture("dem_2015.tif"));
        write_file(site("dem_2020.tif"), e2e::geotiff_fixture("dem_2020.tif"));
    }
    void TearDown() override { e2e::remove_root(root); }
    std::string site(const std::string &name = "") const { return root + "/images/site/" + name; }
    e2e::run_result run(const std::vector<std::string> &arguments) const
    {
        e2e::run_limits limits;
        limits.arguments = arguments;
        return e2e::run_program(site(), "", limits);
    }

    std::string root;
};

TEST_F(GdalGrid, EveryFormGdalWritesGivesTheGeotiffRunsFiles)
{
    // Each form written by GDAL from the two GeoTIFFs.
    for (const char *epoch : {"dem_2015", "dem_2020"}) {
        const std::string tif = site(std::string(epoch) + ".tif");
        ASSERT_TRUE(translate(tif, site(std::string(epoch) + ".img"), {"-of", "HFA"}));
        ASSERT_TRUE(translate(tif, site(std::string(epoch) + ".bil"), {"-of", "EHdr"}));
        ASSERT_TRUE(two_tile_vrt(tif, site(), epoch));
        // Nine significant digits give each Float32 back.
        ASSERT_TRUE(translate(tif, "/vsizip/" + site("epochs.zip") + "/" + epoch + ".asc",
                              {"-of", "AAIGrid", "-co", "SIGNIFICANT_DIGITS=9"}));
    }
    const e2e::run_result reference = run({"dem_2015.tif", "dem_2020.tif", "ref.asc", "--kind", "absolute"});
    ASSERT_EQ(reference.status, 0) << reference.errors;
    const std::string budget = read_file(site("ref_budget.csv"));
    EXPECT_NE(budget.find(",1681,1667,14,"), std::string::npos) << budget;  // dem_2020's 14 cells of no data

    const std::vector<std::string> before = e2e::list_folder(site());
    const std::string zip = "/vsizip/" + site("epochs.zip") + "/";
    const std::vector<std::vector<std::string>> pairs = {
        {"dem_2015.img", "dem_2020.img"},
        {"dem_2015.vrt", "dem_2020.vrt"},
        {"dem_2015.bil", "dem_2020.bil"},
        {zip + "dem_2015.asc", zip + "dem_2020.asc"},
        {"dem_2015.img", "dem_2020.tif"},
        // --gdal: GDAL reads the GeoTIFFs themselves.
        {"dem_2015.tif", "dem_2020.tif", "--gdal"},
    };
    for (std::vector<std::string> arguments : pairs) {
        SCOPED_TRACE(arguments[0]);
        arguments.insert(arguments.begin() + 2, {"out.asc", "--kind", "absolute"});
        const e2e::run_result r = run(arguments);
        ASSERT_EQ(r.status, 0) << r.errors;
        EXPECT_EQ(r.errors, "");
        EXPECT_EQ(read_file(site("out_budget.csv")), budget);
        EXPECT_EQ(read_file(site("out.asc")), read_file(site("ref.asc")));
        // The system read from each form (its WKT spelt by each driver its own way).
        EXPECT_TRUE(e2e::file_exists(site("out.prj")));
    }
    // Reading leaves nothing beside the files read (no .aux.xml).
    for (const std::string &name : e2e::list_folder(site()))
        EXPECT_TRUE(name.rfind("out", 0) == 0 || name.rfind("ref", 0) == 0 ||
                    std::find(before.begin(), before.end(), name) != before.end())
            << name;
}

TEST_F(GdalGrid, AnSrtmTileReadsAsItsGeotiff)
{
    ASSERT_TRUE(srtm_tile(site("dem_2015.tif"), site("N49E005.hgt"), site("a.tif")));
    e2e::make_folder(site("hgt"));
    ASSERT_TRUE(srtm_tile(site("dem_2020.tif"), site("hgt/N49E005.hgt"), site("b.tif")));
    ASSERT_EQ(run({"a.tif", "b.tif", "ref.asc"}).status, 0);
    const e2e::run_result r = run({"N49E005.hgt", "hgt/N49E005.hgt", "out.asc"});
    ASSERT_EQ(r.status, 0) << r.errors;
    EXPECT_EQ(read_file(site("out_budget.csv")), read_file(site("ref_budget.csv")));
    EXPECT_EQ(read_file(site("out.asc")), read_file(site("ref.asc")));
}

// A band's scale and offset are GDAL's to apply: the VRT that declares them against the
// GeoTIFF of GDAL's unscaling.
TEST_F(GdalGrid, ScaleAndOffsetAreThoseGdalApplies)
{
    ASSERT_TRUE(translate(site("dem_2015.tif"), site("scaled.vrt"), {"-of", "VRT", "-a_scale", "0.5",
                                                                      "-a_offset", "-100"}));
    ASSERT_TRUE(translate(site("scaled.vrt"), site("unscaled.tif"), {"-unscale", "-ot", "Float64"}));
    ASSERT_EQ(run({"unscaled.tif", "dem_2020.tif", "ref.asc"}).status, 0);
    const e2e::run_result r = run({"scaled.vrt", "dem_2020.tif", "out.asc"});
    ASSERT_EQ(r.status, 0) << r.errors;
    EXPECT_EQ(read_file(site("out_budget.csv")), read_file(site("ref_budget.csv")));
    // Not the plain samples' run.
    ASSERT_EQ(run({"dem_2015.tif", "dem_2020.tif", "plain.asc"}).status, 0);
    EXPECT_NE(read_file(site("out_budget.csv")), read_file(site("plain_budget.csv")));
}

TEST_F(GdalGrid, WhatTheProgramCannotReadStopsTheRunNamingTheFileAndGdalsReason)
{
    ASSERT_TRUE(translate(site("dem_2015.tif"), site("complex.img"), {"-of", "HFA", "-ot", "CFloat32"}));
    ASSERT_TRUE(translate(site("dem_2015.tif"), site("rotated.vrt"), {"-of", "VRT"}));
    const std::string vrt = read_file(site("rotated.vrt"));
    const size_t start = vrt.find("<GeoTransform>"), end = vrt.find("</GeoTransform>") + 15;
    ASSERT_NE(start, std::string::npos);
    // The same cells turned, upside down, and with no place at all.
    using placed = std::pair<const char *, const char *>;
    for (const auto &[name, transform] :
         {placed{"rotated.vrt", "<GeoTransform>483285, 30, 2, 5628525, 2, -30</GeoTransform>"},
          placed{"flipped.vrt", "<GeoTransform>483285, 30, 0, 5627295, 0, 30</GeoTransform>"},
          placed{"unplaced.vrt", ""}})
        write_file(site(name), std::string(vrt).replace(start, end - start, transform));
    write_file(site("notes.img"), "not a raster at all\n");
    ASSERT_TRUE(translate(site("dem_2015.tif"), site("bare.img"), {"-of", "HFA"}));
    const std::vector<std::string> before = e2e::list_folder(site());
    const struct {
        std::vector<std::string> arguments;
        const char *message;
    } cases[] = {
        {{"complex.img", "dem_2020.tif", "out.asc"},
         "ormelix: File complex.img holds CFloat32 samples in its first band, not elevations"},
        {{"dem_2015.tif", "rotated.vrt", "out.tif"},
         "ormelix: File rotated.vrt is not a north-up grid (its geotransform turns it: rotation terms 2.000000 and "
         "2.000000)"},
        {{"flipped.vrt", "dem_2020.tif", "out.asc"},
         "ormelix: File flipped.vrt is not a north-up grid (cell width 30.000000 and height 30.000000 in its "
         "geotransform)"},
        {{"unplaced.vrt", "dem_2020.tif", "out.asc"},
         "ormelix: File unplaced.vrt has no georeference the program can use (no geotransform)"},
        {{"notes.img", "dem_2020.tif", "out.asc"}, "ormelix: File notes.img cannot be read by GDAL: "},
        {{"dem_2015.tif", "/vsizip/none.zip/a.asc", "out.asc"},
         "ormelix: File /vsizip/none.zip/a.asc cannot be read by GDAL: "},
        {{"dem_2015.tif", "dem_2020.tif", "out.asc", "--stable", "rotated.vrt"},
         "ormelix: File rotated.vrt is not a north-up grid"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        const e2e::run_result r = run(c.arguments);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.errors.rfind(c.message, 0), 0u) << r.errors;
        EXPECT_EQ(e2e::list_folder(site()), before);
    }
    // The reader's own fault, without a run.
    gdal_file file;
    gdal_fault fault;
    EXPECT_FALSE(gdal_grid_open(site("notes.img"), &file, &fault));
    gdal_grid_close(&file);
    EXPECT_EQ(fault.kind, gdal_not_readable);
    EXPECT_NE(fault.what, "");
}

// A VRT of GeoTIFF tiles is read by the program's own reader only when GDAL would give
// the tiles' samples unchanged: each rule broken in turn leaves the file to GDAL.
TEST_F(GdalGrid, OnlyAPlainMosaicOfGeotiffsIsReadByTheProgramsOwnReader)
{
    ASSERT_TRUE(two_tile_vrt(site("dem_2015.tif"), site(), "dem_2015"));
    ASSERT_TRUE(translate(site("dem_2015_s.tif"), site("dem_2015_s.img"), {"-of", "HFA"}));
    const std::string mosaic = read_file(site("dem_2015.vrt"));
    // The text with from's last occurrence (the south tile's, for its source) made to.
    auto changed = [&mosaic](const std::string &from, const std::string &to) {
        const size_t at = mosaic.rfind(from);
        return at == std::string::npos ? std::string() : std::string(mosaic).replace(at, from.size(), to);
    };
    const std::string south_nodata = "<NODATA>-32768</NODATA>";
    const struct {
        const char *rule;
        std::string text;
        bool plain;
    } cases[] = {
        {"as GDAL builds it", mosaic, true},
        {"a scaling that changes nothing", changed(south_nodata, south_nodata + "<ScaleRatio>1</ScaleRatio>"
                                                                              "<ScaleOffset>0</ScaleOffset>"),
         true},
        {"a scaling", changed(south_nodata, south_nodata + "<ScaleRatio>2</ScaleRatio>"), false},
        {"an offset", changed(south_nodata, south_nodata + "<ScaleOffset>1</ScaleOffset>"), false},
        {"a look-up table", changed(south_nodata, south_nodata + "<LUT>0:0,1000:500</LUT>"), false},
        {"a source's no data not the mosaic's", changed(south_nodata, "<NODATA>0</NODATA>"), false},
        {"a mosaic's no data no Int16 holds", changed("<NoDataValue>-32768", "<NoDataValue>0.5"), false},
        {"a hidden no data", changed("<ColorInterp>", "<HideNoDataValue>1</HideNoDataValue><ColorInterp>"), false},
        {"one tile over the other", changed("yOff=\"20\"", "yOff=\"19\""), false},
        {"a resampled window", changed("ySize=\"21\" />\n      <DstRect", "ySize=\"20\" />\n      <DstRect"),
         false},
        {"a window of part cells", changed("xOff=\"0\" yOff=\"20\"", "xOff=\"0.5\" yOff=\"20\""), false},
        {"a window beyond the mosaic", changed("xOff=\"0\" yOff=\"20\"", "xOff=\"1\" yOff=\"20\""), false},
        {"another band of a tile", changed("<SourceBand>1", "<SourceBand>2"), false},
        {"a tile of another form", changed("dem_2015_s.tif", "dem_2015_s.img"), false},
        {"another sample type", changed("dataType=\"Int16\"", "dataType=\"Float32\""), false},
        {"a pixel function", changed("<VRTRasterBand dataType=\"Int16\" band=\"1\">",
                                     "<VRTRasterBand dataType=\"Int16\" band=\"1\" subClass=\"VRTDerivedRasterBand\">"
                                     "<PixelFunctionType>inv</PixelFunctionType>"),
         false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.rule);
        ASSERT_NE(c.text, "");
        write_file(site("case.vrt"), c.text);
        gdal_file file;
        gdal_fault fault;
        ASSERT_TRUE(gdal_grid_open(site("case.vrt"), &file, &fault)) << fault.what;
        std::vector<mosaic_piece> pieces;
        EXPECT_EQ(plain_mosaic(site("case.vrt"), file, &pieces), c.plain);
        gdal_grid_close(&file);
        if (c.plain) {
            ASSERT_EQ(pieces.size(), 2u);
            EXPECT_EQ(pieces[1].path, site("dem_2015_s.tif"));
            EXPECT_EQ(pieces[1].top, 20);
            EXPECT_EQ(pieces[1].lines, 21);
            EXPECT_EQ(pieces[1].columns, 41);
            EXPECT_TRUE(pieces[1].nodata_near);
        }
    }
}

// The dialogue's fourth input form: its extension is asked after it, and only after it.
// The session is the GeoTIFF session's, the extension question aside.
TEST_F(GdalGrid, TheDialoguesOtherChoiceAsksTheExtension)
{
    ASSERT_TRUE(translate(site("dem_2015.tif"), site("dem_2015.img"), {"-of", "HFA"}));
    ASSERT_TRUE(two_tile_vrt(site("dem_2020.tif"), site(), "dem_2020"));
    const e2e::run_result tif = e2e::run_program(root, "site\ndem_2015\n2\ndem_2020\n2\ntif\n0\n0\n1\n");
    ASSERT_EQ(tif.status, 0);
    const e2e::run_result other =
        e2e::run_program(root, "site\ndem_2015\n3\n.img\ndem_2020\n3\na/b\nvrt\nother\n0\n0\n1\n");
    ASSERT_EQ(other.status, 0) << other.console;
    std::string expected = tif.console;
    auto replace = [&expected](const std::string &from, const std::string &to) {
        const size_t at = expected.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        expected.replace(at, from.size(), to);
    };
    replace(INPUT_MENU, INPUT_MENU + EXTENSION_QUESTION);
    replace("dem_2015.tif", "dem_2015.img");
    replace("\n\n\tName of the second DEM (whitout any extension) ? " + INPUT_MENU,
            "\n\n\tName of the second DEM (whitout any extension) ? " + INPUT_MENU + EXTENSION_QUESTION +
                "\n\ta/b is not an extension: give the letters after the name's dot, such as img.\n" +
                EXTENSION_QUESTION);
    replace("dem_2020.tif", "dem_2020.vrt");
    for (int k = 0; k < 2; k++)
        replace("tif_val_abs", "other_val_abs");
    EXPECT_EQ(other.console, expected);
    EXPECT_EQ(read_file(site("other_val_abs.asc")), read_file(site("tif_val_abs.asc")));
    EXPECT_EQ(read_file(site("other_val_abs_budget.csv")), read_file(site("tif_val_abs_budget.csv")));
}

} // namespace

#endif
