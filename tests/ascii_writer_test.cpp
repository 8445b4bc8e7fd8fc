// The ASCII grid writer: the exact text of a saved grid, its progress lines, cells
// without data, a full disk, and a saved grid read back by the reader.
#include "treatment/ascii_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "gridfiles/ascii_grid.h"
#include "nrutil.h"
#include "globals/globals.h"
#include "treatment/frame_area.h"
#include "platform/platform.h"
#include "e2e_support.h"

namespace {

using e2e::file_text;

std::string read_back(const std::string &path)
{
    FILE *fp = std::fopen(path.c_str(), "rb");
    if (!fp)
        return "(no file)";
    std::string text = file_text(fp);
    std::fclose(fp);
    return text;
}

double **grid_of(const std::vector<std::vector<double>> &rows)
{
    double **grid = dmatrice(static_cast<int32_t>(rows[0].size()), static_cast<int32_t>(rows.size()));
    for (size_t i = 0; i < rows.size(); i++)
        for (size_t j = 0; j < rows[i].size(); j++)
            grid[i][j] = rows[i][j];
    return grid;
}

struct written {
    bool ok;
    std::string text, progress;
};

written write_grid(double **grid, int32_t nb_col, int32_t nb_lig, double xll = 0, double yll = 0,
                   double cellsize = 1, double cellsize_y = 1)
{
    FILE *fp = std::tmpfile();
    FILE *progress = std::tmpfile();
    written w;
    w.ok = write_ascii_grid(fp, grid, nb_col, nb_lig, xll, yll, cellsize, cellsize_y, progress);
    w.text = file_text(fp);
    w.progress = file_text(progress);
    std::fclose(fp);
    std::fclose(progress);
    return w;
}

const char EXAMPLE_FILE[] = "ncols 3\nnrows 2\nxllcorner 100.000000\nyllcorner 200.000000\ncellsize 25.000000\n"
                            "nodata_value -9999.9999\n"
                            "0.000000\t1.500000\t2.000000\t0.250000\t0.000000\t3.000000\t";

} // namespace

TEST(AsciiWriter, RoundsToSixDecimalsAndWritesNoDataCells)
{
    double **grid = grid_of({{0.1234567, std::nan(""), -1e-7, -2.5}});
    written w = write_grid(grid, 4, 1);
    EXPECT_EQ(w.text.substr(w.text.find("-9999.9999\n") + 11), "0.123457\t-9999.999900\t-0.000000\t-2.500000\t");
    frdmatrice(grid, 1);
}

TEST(AsciiWriter, ProgressLineFromLine100)
{
    double **grid = dmatrice(2, 250);
    EXPECT_EQ(write_grid(grid, 2, 100).progress, "");
    EXPECT_EQ(write_grid(grid, 2, 101).progress, "\tline 100              \r");
    written w = write_grid(grid, 2, 250);
    EXPECT_EQ(w.progress, "\tline 100              \r\tline 200              \r");
    // No line break anywhere in the body.
    EXPECT_EQ(w.text.find('\n', w.text.find("-9999.9999\n") + 11), std::string::npos);
    frdmatrice(grid, 250);
}

TEST(AsciiWriter, LargeGridsGoOutInBlocksAndAFullDiskIsFoundEarly)
{
    // One line of text several blocks long.
    const int32_t columns = 300000;
    double **grid = dmatrice(columns, 1);
    std::string expected;
    for (int32_t j = 0; j < columns; j++) {
        grid[0][j] = j * 0.001 - 7;
        char cell[64];
        std::snprintf(cell, sizeof cell, "%lf\t", grid[0][j]);
        expected += cell;
    }
    written w = write_grid(grid, columns, 1);
    EXPECT_TRUE(w.ok);
    EXPECT_EQ(w.text.substr(w.text.find("-9999.9999\n") + 11), expected);

    FILE *full = std::fopen("/dev/full", "w");
    if (full) {
        EXPECT_FALSE(write_ascii_grid(full, grid, columns, 1, 0, 0, 1, 1, nullptr));
        std::fclose(full);
    }
    frdmatrice(grid, 1);
}

namespace {

// Values whose texts run from 9 characters to over 300, and cells without data.
double varied_value(size_t k)
{
    const double values[] = {0.0, 1.5, -0.1234567, 523.456, 1e300, std::nan(""), -98765432.125, 1e15 + 0.5,
                             2.5e-7, -1e200};
    return values[(k * 7 + k / 3) % 10];
}

std::string printed(double value)
{
    char cell[400];
    std::snprintf(cell, sizeof cell, "%lf\t", value != value ? -9999.9999 : value);
    return cell;
}

} // namespace

