// The ASCII grid reader: header by position, body in line order, whatever the layout
// of the text and wherever the file's blocks happen to cut it.
#include "gridfiles/ascii_grid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "gridfiles/input_grid.h"
#include "gridfiles/raster_pair.h"
#include "nrutil.h"
#include "globals/globals.h"
#include "e2e_support.h"

namespace {

using e2e::file_text;

FILE *file_holding(const std::string &text)
{
    FILE *fp = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), fp);
    std::rewind(fp);
    return fp;
}

struct grid_read {
    ascii_header header;
    bool header_ok = false;
    bool body_ok = false;
    ascii_body_fault fault;
    std::vector<std::vector<double>> cells;
    std::string progress;
};

// Reads a whole file; the frame is the header's unless one is given.
grid_read read_grid(const std::string &text, size_t block_size = ASCII_BLOCK_SIZE, int32_t nb_col = 0,
                    int32_t nb_lig = 0)
{
    grid_read result;
    FILE *fp = file_holding(text);
    FILE *progress = std::tmpfile();
    text_source src;
    text_source_start(&src, fp, block_size);
    result.header_ok = parse_ascii_header(&src, &result.header);
    if (result.header_ok) {
        if (nb_col == 0) {
            nb_col = result.header.ncols;
            nb_lig = result.header.nrows;
        }
        double **grid = dmatrice(nb_col, nb_lig);
        result.body_ok = read_ascii_body(&src, result.header, grid, nb_col, nb_lig, progress, &result.fault);
        for (int32_t i = 0; i < nb_lig; i++)
            result.cells.emplace_back(grid[i], grid[i] + nb_col);
        frdmatrice(grid, nb_lig);
    }
    result.progress = file_text(progress);
    std::fclose(progress);
    std::fclose(fp);
    return result;
}

const std::string HEADER_2x3 = "ncols 3\nnrows 2\nxllcorner 100.5\nyllcorner 200\ncellsize 25\nNODATA_value -99\n";
const std::vector<std::vector<double>> VALUES_2x3 = {{1, 2.5, -3}, {4e2, 0.125, 6}};

// Block sizes that cut words and line ends at every place, and the program's own.
const size_t BLOCK_SIZES[] = {1, 2, 3, 7, ASCII_BLOCK_SIZE};

} // namespace

TEST(AsciiGridHeader, ReadsSixLinesByPosition)
{
    grid_read r = read_grid("NCOLS\t3\r\nnrows   2\r\nfoo 100.5\r\nyllcorner -2e1\r\nbar 25\r\nx -99\r\n"
                            "1 2.5 -3 400 0.125 6");
    ASSERT_TRUE(r.header_ok);
    EXPECT_EQ(r.header.ncols, 3);
    EXPECT_EQ(r.header.nrows, 2);
    EXPECT_EQ(r.header.xll, 100.5);
    EXPECT_EQ(r.header.yll, -20.0);
    EXPECT_EQ(r.header.cellsize, 25.0);
    EXPECT_TRUE(r.header.nodata_present);
    EXPECT_EQ(r.header.nodata_value, -99.0);
    EXPECT_FALSE(r.header.first_value_present);
    EXPECT_TRUE(r.body_ok);
    EXPECT_EQ(r.cells, VALUES_2x3);
}

TEST(AsciiGridHeader, CentreFormsGiveTheCornerHalfACellLower)
{
    grid_read r = read_grid("ncols 1\nnrows 1\nXLLCENTER 112.5\nyllCenter 212.5\ncellsize 25\n"
                            "nodata_value -9999\n7\n");
    ASSERT_TRUE(r.header_ok);
    EXPECT_TRUE(r.header.x_center);
    EXPECT_TRUE(r.header.y_center);
    EXPECT_EQ(r.header.xll, 100.0);
    EXPECT_EQ(r.header.yll, 200.0);

    // Only the x line in the centre form.
    r = read_grid("ncols 1\nnrows 1\nxllcenter 10\nyllcorner 10\ncellsize 4\n7\n");
    EXPECT_EQ(r.header.xll, 8.0);
    EXPECT_EQ(r.header.yll, 10.0);
}

