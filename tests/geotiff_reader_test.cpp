// The GeoTIFF reader on a real elevation model as GDAL writes it in every variant
// (tests/data/geotiff/README.md), its georeference rules, and the files it refuses.
#include "gridfiles/geotiff_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "geotiff_files.h"

namespace {

using e2e::geotiff_fixture;
using e2e::read_tiff;

// The cells of an ASCII grid from GDAL, its no-data value as NaN.
std::vector<double> gdal_cells(const std::string &grid)
{
    std::istringstream text(grid);
    std::string word;
    double nodata = NAN;
    // The header's lines, NODATA_value among them or not.
    while (text >> word && std::isalpha(static_cast<unsigned char>(word[0]))) {
        const std::string key = word;
        text >> word;
        if (key == "NODATA_value")
            nodata = std::stod(word);
    }
    std::vector<double> cells;
    if (text)
        cells.push_back(std::stod(word) == nodata ? NAN : std::stod(word));
    while (text >> word) {
        const double value = std::stod(word);
        cells.push_back(value == nodata ? NAN : value);
    }
    return cells;
}

// GDAL's geotransform of elev.tif: (5.741666666666666, 0.008333333333333337, 0,
// 50.19166666666666, 0, -0.008333333333333333).
const double ELEV_LEFT = 5.741666666666666, ELEV_TOP = 50.19166666666666, ELEV_DX = 0.008333333333333337,
             ELEV_DY = 0.008333333333333333;

TEST(GeotiffReader, EveryVariantOfARealModelReadsAsGdalReadsIt)
{
    const std::vector<double> expected = gdal_cells(geotiff_fixture("elev.asc"));
    ASSERT_EQ(expected.size(), 95u * 90u);
    struct variant {
        const char *file;
        uint16_t bands;
        double tolerance;      // scaled integers come back to the nearest double of GDAL's
        bool float_predictor;  // undone by the reader rather than libtiff
    };
    const variant variants[] = {
        {"elev_lzw_strips.tif", 1, 0.0, false},         {"elev_deflate_tiles_pred2.tif", 1, 0.0, false},
        {"elev_float32_tiles_pred3.tif", 1, 0.0, true}, {"elev_point.tif", 1, 0.0, false},
        {"elev_bigtiff.tif", 1, 0.0, false},            {"elev_int16_scaled.tif", 1, 1e-9, false},
        {"elev_float64_zstd.tif", 1, 0.0, true},        {"elev_two_bands_pixel.tif", 2, 0.0, false},
        {"elev_two_bands_planes.tif", 2, 0.0, false},
        // The codecs of Debian's libtiff that the Windows build has cross-built too.
        {"elev_lzma.tif", 1, 0.0, false},               {"elev_lerc.tif", 1, 0.0, false},
        {"elev_lerc_deflate.tif", 1, 0.0, false},       {"elev_lerc_zstd.tif", 1, 0.0, false},
    };
    for (const variant &v : variants) {
        SCOPED_TRACE(v.file);
        const e2e::tiff_read r = read_tiff(geotiff_fixture(v.file));
        ASSERT_TRUE(r.opened) << geotiff_fault_message("elev.tif", r.fault);
        ASSERT_TRUE(r.read) << geotiff_fault_message("elev.tif", r.fault);
        EXPECT_EQ(r.layout.lines, 90);
        EXPECT_EQ(r.layout.columns, 95);
        EXPECT_EQ(r.layout.bands, v.bands);
        EXPECT_EQ(r.layout.float_predictor, v.float_predictor);
        EXPECT_TRUE(r.layout.geographic);
        // PixelIsPoint's tiepoint is half a cell inside: the corner is GDAL's all the same.
        EXPECT_NEAR(r.layout.placement.xll, ELEV_LEFT, 1e-12);
        EXPECT_NEAR(r.layout.placement.yll, ELEV_TOP - 90 * ELEV_DY, 1e-12);
        EXPECT_DOUBLE_EQ(r.layout.placement.dx, ELEV_DX);
        EXPECT_DOUBLE_EQ(r.layout.placement.dy, ELEV_DY);
        ASSERT_EQ(r.cells.size(), expected.size());
        size_t wrong = 0;
        for (size_t k = 0; k < expected.size(); k++)
            if (std::isnan(expected[k]) ? !std::isnan(r.cells[k])
                                        : !(std::fabs(r.cells[k] - expected[k]) <= v.tolerance))
                wrong++;
        EXPECT_EQ(wrong, 0u);
    }
    // Rows of 16 samples in tiles, and of 41 in strips, under the floating-point predictor.
    const e2e::tiff_read tiles = read_tiff(geotiff_fixture("dem_2020.tif"));
    const e2e::tiff_read strips = read_tiff(geotiff_fixture("dem_2020_utm33_point.tif"));
    EXPECT_TRUE(tiles.layout.float_predictor && strips.layout.float_predictor);
    ASSERT_TRUE(tiles.read && tiles.cells.size() == 41u * 41u && strips.cells.size() == tiles.cells.size());
    EXPECT_TRUE(std::equal(tiles.cells.begin(), tiles.cells.end(), strips.cells.begin(),
                           [](double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }));
}

// Eight-bit samples in the codecs of pictures, which elevation services also serve: a
// JPEG's cells as GDAL decodes them, and a lossless WebP's (three bands) as they went in.
TEST(GeotiffReader, PictureCodecsReadAsGdalReadsThem)
{
    const struct {
        const char *file, *expected;
        uint16_t bands;
    } pictures[] = {{"elev_byte_jpeg.tif", "elev_byte_jpeg.asc", 1}, {"elev_rgb_webp.tif", "elev_byte.asc", 3}};
    for (const auto &p : pictures) {
        SCOPED_TRACE(p.file);
        const std::vector<double> expected = gdal_cells(geotiff_fixture(p.expected));
        const e2e::tiff_read r = read_tiff(geotiff_fixture(p.file));
        ASSERT_TRUE(r.opened && r.read) << geotiff_fault_message(p.file, r.fault);
        EXPECT_EQ(r.layout.bands, p.bands);
        ASSERT_EQ(r.cells.size(), 40u * 40u);
        EXPECT_EQ(r.cells, expected);
    }
}

TEST(GeotiffReader, TheCellsArePlacedAsGdalPlacesThem)
{
    const std::vector<double> none;
    const std::vector<double> scale = {30, 30, 0}, tie = {0, 0, 0, 483285, 5628525, 0};
    const std::vector<double> north_up = {30, 0, 0, 483285, 0, -30, 0, 5628525, 0, 0, 0, 0, 0, 0, 0, 1};
    const std::vector<double> turned = {30, 5, 0, 483285, 5, -30, 0, 5628525, 0, 0, 0, 0, 0, 0, 0, 1};
    struct placement_case {
        const char *what;
        std::vector<double> scale, tiepoints, transformation;
        bool point;
        geotiff_fault_kind kind;
        double xll, yll;  // for 41 lines
        const char *message;
    };
    const placement_case cases[] = {
        {"scale and tiepoint", scale, tie, none, false, geotiff_fine, 483285, 5627295, ""},
        {"a tiepoint at cell (10, 5)", scale, {10, 5, 0, 483585, 5628375, 0}, none, false, geotiff_fine, 483285,
         5627295, ""},
        {"PixelIsPoint", scale, {0, 0, 0, 483300, 5628510, 0}, none, true, geotiff_fine, 483285, 5627295, ""},
        {"transformation", none, none, north_up, false, geotiff_fine, 483285, 5627295, ""},
        {"rotated", none, none, turned, false, geotiff_not_north_up, 0, 0,
         "is not a north-up grid (a ModelTransformation that turns its grid, by the terms 5.000000 and 5.000000)"},
        {"south-up", {30, -30, 0}, tie, none, false, geotiff_not_north_up, 0, 0,
         "cells 30.000000 wide and -30.000000 high"},
        {"control points", none,
         {0, 0, 0, 483285, 5628525, 0, 40, 40, 0, 484485, 5627325, 0, 0, 40, 0, 483285, 5627325, 0}, none,
         false, geotiff_control_points, 0, 0, "is placed by 3 tiepoints (control points)"},
        {"nothing", none, none, none, false, geotiff_no_georeference, 0, 0,
         "(neither ModelPixelScale and ModelTiepoint nor ModelTransformation)"},
        {"a tiepoint alone", none, tie, none, false, geotiff_no_georeference, 0, 0,
         "a tiepoint but no ModelPixelScale"},
    };
    for (const placement_case &c : cases) {
        SCOPED_TRACE(c.what);
        grid_frame placement;
        geotiff_fault fault;
        const bool placed =
            place_geotiff_cells(c.scale, c.tiepoints, c.transformation, c.point, 41, &placement, &fault);
        EXPECT_EQ(placed, c.kind == geotiff_fine);
        EXPECT_EQ(fault.kind, c.kind);
        if (placed) {
            EXPECT_EQ(placement.xll, c.xll);
            EXPECT_EQ(placement.yll, c.yll);
            EXPECT_EQ(placement.dx, 30.0);
            EXPECT_EQ(placement.dy, 30.0);
        } else {
            EXPECT_NE(geotiff_fault_message("c:\\images\\site\\t.tif", fault).find(c.message), std::string::npos)
                << geotiff_fault_message("c:\\images\\site\\t.tif", fault);
        }
    }
}

TEST(GeotiffReader, CellsThatAreNotSquareKeepTheirWidthAndHeight)
{
    // Copernicus-like cells 1.5 times wider than high; ETOPO's, made by GDAL, one part in
    // 100 000 off square, by a ModelTransformation; and PixelIsPoint, half of each size away.
    const struct {
        std::vector<double> scale, tiepoints, transformation;
        bool point;
        double xll, yll, dx, dy;  // for 41 lines
    } cases[] = {
        {{30, 20, 0}, {0, 0, 0, 483285, 5628525, 0}, {}, false, 483285, 5627705, 30, 20},
        {{}, {}, {0.016666666666666666, 0, 0, -180, 0, -0.016666833333333333, 0, 90, 0, 0, 0, 0, 0, 0, 0, 1}, false,
         -180, 90 - 41 * 0.016666833333333333, 0.016666666666666666, 0.016666833333333333},
        {{0.0125, 0.008333333333333333, 0}, {0, 0, 0, 5.7479166666666666, 50.1875, 0}, {}, true,
         5.7479166666666666 - 0.00625, 50.1875 + 0.008333333333333333 / 2 - 41 * 0.008333333333333333, 0.0125,
         0.008333333333333333},
    };
    for (const auto &c : cases) {
        grid_frame placement;
        geotiff_fault fault;
        ASSERT_TRUE(place_geotiff_cells(c.scale, c.tiepoints, c.transformation, c.point, 41, &placement, &fault))
            << geotiff_fault_message("t.tif", fault);
        EXPECT_EQ(placement.xll, c.xll);
        EXPECT_EQ(placement.yll, c.yll);
        EXPECT_EQ(placement.dx, c.dx);
        EXPECT_EQ(placement.dy, c.dy);
    }
}

TEST(GeotiffReader, NoDataTextIsTakenInTheBandsType)
{
    struct nodata_case {
        const char *text;
        uint16_t format, bits;
        bool held;
        double value;
    };
    const nodata_case cases[] = {
        {"-32768", 2, 16, true, -32768},
        {"-32768", 1, 16, false, 0},  // no unsigned sample holds it
        {"3.5", 2, 32, false, 0},
        {"nan", 3, 32, false, 0},  // such cells have no data anyway
        {"-9999", 3, 32, true, -9999},
        {"0.1", 3, 32, true, static_cast<double>(0.1f)},
        {"-3.4028234663852886e+38", 3, 32, true, -FLT_MAX},
        {"-3.40282347e+38", 3, 32, true, -FLT_MAX},  // FLT_MAX to nine digits: rounds to it
        {"1e39", 3, 32, true, INFINITY},
    };
    for (const nodata_case &c : cases) {
        SCOPED_TRACE(c.text);
        double value = 0;
        EXPECT_EQ(band_nodata(c.text, c.format, c.bits, &value), c.held);
        if (c.held) {
            EXPECT_EQ(value, c.value);
        }
    }
}

TEST(GeotiffReader, FilesItCannotReadAreRefusedNamingWhatTheyHold)
{
    const std::string tiles = geotiff_fixture("elev_deflate_tiles_pred2.tif");
    struct refusal {
        const char *what;
        std::string bytes;
        bool opens;  // the directory is fine; a block is not
        std::string message;
    };
    std::string codec = tiles, sample_type = tiles, wide = geotiff_fixture("elev_lzw_strips.tif"), corrupt = tiles;
    e2e::set_tiff_tag(&codec, 259, 50002);
    e2e::set_tiff_tag(&sample_type, 339, 3);  // 16-bit reals
    e2e::set_tiff_tag(&wide, 256, 3000000000u);
    // Bytes from the middle of the first tile's compressed data.
    const size_t middle = tiles.size() / 2;
    for (size_t k = middle; k < middle + 64; k++)
        corrupt[k] = static_cast<char>(~corrupt[k]);
    const refusal refusals[] = {
        {"not a TIFF", "ncols 3\nnrows 2\n", false, "cannot be read as a TIFF file: "},
        {"a codec libtiff lacks", codec, false,
         ("is compressed with compression 50002, which the TIFF library in use (" + tiff_library_name() +
          ") was built without: convert it to Deflate, LZW or no compression first.")},
        {"16-bit reals", sample_type, false, "holds 16-bit real samples: the program reads"},
        {"too wide", wide, false, "has 90 lines and 3000000000 columns: the program reads grids of 1 to"},
        {"cut short", tiles.substr(0, middle), true, "is damaged: tile "},
        {"corrupt", corrupt, true, "is damaged: tile "},
    };
    for (const refusal &r : refusals) {
        SCOPED_TRACE(r.what);
        const e2e::tiff_read read = read_tiff(r.bytes);
        EXPECT_EQ(read.opened, r.opens);
        EXPECT_FALSE(read.read);
        const std::string message = geotiff_fault_message("c:\\images\\site\\elev.tif", read.fault);
        EXPECT_EQ(message.rfind("\n\tFile c:\\images\\site\\elev.tif ", 0), 0u) << message;
        EXPECT_NE(message.find(r.message), std::string::npos) << message;
    }
}

} // namespace
