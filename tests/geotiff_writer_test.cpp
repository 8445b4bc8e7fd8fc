// The GeoTIFF writer: what it writes reads back through libtiff and the reader cell for
// cell, with the corner, the cell size and the input's coordinate system.
#include "treatment/geotiff_writer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "gridfiles/geotiff_reader.h"
#include "geotiff_files.h"

namespace {

TEST(GeotiffWriter, WhatItWritesReadsBackWithItsPlaceAndItsCoordinateSystem)
{
    // Three tiles across and two down, the last ones partly outside the grid.
    const int32_t lines = 300, columns = 520;
    double **grid = dmatrice(columns, lines);
    for (int32_t i = 0; i < lines; i++)
        for (int32_t j = 0; j < columns; j++)
            grid[i][j] = (i * 7 + j * 13) % 97 == 0 ? NAN : 0.001 * i * j - 3.25 + j;
    grid[0][0] = 123456.789;
    grid[299][519] = -0.5;
    // The point variant's keys: the output's cells are areas all the same.
    const geo_keys point = e2e::read_tiff(e2e::geotiff_fixture("dem_2020_utm33_point.tif")).layout.keys;
    uint16_t raster_type = 0;
    ASSERT_TRUE(geokey_short(point, GEOKEY_RASTER_TYPE, &raster_type));
    ASSERT_EQ(raster_type, 2);

    FILE *fp = std::tmpfile();
    std::string failure;
    ASSERT_TRUE(write_geotiff(fp, "c:\\images\\site\\out.tif", grid, lines, columns, 483285.0, 5627295.5, 30.0,
                              30.0, point, &failure))
        << failure;
    std::rewind(fp);
    geotiff_file file;
    geotiff_fault fault;
    ASSERT_TRUE(geotiff_open(fp, "out.tif", &file, &fault)) << geotiff_fault_message("out.tif", fault);
    const geotiff_layout &layout = file.layout;
    // The cells coming back as libtiff decodes them prove the compression and predictor.
    EXPECT_TRUE(layout.tiled);
    EXPECT_EQ(layout.block_columns, 256u);
    EXPECT_EQ(layout.lines, lines);
    EXPECT_EQ(layout.columns, columns);
    EXPECT_EQ(layout.placement.xll, 483285.0);
    EXPECT_EQ(layout.placement.yll, 5627295.5);
    EXPECT_EQ(layout.placement.dx, 30.0);
    EXPECT_TRUE(layout.has_nodata);
    EXPECT_EQ(layout.nodata_value, -9999.0);
    EXPECT_EQ(layout.keys.directory, output_geo_keys(point).directory);
    EXPECT_EQ(layout.keys.doubles, point.doubles);
    EXPECT_EQ(layout.keys.ascii, point.ascii);
    ASSERT_TRUE(geokey_short(layout.keys, GEOKEY_RASTER_TYPE, &raster_type));
    EXPECT_EQ(raster_type, 1);

    double **back = dmatrice(columns, lines);
    ASSERT_TRUE(geotiff_read_cells(&file, nullptr, back, &fault)) << geotiff_fault_message("out.tif", fault);
    size_t wrong = 0;
    for (int32_t i = 0; i < lines; i++)
        for (int32_t j = 0; j < columns; j++)
            if (std::isnan(grid[i][j]) ? !std::isnan(back[i][j])
                                       : back[i][j] != static_cast<double>(static_cast<float>(grid[i][j])))
                wrong++;
    EXPECT_EQ(wrong, 0u);
    geotiff_close(&file);
    std::fclose(fp);
    frdmatrice(back, lines);
    frdmatrice(grid, lines);
}

TEST(GeotiffWriter, TheOutputsKeysAreTheInputsWithPixelIsArea)
{
    struct keys_case {
        const char *what;
        std::vector<uint16_t> in, out;
    };
    const keys_case cases[] = {
        {"no coordinate system", {}, {}},
        {"PixelIsPoint", {1, 1, 0, 2, 1024, 0, 1, 1, 1025, 0, 1, 2}, {1, 1, 0, 2, 1024, 0, 1, 1, 1025, 0, 1, 1}},
        {"no raster type", {1, 1, 0, 2, 1024, 0, 1, 1, 3072, 0, 1, 32632},
         {1, 1, 0, 3, 1024, 0, 1, 1, 1025, 0, 1, 1, 3072, 0, 1, 32632}},
        // A value kept after the keys moves with them.
        {"a value in the directory", {1, 1, 0, 1, 3072, 34735, 1, 8, 32632},
         {1, 1, 0, 2, 1025, 0, 1, 1, 3072, 34735, 1, 12, 32632}},
    };
    for (const keys_case &c : cases) {
        SCOPED_TRACE(c.what);
        geo_keys in;
        in.directory = c.in;
        EXPECT_EQ(output_geo_keys(in).directory, c.out);
    }
}

TEST(GeotiffWriter, AFileThatCouldPass4GBIsABigTiff)
{
    EXPECT_FALSE(geotiff_needs_bigtiff(5000, 5000));
    EXPECT_FALSE(geotiff_needs_bigtiff(32000, 32000));  // 3.8 GiB of tiles at the most
    EXPECT_TRUE(geotiff_needs_bigtiff(33000, 33000));
    EXPECT_TRUE(geotiff_needs_bigtiff(1, 2000000000));
}

TEST(GeotiffWriter, AFullDiskIsReported)
{
    FILE *full = std::fopen("/dev/full", "wb");
    if (full == nullptr)
        GTEST_SKIP() << "no /dev/full here";
    double **grid = dmatrice(600, 600);
    std::string failure;
    EXPECT_FALSE(write_geotiff(full, "out.tif", grid, 600, 600, 0.0, 0.0, 1.0, 1.0, geo_keys(), &failure));
    EXPECT_EQ(failure, std::strerror(ENOSPC));
    std::fclose(full);
    frdmatrice(grid, 600);
}

} // namespace