TEST(AsciiGridHeader, WithoutNoDataLineTheSixthWordOpensTheBody)
{
    for (size_t block : BLOCK_SIZES) {
        grid_read r = read_grid("ncols 3\nnrows 2\nxllcorner 100.5\nyllcorner 200\ncellsize 25\n"
                                "1 2.5 -3\n400 0.125 6\n",
                                block);
        ASSERT_TRUE(r.header_ok) << block;
        EXPECT_FALSE(r.header.nodata_present);
        EXPECT_TRUE(std::isnan(r.header.nodata_value));
        EXPECT_TRUE(r.header.first_value_present);
        EXPECT_TRUE(r.body_ok);
        EXPECT_EQ(r.cells, VALUES_2x3) << block;
    }
    // Without a no-data line, -9999 is an altitude like any other.
    grid_read r = read_grid("ncols 2\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 1\n-9999 -9999\n");
    EXPECT_EQ(r.cells, (std::vector<std::vector<double>>{{-9999, -9999}}));
}

TEST(AsciiGridHeader, RefusesBadCountsAndValuesNamingTheLine)
{
    const std::string fixed = "xllcorner 1\nyllcorner 1\ncellsize 25\n";
    struct {
        std::string text;
        ascii_header_fault fault;
        int line;
        std::string word;
    } cases[] = {
        {"ncols 0\nnrows 2\n", header_bad_count, 1, "0"},
        {"ncols -3\nnrows 2\n", header_bad_count, 1, "-3"},
        {"ncols 2.5\nnrows 2\n", header_bad_count, 1, "2.5"},
        {"ncols 3e2\nnrows 2\n", header_bad_count, 1, "3e2"},
        {"ncols 99999999999\nnrows 2\n", header_bad_count, 1, "99999999999"},
        {"ncols 3\r\nnrows abc\r\n", header_bad_count, 2, "abc"},
        {"ncols 3\nnrows 2\nxllcorner 1\nyllcorner 1,5\n", header_value_not_number, 4, "1,5"},
        {"ncols 3\nnrows 2\n" + fixed + "nodata_value none\n1 2 3 4 5 6", header_value_not_number, 6, "none"},
        {"", header_ends_early, 1, ""},
        {"ncols 3\nnrows 2\nxllcorner", header_ends_early, 3, ""},
        {"ncols 3\nnrows 2\n" + fixed + "nodata_value", header_ends_early, 6, ""},
        // Cells of no size or of a negative one; a dy that is not a number, and dx without its dy.
        {"ncols 3\nnrows 2\nxllcorner 1\nyllcorner 1\ncellsize 0\n", header_cell_size_not_positive, 5, "0"},
        {"ncols 3\nnrows 2\nxllcorner 1\nyllcorner 1\ndx inf\ndy 1\n", header_cell_size_not_positive, 5, "inf"},
        {"ncols 3\nnrows 2\nxllcorner 1\nyllcorner 1\ndx 30\ndy -20\n", header_cell_size_not_positive, 6, "-20"},
        {"ncols 3\nnrows 2\nxllcorner 1\nyllcorner 1\ndx 0.016666666667\ndy 0.00833,3\n",
         header_value_not_number, 6, "0.00833,3"},
        {"ncols 3\nnrows 2\nxllcorner 1\nyllcorner 1\ndx 1\n", header_ends_early, 6, ""},
        {"ncols 3\nnrows 2\nxllcorner 1\nyllcorner 1\ndx 1\ndy 1\nnodata_value none\n",
         header_value_not_number, 7, "none"},
    };
    for (const auto &c : cases) {
        grid_read r = read_grid(c.text);
        EXPECT_FALSE(r.header_ok) << c.text;
        EXPECT_EQ(r.header.fault, c.fault) << c.text;
        EXPECT_EQ(r.header.fault_line, c.line) << c.text;
        EXPECT_EQ(r.header.fault_file_line, c.line) << c.text;
        EXPECT_EQ(r.header.fault_word, c.word) << c.text;
        // Counts read before the fault are kept: a second grid's frame is checked first.
        if (c.line > 2) {
            EXPECT_EQ(r.header.ncols, 3);
            EXPECT_EQ(r.header.nrows, 2);
        }
    }
    EXPECT_EQ(read_grid("ncols +7\nnrows 007\n" + fixed).header.nrows, 7);
}