TEST(AsciiWriter, TextFormattedByTwoThreadsIsTheTextOfOne)
{
    const struct {
        int32_t nb_col, nb_lig;
    } frames[] = {{1, 1}, {1, 3000}, {3000, 1}, {37, 53}, {1, 250}};
    // Blocks from one cell's worth to the program's own, so that runs are cut,
    // split and finished after their block at every place.
    const size_t blocks[] = {1, 330, 700, 4096, 65536, ASCII_OUTPUT_BLOCK_SIZE};
    for (const auto &f : frames) {
        double **grid = dmatrice(f.nb_col, f.nb_lig);
        std::string body;
        for (int32_t i = 0; i < f.nb_lig; i++)
            for (int32_t j = 0; j < f.nb_col; j++) {
                grid[i][j] = varied_value(static_cast<size_t>(i) * f.nb_col + j);
                body += printed(grid[i][j]);
            }
        const std::string expected = format_ascii_header(f.nb_col, f.nb_lig, 0, 0, 1, 1) + body;
        std::string progress;
        for (int32_t line = 100; line < f.nb_lig; line += 100)
            progress += "\tline " + std::to_string(line) + "              \r";
        for (size_t block : blocks) {
            FILE *fp = std::tmpfile();
            FILE *shown = std::tmpfile();
            ASSERT_TRUE(write_ascii_grid(fp, grid, f.nb_col, f.nb_lig, 0, 0, 1, 1, shown, block));
            EXPECT_EQ(file_text(fp), expected) << f.nb_col << "x" << f.nb_lig << " block " << block;
            EXPECT_EQ(file_text(shown), progress) << f.nb_col << "x" << f.nb_lig << " block " << block;
            std::fclose(fp);
            std::fclose(shown);
        }
        frdmatrice(grid, f.nb_lig);
    }
}

TEST(AsciiWriter, AFullDiskIsFoundWhateverThreadFormattedTheBlock)
{
    double **grid = dmatrice(1000, 40);
    for (int32_t i = 0; i < 40; i++)
        for (int32_t j = 0; j < 1000; j++)
            grid[i][j] = i * 1000.0 + j;
    FILE *full = std::fopen("/dev/full", "w");
    if (full) {
        for (size_t block : {size_t(4096), size_t(65536)})
            EXPECT_FALSE(write_ascii_grid(full, grid, 1000, 40, 0, 0, 1, 1, nullptr, block)) << block;
        std::fclose(full);
    }
    frdmatrice(grid, 40);
}

TEST(AsciiWriter, SavedGridReadsBackIntoTheSameFrame)
{
    // Square cells keep one "cellsize" line; others get GDAL's "dx" and "dy" lines. Sizes
    // one part in 10^12 apart are one size; one part in 10^5 (ETOPO's) are two.
    const struct {
        double dx, dy;
        const char *lines;
    } cells[] = {
        {12.5, 12.5, "cellsize 12.500000\n"},
        {0.008333333333333337, 0.008333333333333333, "cellsize 0.008333333333333337\n"},
        {0.0125, 0.008333333333333333, "dx 0.012500\ndy 0.008333333333333333\n"},
        {30, 20, "dx 30.000000\ndy 20.000000\n"},
        {0.016666666666666666, 0.016666833333333333, "dx 0.016666666666666666\ndy 0.016666833333333332\n"},
    };
    for (const auto &c : cells) {
        SCOPED_TRACE(c.lines);
        double **grid = grid_of({{1234.5678915, -0.0000004, 17}, {std::nan(""), 1e6 / 3, -42.25}});
        written w = write_grid(grid, 3, 2, 654321.125, 4321987.0625, c.dx, c.dy);
        EXPECT_EQ(w.text.substr(0, w.text.find("nodata")),
                  "ncols 3\nnrows 2\nxllcorner 654321.125000\nyllcorner 4321987.062500\n" + std::string(c.lines));
        FILE *fp = std::tmpfile();
        std::fwrite(w.text.data(), 1, w.text.size(), fp);
        std::rewind(fp);
        text_source src;
        text_source_start(&src, fp);
        ascii_header header;
        ASSERT_TRUE(parse_ascii_header(&src, &header));
        EXPECT_EQ(header.ncols, 3);
        EXPECT_EQ(header.nrows, 2);
        EXPECT_EQ(header.xll, 654321.125);
        EXPECT_EQ(header.yll, 4321987.0625);
        EXPECT_EQ(header.cellsize, c.dx);
        EXPECT_EQ(header.cellsize_y, cells_square(c.dx, c.dy) ? c.dx : c.dy);
        double **back = dmatrice(3, 2);
        ascii_body_fault fault;
        ASSERT_TRUE(read_ascii_body(&src, header, back, 3, 2, nullptr, &fault));
        EXPECT_EQ(back[0][0], 1234.567892);
        EXPECT_EQ(back[0][1], 0.0);
        EXPECT_EQ(back[0][2], 17.0);
        EXPECT_TRUE(std::isnan(back[1][0]));
        EXPECT_EQ(back[1][1], 333333.333333);
        EXPECT_EQ(back[1][2], -42.25);
        std::fclose(fp);
        frdmatrice(back, 2);
        frdmatrice(grid, 2);
    }
}

