// The output grids written a band of lines at a time: every form gives the bytes and the
// console of the whole result at once, whatever the bands; and the disk-space stop, its
// estimates against the sizes written, and a real run onto a disk too small for it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/mount.h>
#include <unistd.h>
#endif

#include "globals/globals.h"
#include "nrutil.h"
#include "platform/platform.h"
#include "treatment/ascii_writer.h"
#include "treatment/file_forms.h"
#include "treatment/geotiff_writer.h"
#include "treatment/output_choices.h"
#include "treatment/output_space.h"
#include "e2e_support.h"

namespace {

using e2e::read_file;

// A smooth surface with cells without data on a slant.
double **surface(int32_t lines, int32_t columns)
{
    double **grid = dmatrice(columns, lines);
    for (int32_t i = 0; i < lines; i++)
        for (int32_t j = 0; j < columns; j++)
            grid[i][j] = (i * 7 + j * 13) % 97 == 0 ? NAN : 40.0 * std::sin(i * 0.02) * std::cos(j * 0.015) + 0.01 * j;
    return grid;
}

int32_t centimetres(double, double)
{
    return 2;
}

struct written_output {
    std::string console, main, second;
};

// The result of the frame written in the form through its entry, in bands of band lines
// (0: write_output, the whole result at once).
written_output write_form(int32_t form, const std::string &stem, int32_t band)
{
    const file_form &f = FILE_FORMS[form];
    std::string main, second;
    f.output_paths(stem, &main, &second);
    nomim3 = main;
    testing::internal::CaptureStdout();
    f.create_output(main, second);
    if (band == 0) {
        f.write_output(-3.5, 52.25);
    } else {
        f.start_output(-3.5, 52.25);
        for (int32_t i = 0; i < nb_lig; i += band)
            f.write_output_lines(i, std::min(i + band, nb_lig), dtab_out + i);
        f.finish_output();
    }
    written_output w;
    w.console = testing::internal::GetCapturedStdout();
    std::string failed;
    EXPECT_TRUE(output_commit_all(&failed)) << failed;
    w.main = read_file(main);
    w.second = second.empty() ? "" : read_file(second);
    return w;
}

TEST(LineWriter, EveryFormWritesTheSameBytesWhateverTheBands)
{
    const std::string folder = e2e::scratch_folder("line-writer");
    const struct {
        int32_t lines, columns;
    } frames[] = {{300, 520}, {1, 700}, {513, 3}};
    nomim1 = "c:\\images\\site\\north.asc";
    nomim2 = "c:\\images\\site\\south.asc";
    type_treat = 0;
    basis = 1;
    hypso = 0.0;
    pix_size2 = 25;
    pix_size3 = 25;
    X_min = 512000.0;
    Y_min = 4100000.0;
    dpix_size = dpix_size_y = 25.0;
    Coord_UTM_dem1_OK = 1;
    itype_dem_out = 1;
    const output_choices saved = output_answers;
    output_answers.raster_unit = centimetres;
    for (const auto &frame : frames) {
        nb_lig = frame.lines;
        nb_col = frame.columns;
        dtab_out = surface(frame.lines, frame.columns);
        for (int32_t form = 0; form <= last_file_form(false); form++) {
            SCOPED_TRACE(std::string(FILE_FORMS[form].menu_name) + " " + std::to_string(frame.lines) + " x " +
                         std::to_string(frame.columns));
            const written_output whole = write_form(form, folder + "/whole", 0);
            EXPECT_GT(whole.main.size(), static_cast<size_t>(nb_lig) * nb_col);
            if (form == 0 && nb_lig > 100) {
                EXPECT_NE(whole.console.find("\tline 100 "), std::string::npos) << whole.console;
            }
            for (int32_t band : {1, 7, nb_lig}) {
                const written_output banded = write_form(form, folder + "/band" + std::to_string(band), band);
                EXPECT_EQ(banded.main, whole.main) << "bands of " << band;
                EXPECT_EQ(banded.second, whole.second) << "bands of " << band;
                EXPECT_EQ(banded.console, whole.console) << "bands of " << band;
            }
        }
        frdmatrice(dtab_out, nb_lig);
        dtab_out = nullptr;
    }
    output_answers = saved;
    e2e::remove_tree(folder);
}

TEST(LineWriter, TheDiskSpaceStopWeighsEachFormsEstimate)
{
    // The sizes: a raster pair's exactly, an ASCII grid's and a GeoTIFF's from what was
    // measured of them.
    EXPECT_EQ(raster_output_bytes(3000, 2000, 4, 120), 24000120.0);
    EXPECT_EQ(ascii_output_estimate(100, 2200.0, 2, 10), 11100.0);
    EXPECT_EQ(ascii_output_estimate(100, 2201.0, 2, 1), 1201.0);  // a part of a character is one
    // 300 x 520 cells: two rows of three tiles; each line as the first row's (3072 bytes
    // over 256 lines), each tile's offset and byte count, and the tags.
    EXPECT_EQ(geotiff_output_estimate(300, 520, 3072.0, false), 300 * 12.0 + 6 * 8.0 + 4096.0);
    EXPECT_EQ(geotiff_output_estimate(300, 520, 3072.0, true), 300 * 12.0 + 6 * 16.0 + 4096.0);
    EXPECT_EQ(geotiff_output_estimate(100, 520, 3000.0, false), 3000.0 + 3 * 8.0 + 4096.0);

    const double MIB = 1048576.0;
    const struct {
        double need, free_bytes;
        const char *refusal;
    } cases[] = {
        {1000.0, 1000.0, ""},
        {3.95 * MIB, 100.0 * MIB, ""},
        {1001.0, 1000.0, "it needs about 0.1 MiB, and the disk has 0.0 MiB free"},
        {3.91 * MIB, 1.99 * MIB, "it needs about 4.0 MiB, and the disk has 1.9 MiB free"},
        {2.5 * 1024 * MIB, 1023.99 * MIB, "it needs about 2.5 GiB, and the disk has 1023.9 MiB free"},
        {1536.01 * MIB, 1536 * MIB, "it needs about 1.6 GiB, and the disk has 1.5 GiB free"},
    };
    for (const auto &c : cases) {
        const std::string refusal = disk_space_refusal("out.tif", c.need, c.free_bytes);
        EXPECT_EQ(refusal, *c.refusal ? std::string("\n\tNot enough space on the disk for out.tif: ") + c.refusal +
                                             ".\n"
                                       : "")
            << c.need << " " << c.free_bytes;
    }
}

TEST(LineWriter, TheEstimatesMeetTheSizesWritten)
{
    // A frame that is not whole tiles, whose rows of tiles are alike (the last one is cut).
    const int32_t lines = 600, columns = 700;
    double **grid = surface(lines, columns);
    for (int32_t i = GEOTIFF_TILE_SIDE; i < lines; i++)
        for (int32_t j = 0; j < columns; j++)
            grid[i][j] = grid[i % GEOTIFF_TILE_SIDE][j];
    FILE *fp = std::tmpfile();
    ASSERT_TRUE(write_ascii_grid(fp, grid, columns, lines, 512000.0, 4100000.0, 25.0, 25.0, nullptr));
    int32_t counted = 0;
    const size_t chars = ascii_lines_text_length(grid, lines, columns, &counted);
    EXPECT_EQ(counted, lines);
    const size_t header = format_ascii_header(columns, lines, 512000.0, 4100000.0, 25.0, 25.0).size();
    // Every cell counted: the size exactly.
    EXPECT_EQ(ascii_output_estimate(header, static_cast<double>(chars), counted, lines),
              static_cast<double>(e2e::file_text(fp).size()));
    std::fclose(fp);

    fp = std::tmpfile();
    double estimate = 0.0;
    geotiff_grid_writer *writer = start_geotiff(fp, "out.tif", lines, columns, 512000.0, 4100000.0, 25.0, 25.0,
                                                geo_keys());
    geotiff_before_first_tile(writer, [&](double need) {
        estimate = need;
        return true;
    });
    EXPECT_TRUE(write_geotiff_lines(writer, 0, lines, grid));
    std::string failure;
    EXPECT_TRUE(finish_geotiff(writer, &failure)) << failure;
    const double size = static_cast<double>(e2e::file_text(fp).size());
    std::fclose(fp);
    EXPECT_GT(estimate, 0.9 * size);
    EXPECT_LT(estimate, 1.1 * size);

    // A refusal stops the writing before any tile.
    fp = std::tmpfile();
    writer = start_geotiff(fp, "out.tif", lines, columns, 0.0, 0.0, 1.0, 1.0, geo_keys());
    geotiff_before_first_tile(writer, [](double) { return false; });
    EXPECT_FALSE(write_geotiff_lines(writer, 0, 300, grid));
    EXPECT_FALSE(finish_geotiff(writer, &failure));
    EXPECT_LT(e2e::file_text(fp).size(), 1000u);
    std::fclose(fp);
    frdmatrice(grid, lines);
}

#ifndef _WIN32
TEST(LineWriter, ARunOntoADiskTooSmallStopsBeforeWritingAndLeavesNothing)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting a small disk needs root";
    const std::string root = e2e::scratch_folder("small-disk");
    const std::string disk = root + "/disk";
    e2e::make_folder(disk);
    if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=2M") != 0) {
        e2e::remove_tree(root);
        GTEST_SKIP() << "no tmpfs can be mounted here";
    }
    // 1000 x 1000 cells of noise: 9 MB of text, 4 MB of 32-bit samples, a GeoTIFF of
    // about 3 MB, none of which a disk of 2 MiB holds.
    std::mt19937 noise(7);
    for (const char *name : {"north.asc", "south.asc"}) {
        std::string grid = "ncols 1000\nnrows 1000\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -9999\n";
        for (int32_t k = 0; k < 1000000; k++)
            grid += std::to_string(1000 + noise() % 10000 * 0.001) + " ";
        e2e::write_file(root + "/" + name, grid);
    }
    for (const char *out : {"disk/out.asc", "disk/out.tif", "disk/out_m4.raw"}) {
        SCOPED_TRACE(out);
        e2e::run_limits limits;
        limits.arguments = {"north.asc", "south.asc", out};
        const e2e::run_result r = e2e::run_program(root, "", limits);
        EXPECT_EQ(r.status, 1) << r.errors;
        EXPECT_NE(r.errors.find(std::string("ormelix: Not enough space on the disk for ") + out + ": it needs about "),
                  std::string::npos)
            << r.errors;
        EXPECT_NE(r.errors.find("MiB, and the disk has 2.0 MiB free."), std::string::npos) << r.errors;
        EXPECT_TRUE(e2e::list_folder(disk).empty());
    }
    umount(disk.c_str());
    e2e::remove_tree(root);
}
#endif

} // namespace