TEST(AsciiGridHeader, DxAndDyAreTheWidthAndHeightOfACell)
{
    // As GDAL writes them, with the centre forms half of each away.
    grid_read r = read_grid("ncols 2\nnrows 3\nxllcenter 5.908333333333\nYLLCENTER 50\nDX 0.016666666667\n"
                            "DY 0.008333333333\nNODATA_value -32768\n465 412 447 432 513 -32768\n");
    ASSERT_TRUE(r.header_ok);
    EXPECT_EQ(r.header.cellsize, 0.016666666667);
    EXPECT_EQ(r.header.cellsize_y, 0.008333333333);
    EXPECT_EQ(r.header.xll, 5.908333333333 - 0.016666666667 / 2);
    EXPECT_EQ(r.header.yll, 50 - 0.008333333333 / 2);
    EXPECT_TRUE(std::isnan(r.cells.at(2).at(1)));
    // Equal to one part in 10^9 or not, they are kept as the file gives them; the no-data
    // line, or the body, follows dy.
    r = read_grid("ncols 2\nnrows 1\nxllcenter 10\nyllcorner 20\ndx 0.008333333333\n"
                  "dy 0.0083333333330001\nNODATA_value -9\n1 -9\n");
    EXPECT_EQ(r.header.cellsize, 0.008333333333);
    EXPECT_EQ(r.header.cellsize_y, 0.0083333333330001);
    EXPECT_EQ(r.header.xll, 10 - 0.008333333333 / 2);
    EXPECT_TRUE(std::isnan(r.cells.at(0).at(1)));
    // Without a no-data line dy is no longer taken for one: 0.5 is an altitude here.
    r = read_grid("ncols 2\nnrows 1\nxllcorner 0\nyllcorner 0\ndx 0.5\ndy 0.5\n0.5 7\n");
    ASSERT_TRUE(r.header_ok);
    EXPECT_FALSE(r.header.nodata_present);
    EXPECT_EQ(r.cells, (std::vector<std::vector<double>>{{0.5, 7}}));
}

TEST(AsciiGridHeader, KeywordsOfAnyLengthAreReadWhole)
{
    const std::string keyword(5000, 'k');
    grid_read r = read_grid("ncols 1\nnrows 1\n" + keyword + " 100.5\n\n" + keyword + " 7 c 1 n 0 5", 16);
    EXPECT_EQ(r.header.xll, 100.5);
    EXPECT_EQ(r.header.yll, 7.0);
    EXPECT_EQ(r.cells, (std::vector<std::vector<double>>{{5}}));
}

TEST(AsciiGridBody, LayoutAndLineEndsDoNotChangeTheGrid)
{
    const std::string bodies[] = {
        "1\t2.5\t-3\t400\t0.125\t6\t",          // one line, as the writer lays it out
        "1 2.5 -3\n400 0.125 6\n",              // one row per line
        "1 2.5 -3\r\n400 0.125 6\r\n",          // CR LF
        "  1\n\n2.5\t\t-3 4e2\r\n0.125\v6",     // any white space, no final line end
        "1 2.5 -3 400 0.125 6 7 8 end of file", // values beyond the frame are never read
    };
    for (const std::string &body : bodies) {
        for (size_t block : BLOCK_SIZES) {
            grid_read r = read_grid(HEADER_2x3 + body, block);
            EXPECT_TRUE(r.body_ok) << block << " " << body;
            EXPECT_EQ(r.cells, VALUES_2x3) << block << " " << body;
        }
    }
}

TEST(AsciiGridBody, TheFrameGivenIsTheOneRead)
{
    grid_read r = read_grid(HEADER_2x3 + "1 2.5 -3 400 0.125 6\n", ASCII_BLOCK_SIZE, 2, 2);
    EXPECT_TRUE(r.body_ok);
    EXPECT_EQ(r.cells, (std::vector<std::vector<double>>{{1, 2.5}, {-3, 400}}));
}