// ascii_output as treatment calls it, in a child whose console goes to a file.
class AsciiOutput : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override
    {
        dir = e2e::scratch_folder("ascii-output");
    }
    void TearDown() override { e2e::remove_tree(dir); }

    // Runs ascii_output on the example result, with the given corner flags and answers.
    void save_example(int32_t ascii1, int32_t ascii2, const std::string &answers)
    {
        const std::string answer_file = dir + "/answers.txt";
        FILE *fp = std::fopen(answer_file.c_str(), "w");
        std::fputs(answers.c_str(), fp);
        std::fclose(fp);
        EXPECT_EXIT(
            {
                if (!std::freopen(answer_file.c_str(), "r", stdin) ||
                    !std::freopen((dir + "/console.txt").c_str(), "w", stdout))
                    std::exit(2);
                dtab_out = grid_of({{0, 1.5, 2}, {0.25, 0, 3}});
                nb_col = 3;
                nb_lig = 2;
                X_min = 100;
                Y_min = 200;
                dpix_size = 25;
                dpix_size_y = 25;
                dpix_size2 = 30;
                Coord_UTM_dem1_OK = ascii1;
                Coord_UTM_dem2_OK = ascii2;
                f3 = output_create(dir + "/diff.asc", "w");
                ascii_output(0.0, 0.0);
                std::string failed;
                std::exit(f3 == nullptr && output_commit_all(&failed) ? 0 : 3);
            },
            testing::ExitedWithCode(0), "");
    }
};

TEST_F(AsciiOutput, AsciiInputsAskNothing)
{
    save_example(0, 1, "");
    EXPECT_EQ(e2e::console_text(read_back(dir + "/console.txt")), "\n\n\tsaving \n\n");
    EXPECT_EQ(read_back(dir + "/diff.asc"), e2e::text_file(EXAMPLE_FILE));
}

TEST_F(AsciiOutput, TwoRasterInputsAskTheCornerAndGiveTheSecondPixelSize)
{
    save_example(0, 0, "512000.25\n4100000.5\n");
    EXPECT_EQ(e2e::console_text(read_back(dir + "/console.txt")),
              "\n\n\tUTM Coordinates : \n\t\tX_min ? \t\tY_min ? \n\n\tsaving \n\n");
    std::string text = e2e::console_text(read_back(dir + "/diff.asc"));
    EXPECT_EQ(text.substr(0, text.find("nodata")),
              "ncols 3\nnrows 2\nxllcorner 512000.250000\nyllcorner 4100000.500000\ncellsize 30.000000\n");
}

TEST_F(AsciiOutput, AWriteThatFailsStopsTheRunAndLeavesNoFile)
{
    // The file is closed under the writer, as a failing disk would refuse it.
    EXPECT_EXIT(
        {
            if (!std::freopen(e2e::NULL_DEVICE, "r", stdin) ||
                !std::freopen((dir + "/console.txt").c_str(), "w", stdout))
                std::exit(2);
            dtab_out = dmatrice(100000, 2);
            nb_col = 100000;
            nb_lig = 2;
            Coord_UTM_dem1_OK = 1;
            f3 = output_create(dir + "/diff.asc", "w");
            close(fileno(f3));
            ascii_output(0.0, 0.0);
            std::exit(0);
        },
        testing::ExitedWithCode(1), "");
    std::string console = read_back(dir + "/console.txt");
    EXPECT_NE(console.find("\n\tThe file " + dir + "/diff.asc could not be written: "), std::string::npos)
        << console;
    for (const std::string &name : e2e::list_folder(dir))
        EXPECT_EQ(name.find("diff"), std::string::npos) << name;
}