TEST(AsciiGridBody, NoDataCellsAreHeldAsNaN)
{
    for (size_t block : BLOCK_SIZES) {
        grid_read r = read_grid(HEADER_2x3 + "-99 2.5 nan\n-99.0 -99.5 NAN\n", block);
        ASSERT_TRUE(r.body_ok);
        EXPECT_TRUE(std::isnan(r.cells[0][0]));
        EXPECT_EQ(r.cells[0][1], 2.5);
        EXPECT_TRUE(std::isnan(r.cells[0][2]));
        EXPECT_TRUE(std::isnan(r.cells[1][0]));
        EXPECT_EQ(r.cells[1][1], -99.5);
        EXPECT_TRUE(std::isnan(r.cells[1][2]));
    }
}

TEST(AsciiGridBody, ProgressLinesComeBeforeLines100And200)
{
    auto grid_of_lines = [](int lines) {
        std::string text = "ncols 2\nnrows " + std::to_string(lines) + "\nx 0\ny 0\nc 1\nnodata_value -1\n";
        for (int i = 0; i < lines; i++)
            text += std::to_string(i) + " 0.5\n";
        return text;
    };
    EXPECT_EQ(read_grid(grid_of_lines(100)).progress, "");
    EXPECT_EQ(read_grid(grid_of_lines(101)).progress, "\tline 100                   \r");
    for (size_t block : {size_t(5), ASCII_BLOCK_SIZE}) {
        grid_read r = read_grid(grid_of_lines(250), block);
        EXPECT_EQ(r.progress, "\tline 100                   \r\tline 200                   \r");
        ASSERT_TRUE(r.body_ok);
        EXPECT_EQ(r.cells[249][0], 249.0);
        EXPECT_EQ(r.cells[100][0], 100.0);
        EXPECT_EQ(r.cells[99][1], 0.5);
    }
}

TEST(AsciiGridBody, MissingValuesAndWordsThatAreNotNumbersAreReported)
{
    for (size_t block : BLOCK_SIZES) {
        grid_read r = read_grid(HEADER_2x3 + "1 2.5 -3\n400 0.125\n", block);
        EXPECT_FALSE(r.body_ok);
        EXPECT_EQ(r.fault.kind, body_missing_value);
        EXPECT_EQ(r.fault.line, 2);
        EXPECT_EQ(r.fault.column, 3);

        r = read_grid(HEADER_2x3 + "1 2.5 -3\r\n400 1.5x 6\r\n", block);
        EXPECT_EQ(r.fault.kind, body_not_number);
        EXPECT_EQ(r.fault.word, "1.5x");
        EXPECT_EQ(r.fault.line, 2);
        EXPECT_EQ(r.fault.column, 2);
        EXPECT_EQ(r.fault.file_line, 8);
    }
    // Nothing at all after the header.
    grid_read r = read_grid("ncols 3\nnrows 2\nx 0\ny 0\nc 1\n");
    EXPECT_EQ(r.fault.kind, body_missing_value);
    EXPECT_EQ(r.fault.line, 1);
    EXPECT_EQ(r.fault.column, 1);
}

namespace {

// A grid of nrows x ncols values of every length (short, long, signed, exponents),
// one grid line per file line, and the values it holds.
struct text_grid {
    std::string text;
    std::vector<std::vector<double>> cells;
};

text_grid varied_grid(int32_t ncols, int32_t nrows)
{
    const char *words[] = {"7", "-0.5", "523.456", "1234.5678", "-12345678.125", "4e2", "+3.25", "0.000001"};
    const double values[] = {7, -0.5, 523.456, 1234.5678, -12345678.125, 400, 3.25, 0.000001};
    text_grid g;
    g.text = "ncols " + std::to_string(ncols) + "\nnrows " + std::to_string(nrows) +
             "\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -9999\n";
    for (int32_t i = 0; i < nrows; i++) {
        g.cells.emplace_back();
        for (int32_t j = 0; j < ncols; j++) {
            const size_t k = static_cast<size_t>(i * 7 + j * 3) % 8;
            g.text += words[k];
            g.text += (j + 1 < ncols) ? (j % 3 ? " " : "\t ") : "\n";
            g.cells.back().push_back(values[k]);
        }
    }
    return g;
}

// A grid file of varied_grid with the word of one cell (numbered from 0) replaced.
std::string with_word(std::string text, int64_t cell, const std::string &word)
{
    size_t pos = text.find("-9999\n") + 6;
    for (int64_t k = 0; k < cell; k++) {
        pos = text.find_first_of(" \t\n", pos);
        pos = text.find_first_not_of(" \t\n", pos);
    }
    const size_t end = text.find_first_of(" \t\n", pos);
    return text.replace(pos, end - pos, word);
}

// Blocks small enough for every run of text to be parsed in two halves, at every
// place, and the program's own.
const size_t SPLIT_BLOCK_SIZES[] = {1, 2, 5, 16, 61, 256, 1000, ASCII_BLOCK_SIZE};

} // namespace

TEST(AsciiGridSplitBody, HalvesParsedApartGiveTheGridOfOnePass)
{
    const struct {
        int32_t ncols, nrows;
    } frames[] = {{1, 1}, {1, 40}, {40, 1}, {13, 17}, {3, 250}};
    for (const auto &f : frames) {
        text_grid g = varied_grid(f.ncols, f.nrows);
        for (size_t block : SPLIT_BLOCK_SIZES) {
            grid_read r = read_grid(g.text, block);
            ASSERT_TRUE(r.body_ok) << f.ncols << "x" << f.nrows << " block " << block;
            EXPECT_EQ(r.cells, g.cells) << f.ncols << "x" << f.nrows << " block " << block;
        }
    }
    // Far more text than the frame needs: the grid stops at its last cell.
    text_grid g = varied_grid(13, 17);
    for (size_t block : SPLIT_BLOCK_SIZES) {
        grid_read r = read_grid(g.text + g.text + " not numbers", block, 13, 16);
        ASSERT_TRUE(r.body_ok) << block;
        EXPECT_EQ(r.cells, std::vector<std::vector<double>>(g.cells.begin(), g.cells.begin() + 16));
    }
}

TEST(AsciiGridSplitBody, TheFirstBadWordInFileOrderIsReported)
{
    const int32_t ncols = 13, nrows = 17;
    const text_grid g = varied_grid(ncols, nrows);
    const int64_t total = int64_t(ncols) * nrows;
    for (size_t block : {size_t(5), size_t(61), size_t(1000)}) {
        for (int64_t bad = 0; bad < total; bad += 11) {
            const int32_t line = static_cast<int32_t>(bad / ncols) + 1;
            const int32_t column = static_cast<int32_t>(bad % ncols) + 1;
            // One bad word, wherever the halves fall.
            grid_read r = read_grid(with_word(g.text, bad, "12x"), block);
            ASSERT_FALSE(r.body_ok) << block << " " << bad;
            EXPECT_EQ(r.fault.kind, body_not_number);
            EXPECT_EQ(r.fault.word, "12x");
            EXPECT_EQ(r.fault.line, line) << block << " " << bad;
            EXPECT_EQ(r.fault.column, column) << block << " " << bad;
            EXPECT_EQ(r.fault.file_line, 6 + line) << block << " " << bad;
            // A second one further on never hides the first.
            const int64_t later = std::min(total - 1, bad + 1 + (bad * 7) % 90);
            if (later > bad) {
                const std::string text = with_word(with_word(g.text, later, "second?"), bad, "first?");
                r = read_grid(text, block);
                EXPECT_EQ(r.fault.word, "first?") << block << " " << bad << " " << later;
                EXPECT_EQ(r.fault.line, line);
                EXPECT_EQ(r.fault.column, column);
            }
        }
    }
}

TEST(AsciiGridSplitBody, ProgressLinesAndMissingValuesAsInOnePass)
{
    const text_grid g = varied_grid(3, 250);
    // The file ends within grid line 201: lines 100 and 200 were reached.
    const std::string cut = g.text.substr(0, g.text.size() - 49 * 3 * 5);
    for (size_t block : SPLIT_BLOCK_SIZES) {
        grid_read r = read_grid(g.text, block);
        EXPECT_EQ(r.progress, "\tline 100                   \r\tline 200                   \r") << block;
        r = read_grid(cut, block);
        ASSERT_FALSE(r.body_ok);
        EXPECT_EQ(r.fault.kind, body_missing_value);
        EXPECT_EQ(r.progress, "\tline 100                   \r\tline 200                   \r") << block;
    }
    // A bad word on grid line 150: only line 100 was reached.
    grid_read r = read_grid(with_word(g.text, 149 * 3 + 1, "?"), 61);
    EXPECT_EQ(r.fault.line, 150);
    EXPECT_EQ(r.progress, "\tline 100                   \r");
}

TEST(AsciiGridSplitBody, WordsAreCutOnlyAtWhiteSpace)
{
    // Long words, control characters and bytes beyond ASCII stay inside their word.
    const std::string header = "ncols 2\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -9999\n";
    for (size_t block : SPLIT_BLOCK_SIZES) {
        grid_read r = read_grid(header + "123456789.25\t-0.000000000000000001\n", block);
        ASSERT_TRUE(r.body_ok);
        EXPECT_EQ(r.cells, (std::vector<std::vector<double>>{{123456789.25, -1e-18}}));
        r = read_grid(header + "12\x01" "3 4", block);
        EXPECT_EQ(r.fault.word, "12\x01" "3");
        r = read_grid(header + "1 12345\xc3\xa9" "6789", block);
        EXPECT_EQ(r.fault.word, "12345\xc3\xa9" "6789");
        EXPECT_EQ(r.fault.column, 2);
    }
}

TEST(AsciiGridPixelSize, TruncatesTowardZeroWithoutOverflow)
{
    EXPECT_EQ(truncate_to_int32(25.7), 25);
    EXPECT_EQ(truncate_to_int32(-25.7), -25);
    EXPECT_EQ(truncate_to_int32(std::nan("")), 0);
    EXPECT_EQ(truncate_to_int32(1e300), 2147483647);
    EXPECT_EQ(truncate_to_int32(-1e300), -2147483647 - 1);
}

// The two readers as the dialogue calls them, on their globals and files.
class AsciiLecture : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override
    {
        dir = e2e::scratch_folder("ascii-lecture");
    }
    void TearDown() override { e2e::remove_tree(dir); }
    std::string write_file(const std::string &name, const std::string &text)
    {
        std::string path = dir + "/" + name;
        FILE *fp = std::fopen(path.c_str(), "w");
        std::fwrite(text.data(), 1, text.size(), fp);
        std::fclose(fp);
        return path;
    }
    std::string read_back(const std::string &path)
    {
        FILE *fp = std::fopen(path.c_str(), "r");
        std::string text = fp ? file_text(fp) : "";
        if (fp)
            std::fclose(fp);
        return text;
    }
};

TEST_F(AsciiLecture, FirstAndSecondGridFillTheirGlobalsAndReturnTheirFrames)
{
    // The corner and cells go back with the grid: only the dialogue's adapter puts them
    // into the globals of the frame.
    X_min = Y_min = dpix_size = nodata = -1.0;
    f1 = std::fopen(write_file("north.asc", HEADER_2x3 + "1 2.5 -3 400 0.125 6").c_str(), "r");
    nomim1 = "c:\\images\\site\\north.asc";
    testing::internal::CaptureStdout();
    ascii_lecture1();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n");
    EXPECT_EQ(f1, nullptr);
    EXPECT_EQ(nb_col, 3);
    EXPECT_EQ(nb_lig, 2);
    const grid_frame &first = first_input().frame;
    EXPECT_TRUE(first.has_corner);
    EXPECT_EQ(first.lines, 2);
    EXPECT_EQ(first.columns, 3);
    EXPECT_EQ(first.xll, 100.5);
    EXPECT_EQ(first.dx, 25.0);
    EXPECT_EQ(first.dy, 25.0);
    EXPECT_TRUE(first.has_nodata);
    EXPECT_EQ(first.nodata, -99.0);
    EXPECT_EQ(dtab_dem1[1][0], 400.0);

    f2 = std::fopen(write_file("south.asc", "ncols 3\nnrows 2\nxllcenter 10\nyllcorner 20\ncellsize 25.7\n"
                                            "-1 -2 -3 -4 -5 -6\n")
                        .c_str(),
                    "r");
    nomim2 = "c:\\images\\site\\south.asc";
    testing::internal::CaptureStdout();
    ascii_lecture2();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(f2, nullptr);
    EXPECT_EQ(nb_col2, 3);
    EXPECT_EQ(nb_lig2, 2);
    const grid_frame &second = second_input().frame;
    EXPECT_EQ(second.xll, 10.0 - 25.7 / 2);
    EXPECT_EQ(second.yll, 20.0);
    EXPECT_EQ(second.dx, 25.7);
    EXPECT_EQ(pix_size2, 25);
    EXPECT_FALSE(second.has_nodata);  // this header has none
    for (double global : {X_min, Y_min, dpix_size, nodata})
        EXPECT_EQ(global, -1.0);
    EXPECT_EQ(dtab_dem2[0][0], -1.0);
    EXPECT_EQ(dtab_dem2[1][2], -6.0);
    EXPECT_EQ(dtab_dem1[1][2], 6.0);
    frdmatrice(dtab_dem1, 2);
    frdmatrice(dtab_dem2, 2);
    dtab_dem1 = dtab_dem2 = nullptr;
}

// The early stops run in a child whose console goes to a file.
TEST_F(AsciiLecture, SecondGridOfAnotherFrameStopsBeforeItsValues)
{
    const std::string console = dir + "/console.txt";
    const std::string grid = write_file("south.asc", "ncols 3\nnrows 301\nxllcorner 0\nyllcorner 0\n"
                                                     "cellsize 1\nnodata_value -9999\nnot-a-number\n");
    EXPECT_EXIT(
        {
            if (!std::freopen(e2e::NULL_DEVICE, "r", stdin) || !std::freopen(console.c_str(), "w", stdout))
                std::exit(2);
            nb_col = 3;
            nb_lig = 300;
            f2 = std::fopen(grid.c_str(), "r");
            nomim2 = "c:\\images\\site\\south.asc";
            ascii_lecture2();
        },
        testing::ExitedWithCode(1), "");
    EXPECT_EQ(read_back(console), "\n\n\n The size of the frame is different "
                                  "\n\tthe second DEM c:\\images\\site\\south.asc has 301 lines and 3 "
                                  "columns; the first has 300 lines and 3 columns\n");
}

TEST_F(AsciiLecture, FaultsStopTheRunNamingFileLineAndColumn)
{
    struct fault_case {
        std::string text, message;
    } cases[] = {
        {HEADER_2x3 + "1 2 3\n4 5\n",
         "\n\n\tFile c:\\images\\site\\north.asc ends before the value of grid line 2, column 3: its header "
         "announces 2 lines of 3 values\n"},
        {HEADER_2x3 + "1 2 3\n4 five 6\n",
         "\n\n\tFile c:\\images\\site\\north.asc, line 8: \"five\" is not a number (grid line 2, column 2)\n"},
        {"ncols 3\nnrows 0\n",
         "\n\n\tFile c:\\images\\site\\north.asc, header line 2: \"0\" is not a whole number greater than 0\n"},
        {"ncols 3\nnrows 2\nxllcorner 1\nyllcorner 1\ncellsize ?\n",
         "\n\n\tFile c:\\images\\site\\north.asc, header line 5: \"?\" is not a number\n"},
    };
    for (const fault_case &c : cases) {
        const std::string console = dir + "/console.txt";
        const std::string grid = write_file("north.asc", c.text);
        EXPECT_EXIT(
            {
                if (!std::freopen(e2e::NULL_DEVICE, "r", stdin) || !std::freopen(console.c_str(), "w", stdout))
                    std::exit(2);
                f1 = std::fopen(grid.c_str(), "r");
                nomim1 = "c:\\images\\site\\north.asc";
                ascii_lecture1();
            },
            testing::ExitedWithCode(1), "");
        EXPECT_EQ(read_back(console), c.message);
    }
}
