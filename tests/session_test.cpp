// Whole sessions of the real program: answers on standard input, the console and
// every file left behind compared with what a user must see.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "geotiff_files.h"

namespace {

using e2e::banner;
using e2e::file_exists;
using e2e::little_endian16;
using e2e::little_endian32;
using e2e::read_file;
using e2e::write_file;

// The program's own texts.
const std::string FOLDER_QUESTION =
    "\n\n\tName of the File Folder located in the Directory c:\\images\\ ? ";
const std::string FIRST_QUESTION = "\n\tName of the first DEM (whitout any extension) ? ";
const std::string SECOND_QUESTION = "\n\n\tName of the second DEM (whitout any extension) ? ";
// The output's forms; an input's add those GDAL reads.
const std::string FORMAT_MENU =
    "\n\tFormat Type :\n\t\t0 ====> ascii\n\t\t1 ====> raster\n\t\t2 ====> geotiff\n\t\t";
const std::string INPUT_MENU = "\n\tFormat Type :\n\t\t0 ====> ascii\n\t\t1 ====> raster\n\t\t2 ====> geotiff"
                               "\n\t\t3 ====> other (any raster GDAL reads)\n\t\t";
const std::string SAMPLE_MENU = "\n\ttype of DEM raster :\n\t\t0 ====> 16 bits\n\t\t1 ====> 32 bits\n\t\t";
const std::string OUTPUT_QUESTION = "\n\n\tName of the DEM to be created (without any extension) ? ";
const std::string TREATMENT_MENU = "\n\n\tType of treatment : "
                                   "\n\t\t0 ====> absolute values\n\t\t1 ====> negative values"
                                   "\n\t\t2 ====> positive values\n\t\t3 ====> signed values\n\t\t";
const std::string ELIMINATION_MENU =
    "\n\n\tElimination of low altitude pixels :\n\t\t0 ====> yes\n\t\t1 ====> no\n\t\t"
    "2 ====> at a confidence level, from each DEM's error\n\t\t";
const std::string LIMIT_QUESTION = "\n\tHypsometric decimal value of this limit (in meters) ? ";
const std::string PIXEL_QUESTION = "\n\tPixel Size (in meters) ? ";
const std::string UNIT_MENU = "\n\n\tAre these values\n\t\t0 ====> in meters"
                              "\n\t\t1 ====> in decimeters\n\t\t2 ====> in centimeters"
                              "\n\t\t3 ====> in millimeters\n\t\t";
const std::string OUT_UNIT_MENU = "\n\n\tIn the resulting raster file, the dynamic scale will be : "
                                  "\n\t\t0 ====> in meters"
                                  "\n\t\t1 ====> in decimeters\n\t\t2 ====> in centimeters"
                                  "\n\t\t3 ====> in millimeters\n\t\t";
const std::string SAVING = "\n\n\tsaving \n\n";
const std::string FRAME_MESSAGE = "\n\n The size of the frame is different ";

// The frame stop: its first line, then both frames.
std::string frame_stop(const std::string &second, const std::string &second_frame,
                       const std::string &first_frame)
{
    return FRAME_MESSAGE + "\n\tthe second DEM " + second + " has " + second_frame + "; the first has " +
           first_frame + "\n";
}
const std::string END_OF_ANSWERS = "\n\tNo more answers on the input: the run stops.\n";

std::string summary(const char *which, const std::string &path, int lines, int columns)
{
    return "\n\n\tTHE " + std::string(which) + " DEM NAMED " + path + " HAS : " +
           "\n\t            " + std::to_string(lines) + " LINES" + "\n\t        AND " +
           std::to_string(columns) + " COLUMNS\n";
}

std::string integer_range(bool first, const std::string &low, const std::string &high)
{
    return std::string(first ? "\n\n" : "\n") + "\tHypsometric dynamic scale:\n\t\tMin = " + low +
           "\n\t\tMax = " + high + " ";
}

std::string metre_range(const std::string &low, const std::string &high)
{
    return "\n\tFloat Hypsometric dynamic scale:\n\t\tMin = " + low + "\n\t\tMax = " + high + " ";
}

std::string output_range(const std::string &low, const std::string &high)
{
    return "\n\tHypsometric dynamic scale out :\n\t\tMin = " + low + "\n\t\tMax = " + high + " ";
}

// The last lines of a run that succeeded: the values of the budget's lines in order (the
// lines marked + only with elimination or a confidence level, * only with a confidence
// level), and where the report is (the output's name without its extension, and a
// raster pair's without "_m2" or "_m4").
std::string change_budget(const std::string &path, const std::string &cells_of, const std::string &kind,
                          const std::vector<std::string> &values, const std::string &note = "")
{
    static const char *const labels[] = {
        "cells with data in both grids", "*test of the change", "first above second, raw",
        "+first above second, detected", "+first above second, error", "+first above second, error if independent",
        "first below second, raw", "+first below second, detected", "+first below second, error",
        "+first below second, error if independent", "net volume, raw", "+net volume, detected",
        "+net volume, error", "+net volume, error if independent"};
    const bool detected = values.size() >= 14;
    const bool confident = values.size() == 15;
    std::vector<std::string> shown;
    for (const std::string label : labels)
        if ((label[0] != '+' || detected) && (label[0] != '*' || confident))
            shown.push_back(label.substr(label[0] == '+' || label[0] == '*'));
    shown.push_back("output grid, " + kind);
    size_t width = 0;
    for (const std::string &label : shown)
        width = std::max(width, label.size());
    std::string text = "\n\n\tCHANGE BUDGET OF " + path + " (cells of " + cells_of + ") :";
    for (size_t k = 0; k < shown.size(); k++)
        text += "\n\t\t" + shown[k] + std::string(width - shown[k].size(), ' ') + " : " + values[k];
    const size_t dot = path.rfind('.');
    const std::string stem = path.substr(0, path.compare(dot, 4, ".raw") == 0 ? dot - 3 : dot);
    return text + "\n" + note + "\n\tREPORT OF THE CHANGE : " + stem + "_report.html\n";
}

// Two epochs of one 2 x 3 frame, in metres: 120.5 100 7 / 1 2 3 and 100 120.5 5 / 1.25 2 0.
const std::string NORTH_ASC = "ncols 3\nnrows 2\nxllcorner 300.5\nyllcorner 400\ncellsize 10\n"
                              "nodata_value -9999\n120.5 100 7\n1 2 3\n";
const std::string SOUTH_ASC = "ncols         3\r\nnrows         2\r\nxllcorner     300.5\r\n"
                              "yllcorner     400\r\ncellsize      10\r\nNODATA_value  -9999\r\n"
                              "100\t120.5\t5\r\n1.25\t2\t0\r\n";
// Their changes, north minus south, +20.5 -20.5 +2 / -0.25 0 +3 m, on cells of 10 m.
const std::vector<std::string> NORTH_SOUTH_10 = {
    "6 of 6 (0 without data)", "3 cells, 300.000000 m2, 2550.000000 m3, mean 8.500000 m",
    "2 cells, 200.000000 m2, 2075.000000 m3, mean 10.375000 m", "475.000000 m3",
    "5 cells, 500.000000 m2, 4625.000000 m3, mean 9.250000 m"};
// On cells of 25 m, with the limit 0.5 m: 0.25 m goes, an error of 0.5 m on each cell kept.
const std::vector<std::string> NORTH_SOUTH_25_LIMIT = {
    "6 of 6 (0 without data)", "3 cells, 1875.000000 m2, 15937.500000 m3, mean 8.500000 m",
    "3 cells, 1875.000000 m2, 15937.500000 m3, mean 8.500000 m", "937.500000 m3 (5.882353 %)",
    "541.265877 m3 (3.396178 %)", "2 cells, 1250.000000 m2, 12968.750000 m3, mean 10.375000 m",
    "1 cell, 625.000000 m2, 12812.500000 m3, mean 20.500000 m", "312.500000 m3 (2.439024 %)",
    "312.500000 m3 (2.439024 %)", "2968.750000 m3", "3125.000000 m3", "988.211769 m3 (31.622777 %)",
    "625.000000 m3 (20.000000 %)", "4 cells, 2500.000000 m2, 28750.000000 m3, mean 11.500000 m"};
const std::vector<uint16_t> NORTH_CM = {12050, 10000, 700, 100, 200, 300};
const std::vector<uint16_t> SOUTH_CM = {10000, 12050, 500, 125, 200, 0};

// Real elevation data and what GDAL made of it (tests/data/srtm_luxembourg/README.md).
std::string srtm(const std::string &name)
{
    return read_file(std::string(ORMELIX_SOURCE_DIR) + "/tests/data/srtm_luxembourg/" + name);
}

// Real GeoTIFFs and what GDAL made of them (tests/data/geotiff/README.md).
using e2e::geotiff_fixture;

using e2e::body_words;

class Session : public ::testing::Test {
protected:
    void SetUp() override { root = e2e::make_root(); }
    void TearDown() override { e2e::remove_root(root); }

    std::string site(const std::string &name) const { return root + "/images/site/" + name; }
    std::vector<std::string> site_files() const { return e2e::list_folder(root + "/images/site"); }
    e2e::run_result run(const std::string &answers) const { return e2e::run_program(root, answers); }

    void put_raster16(const std::string &stem, const std::vector<uint16_t> &samples,
                      const std::string &descriptor)
    {
        write_file(site(stem + "_m2.raw"), little_endian16(samples));
        if (!descriptor.empty())
            write_file(site(stem + "_m2.txt"), descriptor);
    }

    std::string root;
};

// The start every session shares: banner, folder and first name.
std::string opening_lines()
{
    return banner() + FOLDER_QUESTION + FIRST_QUESTION + INPUT_MENU;
}

TEST_F(Session, TwoAsciiGridsGiveAnAsciiDifference)
{
    write_file(site("north.asc"), NORTH_ASC);
    write_file(site("south.asc"), SOUTH_ASC);
    e2e::run_result r = run("site\nnorth\n0\nsouth\n0\ndiff\n0\n0\n1\n");

    std::string expected = opening_lines() + "\n" +
                           summary("FIRST", "c:\\images\\site\\north.asc", 2, 3) +
                           SECOND_QUESTION + INPUT_MENU + "\n" +
                           summary("SECOND", "c:\\images\\site\\south.asc", 2, 3) +
                           OUTPUT_QUESTION + FORMAT_MENU + TREATMENT_MENU + ELIMINATION_MENU +
                           SAVING +
                           change_budget("c:\\images\\site\\diff_val_abs.asc", "10.000000 m", "absolute values",
                                         NORTH_SOUTH_10);
    EXPECT_EQ(r.console, expected);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.errors, "");
    // The corner and the cell size are the second grid's; no raster question was asked.
    EXPECT_EQ(read_file(site("diff_val_abs.asc")),
              e2e::text_file("ncols 3\nnrows 2\nxllcorner 300.500000\nyllcorner 400.000000\n"
                             "cellsize 10.000000\nnodata_value -9999.9999\n"
                             "20.500000\t20.500000\t2.000000\t0.250000\t0.000000\t3.000000\t"));
    EXPECT_EQ(site_files(), (std::vector<std::string>{"diff_val_abs.asc", "diff_val_abs_budget.csv",
                                                      "diff_val_abs_report.html", "north.asc", "south.asc"}));
}

TEST_F(Session, TheDemoEndsWithTheLandslidesBudget)
{
    const std::string demo = std::string(ORMELIX_SOURCE_DIR) + "/demo/";
    e2e::make_folder(root + "/images/demo");
    for (const char *name : {"slope_2019.asc", "slope_2024_m2.raw", "slope_2024_m2.txt"})
        write_file(root + "/images/demo/" + name, read_file(demo + "images/demo/" + name));
    e2e::run_result r = run(read_file(demo + "answers.txt"));
    EXPECT_EQ(r.status, 0);
    // Worked outside the program: the same doubles, summed exactly (Python's math.fsum).
    const std::string budget = change_budget(
        "c:\\images\\demo\\landslide_val_abs.asc", "5.000000 m", "absolute values",
        {"60000 of 60000 (0 without data)", "26203 cells, 655075.000000 m2, 142883.000000 m3, mean 0.218117 m",
         "1733 cells, 43325.000000 m2, 125496.000000 m3, mean 2.896619 m", "10831.250000 m3 (8.630753 %)",
         "260.183229 m3 (0.207324 %)", "27408 cells, 685200.000000 m2, 93746.250000 m3, mean 0.136816 m",
         "1686 cells, 42150.000000 m2, 76006.000000 m3, mean 1.803227 m", "10537.500000 m3 (13.864037 %)",
         "256.630815 m3 (0.337645 %)", "49136.750000 m3", "49490.000000 m3", "15111.415646 m3 (30.534281 %)",
         "365.451348 m3 (0.738435 %)",
         "3419 cells, 85475.000000 m2, 201502.000000 m3, mean 2.357438 m"});
    ASSERT_GE(r.console.size(), budget.size());
    EXPECT_EQ(r.console.substr(r.console.size() - budget.size()), budget);
}

TEST_F(Session, PositiveValuesAndNoDataCells)
{
    const std::string RISES = "2 cells, 2.000000 m2, 23.500000 m3, mean 11.750000 m";
    // -9999 is north's no-data value: that cell has no result; south's -99 is its own.
    write_file(site("north.asc"), "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\n"
                                  "nodata_value -9999\n120.5 -9999 7\n1 2 3\n");
    write_file(site("south.asc"), "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\n"
                                  "nodata_value -99\n100 120.5 -99\n1.25 nan 0\n");
    e2e::run_result r = run("site\nnorth\n0\nsouth\n0\ndiff\n0\n2\n1\n");
    EXPECT_EQ(r.status, 0);
    // Two grids on the same cells: no warning. North lies above south by 20.5 and 3 m,
    // below it by 0.25 m, which positive values leave out.
    EXPECT_EQ(r.console, opening_lines() + "\n" + summary("FIRST", "c:\\images\\site\\north.asc", 2, 3) +
                             SECOND_QUESTION + INPUT_MENU + "\n" +
                             summary("SECOND", "c:\\images\\site\\south.asc", 2, 3) + OUTPUT_QUESTION +
                             FORMAT_MENU + TREATMENT_MENU + ELIMINATION_MENU + SAVING +
                             change_budget("c:\\images\\site\\diff_val_pos.asc", "1.000000 m", "positive values",
                                           {"3 of 6 (3 without data)", RISES, "1 cell, 1.000000 m2, 0.250000 m3, "
                                            "mean 0.250000 m", "23.250000 m3", RISES}));
    EXPECT_EQ(read_file(site("diff_val_pos.asc")),
              e2e::text_file("ncols 3\nnrows 2\nxllcorner 0.000000\nyllcorner 0.000000\n"
                             "cellsize 1.000000\nnodata_value -9999.9999\n"
                             "20.500000\t-9999.999900\t-9999.999900\t0.000000\t-9999.999900\t3.000000\t"));
}

TEST_F(Session, EitherSystemsLineBreaksAndNamesOutsideAsciiReadTheSame)
{
    // Grids written on Linux (LF) or on Windows (CR LF), in a folder whose name is not
    // ASCII; the samples of the result hold the bytes of LF and CR (10, 2573, 13 m).
    const std::string folder = "Höhe_2019";
    const std::string shown = "c:\\images\\" + folder + "\\";
    e2e::make_folder(root + "/images/" + folder);
    const std::string answers = folder + "\nnorth\n0\nsouth\n1\n0\n0\ndiff\n1\n0\n1\n0\n25\n0\n";
    const std::string RISES = "3 cells, 1875.000000 m2, 1622500.000000 m3, mean 865.333333 m";
    const std::string expected =
        banner() + FOLDER_QUESTION + FIRST_QUESTION + INPUT_MENU + "\n" +
        summary("FIRST", shown + "north.asc", 1, 3) + SECOND_QUESTION + INPUT_MENU + SAMPLE_MENU +
        integer_range(false, "100", "100") + UNIT_MENU + metre_range("100.000000", "100.000000") +
        summary("SECOND", shown + "south_m2.raw", 1, 3) + OUTPUT_QUESTION + FORMAT_MENU +
        TREATMENT_MENU + ELIMINATION_MENU + SAMPLE_MENU + PIXEL_QUESTION +
        output_range("10.000000", "2573.000000") + OUT_UNIT_MENU +
        // 10 + 2573 + 13 m on cells of south's 25 m.
        change_budget(shown + "diff_val_abs_m2.raw", "25.000000 m", "absolute values",
                      {"3 of 3 (0 without data)", RISES, "0 cells, 0.000000 m2, 0.000000 m3, mean 0.000000 m",
                       "1622500.000000 m3", RISES});
    for (const std::string line_break : {"\n", "\r\n"}) {
        SCOPED_TRACE(line_break == "\n" ? "LF" : "CR LF");
        std::string north = "ncols 3\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 25\n"
                            "nodata_value -9999\n110 2673 113\n";
        std::string descriptor = "1\n3\n2\n100\n100\n25\n";
        for (std::string *text : {&north, &descriptor})
            for (size_t at = text->find('\n'); at != std::string::npos; at = text->find('\n', at + 2))
                text->replace(at, 1, line_break);
        const std::string at = root + "/images/" + folder + "/";
        write_file(at + "north.asc", north);
        write_file(at + "south_m2.raw", little_endian16({100, 100, 100}));
        write_file(at + "south_m2.txt", descriptor);
        e2e::run_result r = run(answers);
        EXPECT_EQ(r.console, expected);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(read_file(at + "diff_val_abs_m2.raw"), little_endian16({10, 2573, 13}));
        EXPECT_EQ(read_file(at + "diff_val_abs_m2.txt"),
                  e2e::text_file("1\n3\n2\n10\n2573\n25\n"
                                 "\n\tProcessing applied to : \n\t\t    " + shown + "north.asc "
                                 "\n\t\tand " + shown + "south_m2.raw \n\tby using absolute values"));
    }
}

TEST_F(Session, TypicalRunTwoRasterPairsToCentimetres)
{
    put_raster16("north", NORTH_CM, "2\n3\n2\n100\n12050\n20\n");
    put_raster16("south", SOUTH_CM, "2 3 2 0 12050 25");
    std::string answers = "site\nnorth\n1\n0\n2\nsouth\n1\n0\n2\n"
                          "diff\n1\n0\n0\n0.5\n0\n30\n2\n";
    e2e::run_result r = run(answers);

    std::string expected =
        opening_lines() + SAMPLE_MENU + integer_range(true, "100", "12050") + UNIT_MENU +
        metre_range("1.000000", "120.500000") +
        summary("FIRST", "c:\\images\\site\\north_m2.raw", 2, 3) + SECOND_QUESTION + INPUT_MENU +
        SAMPLE_MENU + integer_range(false, "0", "12050") + UNIT_MENU +
        metre_range("0.000000", "120.500000") +
        summary("SECOND", "c:\\images\\site\\south_m2.raw", 2, 3) + OUTPUT_QUESTION +
        FORMAT_MENU + TREATMENT_MENU + ELIMINATION_MENU + LIMIT_QUESTION + SAMPLE_MENU +
        PIXEL_QUESTION + output_range("0.000000", "20.500000") + OUT_UNIT_MENU +
        // The metres before any scaling; cells of south's 25 m, not of the answer 30.
        change_budget("c:\\images\\site\\diff_val_abs_m2.raw", "25.000000 m", "absolute values", NORTH_SOUTH_25_LIMIT);
    EXPECT_EQ(r.console, expected);
    EXPECT_EQ(r.status, 0);

    // 0.25 m is under the limit; the rest in whole centimetres.
    EXPECT_EQ(read_file(site("diff_val_abs_m2.raw")),
              little_endian16({2050, 2050, 200, 0, 0, 300}));
    // The pixel size is the second grid's, whatever the answer to the output question.
    EXPECT_EQ(read_file(site("diff_val_abs_m2.txt")),
              e2e::text_file("2\n3\n2\n0\n2050\n25\n"
                             "\n\tProcessing applied to : \n\t\t    c:\\images\\site\\north_m2.raw "
                             "\n\t\tand c:\\images\\site\\south_m2.raw "
                             "\n\tby using absolute values"
                             "\n\tand eliminating pixels whose altitude is lower than 0.50 m "));
    // Existing descriptors are never rewritten.
    EXPECT_EQ(read_file(site("north_m2.txt")), "2\n3\n2\n100\n12050\n20\n");
    EXPECT_EQ(site_files().size(), 8u);
}

TEST_F(Session, MissingDescriptorIsAskedForAndCompleted)
{
    put_raster16("north", NORTH_CM, "");
    write_file(site("south.asc"), SOUTH_ASC);
    // Pixel size 0 brings the pixel-size question; its 0 and -3 are asked again.
    std::string answers = "site\nnorth\n1\n0\n2\n3\n0\n0\n-3\n25\n2\n"
                          "south\n0\ndiff\n1\n1\n1\n1\n7\n3\n";
    e2e::run_result r = run(answers);

    std::string expected =
        opening_lines() + SAMPLE_MENU + "\n\tNo File c:\\images\\site\\north_m2.txt \n\n" +
        "\n\tNumber of lines   ? " + "\tNumber of columns ? " + "\tPixel size ? " +
        PIXEL_QUESTION + PIXEL_QUESTION + PIXEL_QUESTION + integer_range(true, "100", "12050") +
        UNIT_MENU + metre_range("1.000000", "120.500000") +
        summary("FIRST", "c:\\images\\site\\north_m2.raw", 2, 3) + SECOND_QUESTION + INPUT_MENU +
        "\n" + summary("SECOND", "c:\\images\\site\\south.asc", 2, 3) +
        "\n\tWarning: the two DEMs do not lie on the same grid of cells:"
        "\n\t\tfirst DEM : cell size 25.000000 (raster pixel size)"
        "\n\t\tsecond DEM: lower-left corner 300.500000 400.000000, cell size 10.000000"
        "\n\tTheir difference is still taken cell by cell.\n" +
        OUTPUT_QUESTION + FORMAT_MENU + TREATMENT_MENU + ELIMINATION_MENU + SAMPLE_MENU + PIXEL_QUESTION +
        output_range("0.000000", "20.500000") + OUT_UNIT_MENU +
        // North lies below south by 20.5 and 0.25 m; cells of south's 10 m.
        change_budget("c:\\images\\site\\diff_val_neg_m4.raw", "10.000000 m", "negative values",
                      {NORTH_SOUTH_10[0], NORTH_SOUTH_10[1], NORTH_SOUTH_10[2], NORTH_SOUTH_10[3], NORTH_SOUTH_10[2]});
    EXPECT_EQ(r.console, expected);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(site("north_m2.txt")), e2e::text_file("2\n3\n2\n100\n12050\n25\n"));
    // Negative values: south - north where north lies below, in millimetres, 32 bits.
    // 100-120.5 <0 ->0; 120.5-100=20.5; 5-7<0 ->0; 1.25-1=0.25; 0; 0-3<0 -> 0.
    EXPECT_EQ(read_file(site("diff_val_neg_m4.raw")), little_endian32({0, 20500, 0, 250, 0, 0}));
    // The second grid came from an ASCII grid of cell size 10.
    EXPECT_EQ(read_file(site("diff_val_neg_m4.txt")),
              e2e::text_file("2\n3\n4\n0\n20500\n10\n"
                             "\n\tProcessing applied to : \n\t\t    c:\\images\\site\\north_m2.raw "
                             "\n\t\tand c:\\images\\site\\south.asc "
                             "\n\tby using negative values"));
}

TEST_F(Session, ADescriptorThatCannotBeCreatedIsAWarningOnly)
{
    put_raster16("north", NORTH_CM, "");
#ifdef _WIN32
    // A folder of the descriptor's name: it can be neither read nor made a file.
    e2e::make_folder(site("north_m2.txt"));
    const std::string why = e2e::reason(EACCES);
#else
    // The descriptor's name leads into a folder that does not exist.
    ASSERT_EQ(symlink("no/such/folder/north_m2.txt", site("north_m2.txt").c_str()), 0);
    const std::string why = e2e::reason(ENOENT);
#endif
    write_file(site("south.asc"), SOUTH_ASC);
    e2e::run_result r = run("site\nnorth\n1\n0\n2\n3\n25\n2\nsouth\n0\ndiff\n0\n0\n1\n");
    std::string expected =
        opening_lines() + SAMPLE_MENU + "\n\tNo File c:\\images\\site\\north_m2.txt \n\n" +
        "\n\tNumber of lines   ? " + "\tNumber of columns ? " + "\tPixel size ? " +
        "\n\tWarning: the descriptor c:\\images\\site\\north_m2.txt cannot be created (" + why +
        "); the run goes on with the answers given.\n";
    EXPECT_EQ(r.console.substr(0, expected.size()), expected);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(file_exists(site("diff_val_abs.asc")));
}

TEST_F(Session, TwoRasterPairsToAnAsciiGridAskTheCorner)
{
    put_raster16("north", NORTH_CM, "2\n3\n2\n100\n12050\n20\n");
    put_raster16("south", SOUTH_CM, "2\n3\n2\n0\n12050\n25\n");
    std::string answers = "site\nnorth\n1\n0\n2\nsouth\n1\n0\n2\ndiff\n0\n0\n1\n"
                          "512000.25\n4800000.5\n";
    e2e::run_result r = run(answers);
    std::string tail = OUTPUT_QUESTION + FORMAT_MENU + TREATMENT_MENU + ELIMINATION_MENU +
                       "\n\n\tUTM Coordinates : " + "\n\t\tX_min ? " + "\t\tY_min ? " + SAVING +
                       change_budget("c:\\images\\site\\diff_val_abs.asc", "25.000000 m", "absolute values",
                                     {NORTH_SOUTH_25_LIMIT[0], NORTH_SOUTH_25_LIMIT[1], NORTH_SOUTH_25_LIMIT[5],
                                      NORTH_SOUTH_25_LIMIT[9], "5 cells, 3125.000000 m2, 28906.250000 m3, mean 9.250000 m"});
    ASSERT_GE(r.console.size(), tail.size());
    EXPECT_EQ(r.console.substr(r.console.size() - tail.size()), tail);
    EXPECT_EQ(r.status, 0);
    // The cell size is the second grid's pixel size.
    EXPECT_EQ(read_file(site("diff_val_abs.asc")),
              e2e::text_file("ncols 3\nnrows 2\nxllcorner 512000.250000\nyllcorner 4800000.500000\n"
                             "cellsize 25.000000\nnodata_value -9999.9999\n"
                             "20.500000\t20.500000\t2.000000\t0.250000\t0.000000\t3.000000\t"));
}

TEST_F(Session, AnOutputPairReadsBackAsAnInput)
{
    put_raster16("north", NORTH_CM, "2\n3\n2\n100\n12050\n20\n");
    put_raster16("south", SOUTH_CM, "2\n3\n2\n0\n12050\n25\n");
    ASSERT_EQ(run("site\nnorth\n1\n0\n2\nsouth\n1\n0\n2\ndiff\n1\n0\n1\n0\n25\n2\n").status, 0);
    // The difference against itself: its notes do not disturb its descriptor.
    e2e::run_result r = run("site\ndiff_val_abs\n1\n0\n2\ndiff_val_abs\n1\n0\n2\nzero\n0\n0\n1\n"
                            "1\n2\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.console.find(summary("SECOND", "c:\\images\\site\\diff_val_abs_m2.raw", 2, 3)),
              std::string::npos);
    // Nothing changed: no area and a mean of 0.
    const std::string none = "0 cells, 0.000000 m2, 0.000000 m3, mean 0.000000 m";
    const std::string budget = change_budget("c:\\images\\site\\zero_val_abs.asc", "25.000000 m", "absolute values",
                                             {"6 of 6 (0 without data)", none, none, "0.000000 m3", none});
    ASSERT_GE(r.console.size(), budget.size());
    EXPECT_EQ(r.console.substr(r.console.size() - budget.size()), budget);
    EXPECT_EQ(read_file(site("zero_val_abs.asc")),
              e2e::text_file("ncols 3\nnrows 2\nxllcorner 1.000000\nyllcorner 2.000000\n"
                             "cellsize 25.000000\nnodata_value -9999.9999\n"
                             "0.000000\t0.000000\t0.000000\t0.000000\t0.000000\t0.000000\t"));
}

TEST_F(Session, EarlyStopsSayWhyAndExitWithOne)
{
    write_file(site("north.asc"), NORTH_ASC);
    // A missing grid file.
    e2e::run_result r = run("site\nnowhere\n0\n");
    EXPECT_EQ(r.console, opening_lines() + "\n\tFile c:\\images\\site\\nowhere.asc unknown\n");
    EXPECT_EQ(r.status, 1);

    // A missing sample file stops before its descriptor is looked at.
    write_file(site("lost_m2.txt"), "2\n3\n2\n0\n0\n0\n");
    r = run("site\nlost\n1\n0\n");
    EXPECT_EQ(r.console, opening_lines() + SAMPLE_MENU +
                             "\n\tFile c:\\images\\site\\lost_m2.raw unknown\n");
    EXPECT_EQ(r.status, 1);

    // Cells that are not square, as GDAL writes them, are read: the run stops only at the
    // end of the answers.
    write_file(site("coarse.asc"), srtm("lux_dx_dy.asc"));
    r = run("site\ncoarse\n0\n");
    EXPECT_EQ(r.console, opening_lines() + "\n" + summary("FIRST", "c:\\images\\site\\coarse.asc", 3, 2) +
                             SECOND_QUESTION + END_OF_ANSWERS);
    EXPECT_EQ(r.status, 1);
    e2e::remove_tree(site("coarse.asc"));

    // End of the answers at a question.
    r = run("site\nnorth\n");
    EXPECT_EQ(r.console, opening_lines() + END_OF_ANSWERS);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(site_files(), (std::vector<std::string>{"lost_m2.txt", "north.asc"}));
}

// A frame no machine holds whole (10^12 cells, 22351.9 GiB of doubles) is read in bands
// of lines, not refused for its size: what stops these is their files.
TEST_F(Session, AFrameBeyondTheMachinesMemoryIsReadInBands)
{
    write_file(site("north.asc"), "ncols 1000000\nnrows 1000000\nxllcorner 0\nyllcorner 0\n"
                                  "cellsize 1\nnodata_value -9999\n1 2 3\n");
    e2e::run_result r = run("site\nnorth\n0\n");
    EXPECT_EQ(r.console, opening_lines() + "\n\n\tFile c:\\images\\site\\north.asc ends before the value of "
                                           "grid line 1, column 4: its header announces 1000000 lines of 1000000 "
                                           "values\n");
    EXPECT_EQ(r.status, 1);

    // A GeoTIFF of that frame is opened, its cells left for the bands: the dialogue goes on.
    std::string vast = geotiff_fixture("dem_2015.tif");
    for (uint16_t tag : {256, 257, 278})
        e2e::set_tiff_tag(&vast, tag, 1000000);
    write_file(site("vast.tif"), vast);
    r = run("site\nvast\n2\n");
    EXPECT_EQ(r.console, opening_lines() + "\n\n\n\tTHE FIRST DEM NAMED c:\\images\\site\\vast.tif HAS : "
                                           "\n\t            1000000 LINES\n\t        AND 1000000 COLUMNS\n\n\n\t"
                                           "Name of the second DEM (whitout any extension) ? \n\tNo more answers "
                                           "on the input: the run stops.\n");
    EXPECT_EQ(r.status, 1);
}

TEST_F(Session, FramesThatDifferStopBeforeTheSecondGridIsRead)
{
    put_raster16("north", NORTH_CM, "2\n3\n2\n100\n12050\n20\n");
    // Same lines, other columns: stops right after the descriptor, before any unit.
    put_raster16("wide", {1, 2, 3, 4, 5, 6, 7, 8}, "2\n4\n2\n0\n0\n25\n");
    e2e::run_result r = run("site\nnorth\n1\n0\n2\nwide\n1\n0\n2\n");
    std::string first_grid = opening_lines() + SAMPLE_MENU + integer_range(true, "100", "12050") +
                             UNIT_MENU + metre_range("1.000000", "120.500000") +
                             summary("FIRST", "c:\\images\\site\\north_m2.raw", 2, 3);
    EXPECT_EQ(r.console, first_grid + SECOND_QUESTION + INPUT_MENU + SAMPLE_MENU +
                             frame_stop("c:\\images\\site\\wide_m2.raw", "2 lines and 4 columns",
                                        "2 lines and 3 columns"));
    EXPECT_EQ(r.status, 1);

    // Same columns, other lines, as a created descriptor: it keeps its first three lines.
    put_raster16("tall", {1, 2, 3, 4, 5, 6, 7, 8, 9}, "");
    r = run("site\nnorth\n1\n0\n2\ntall\n1\n0\n3\n3\n0\n");
    EXPECT_EQ(r.console, first_grid + SECOND_QUESTION + INPUT_MENU + SAMPLE_MENU +
                             "\n\tNo File c:\\images\\site\\tall_m2.txt \n\n" +
                             "\n\tNumber of lines   ? " + "\tNumber of columns ? " +
                             "\tPixel size ? " +
                             frame_stop("c:\\images\\site\\tall_m2.raw", "3 lines and 3 columns",
                                        "2 lines and 3 columns"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read_file(site("tall_m2.txt")), e2e::text_file("3\n3\n2\n"));

    // An ASCII second grid: stops after its header, before its values.
    write_file(site("south.asc"), "ncols 3\nnrows 3\nxllcorner 0\nyllcorner 0\ncellsize 1\n"
                                  "nodata_value -9999\nnot numbers at all\n");
    r = run("site\nnorth\n1\n0\n2\nsouth\n0\n");
    EXPECT_EQ(r.console, first_grid + SECOND_QUESTION + INPUT_MENU + "\n" +
                             frame_stop("c:\\images\\site\\south.asc", "3 lines and 3 columns",
                                        "2 lines and 3 columns"));
    EXPECT_EQ(r.status, 1);
}

TEST_F(Session, AnswersThatAreNotChoicesAreAskedAgain)
{
    write_file(site("north.asc"), NORTH_ASC);
    write_file(site("south.asc"), SOUTH_ASC);
    // A folder outside the root, a menu answer of 4, -1, a word and 1.5, a limit "abc".
    std::string answers = "..\\other\nsite\nnorth\n4\n-1\nabc\n1.5\n0\nsouth\n0\n"
                          "diff\n0\n4\n0\n0\nabc\n0.5e0\n";
    e2e::run_result r = run(answers);
    std::string expected =
        banner() + FOLDER_QUESTION +
        "\n\t..\\other would lead outside c:\\images\\: please give a name inside it.\n" +
        FOLDER_QUESTION + FIRST_QUESTION + INPUT_MENU + INPUT_MENU + INPUT_MENU +
        "\n\tabc is not a whole number: please answer again.\n" + INPUT_MENU +
        "\n\t1.5 is not a whole number: please answer again.\n" + INPUT_MENU + "\n" +
        summary("FIRST", "c:\\images\\site\\north.asc", 2, 3) + SECOND_QUESTION + INPUT_MENU +
        "\n" + summary("SECOND", "c:\\images\\site\\south.asc", 2, 3) +
        OUTPUT_QUESTION + FORMAT_MENU + TREATMENT_MENU + TREATMENT_MENU + ELIMINATION_MENU + LIMIT_QUESTION +
        "\n\tabc is not a number: please answer again.\n" + LIMIT_QUESTION + SAVING +
        change_budget("c:\\images\\site\\diff_val_abs.asc", "10.000000 m", "absolute values",
                      {NORTH_SOUTH_10[0], NORTH_SOUTH_10[1], NORTH_SOUTH_10[1], "150.000000 m3 (5.882353 %)",
                       "86.602540 m3 (3.396178 %)", NORTH_SOUTH_10[2],
                       "1 cell, 100.000000 m2, 2050.000000 m3, mean 20.500000 m", "50.000000 m3 (2.439024 %)",
                       "50.000000 m3 (2.439024 %)", "475.000000 m3", "500.000000 m3", "158.113883 m3 (31.622777 %)",
                       "100.000000 m3 (20.000000 %)",
                       "4 cells, 400.000000 m2, 4600.000000 m3, mean 11.500000 m"});
    EXPECT_EQ(r.console, expected);
    EXPECT_EQ(r.status, 0);
    std::string body = read_file(site("diff_val_abs.asc"));
    EXPECT_NE(body.find("20.500000\t20.500000\t2.000000\t0.000000\t0.000000\t3.000000\t"),
              std::string::npos);
}

TEST_F(Session, AnOutputNamedLikeAnInputIsRefused)
{
    write_file(site("north.asc"), NORTH_ASC);
    write_file(site("diff_val_abs.asc"), SOUTH_ASC);
    std::string answers = "site\nnorth\n0\ndiff_val_abs\n0\ndiff\n0\n0\n1\nother\n";
    e2e::run_result r = run(answers);
    std::string tail = OUTPUT_QUESTION + FORMAT_MENU + TREATMENT_MENU + ELIMINATION_MENU +
                       "\n\tThe file c:\\images\\site\\diff_val_abs.asc is one of the input "
                       "grids: choose another name.\n" +
                       OUTPUT_QUESTION + SAVING +
                       change_budget("c:\\images\\site\\other_val_abs.asc", "10.000000 m", "absolute values",
                                     NORTH_SOUTH_10);
    ASSERT_GE(r.console.size(), tail.size());
    EXPECT_EQ(r.console.substr(r.console.size() - tail.size()), tail);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(site("diff_val_abs.asc")), SOUTH_ASC);
    EXPECT_TRUE(file_exists(site("other_val_abs.asc")));
}

TEST_F(Session, AStoppedRunLeavesAnEarlierOutputIntact)
{
    write_file(site("north.asc"), NORTH_ASC);
    write_file(site("south.asc"), SOUTH_ASC);
    write_file(site("diff_val_abs_m2.raw"), "earlier samples");
    write_file(site("diff_val_abs_m2.txt"), "earlier descriptor");
    // The answers end at the output pixel size: the files were being made.
    e2e::run_result r = run("site\nnorth\n0\nsouth\n0\ndiff\n1\n0\n1\n0\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read_file(site("diff_val_abs_m2.raw")), "earlier samples");
    EXPECT_EQ(read_file(site("diff_val_abs_m2.txt")), "earlier descriptor");
    EXPECT_EQ(site_files(), (std::vector<std::string>{"diff_val_abs_m2.raw", "diff_val_abs_m2.txt",
                                                      "north.asc", "south.asc"}));
}

TEST_F(Session, AnOutputUnitTooSmallForTheResultIsRefused)
{
    // 70 m of change: millimetres overflow 16 bits, centimetres fit.
    write_file(site("north.asc"), "ncols 1\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 1\n"
                                  "nodata_value -9999\n170\n");
    write_file(site("south.asc"), "ncols 1\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 1\n"
                                  "nodata_value -9999\n100\n");
    e2e::run_result r = run("site\nnorth\n0\nsouth\n0\ndiff\n1\n0\n1\n0\n1\n3\n2\n");
    EXPECT_EQ(r.status, 0);
    size_t menu = r.console.find(OUT_UNIT_MENU);
    ASSERT_NE(menu, std::string::npos);
    size_t again = r.console.find(OUT_UNIT_MENU, menu + 1);
    EXPECT_NE(again, std::string::npos);
    EXPECT_EQ(read_file(site("diff_val_abs_m2.raw")), little_endian16({7000}));
    const std::string head = e2e::text_file("1\n1\n2\n7000\n7000\n");
    EXPECT_EQ(read_file(site("diff_val_abs_m2.txt")).substr(0, head.size()), head);
}

TEST_F(Session, RealEpochsInDegreesGiveGdalsDifferenceOnTheirGrid)
{
    write_file(site("lux_2000.asc"), srtm("lux_2000.asc"));
    write_file(site("lux_2010.asc"), srtm("lux_2010.asc"));
    const std::string answers = "site\nlux_2000\n0\nlux_2010\n0\nchange\n0\n0\n1\n";
    e2e::run_result r = run(answers);
    const std::string first = opening_lines() + "\n" +
                              summary("FIRST", "c:\\images\\site\\lux_2000.asc", 60, 60) +
                              SECOND_QUESTION + INPUT_MENU + "\n" +
                              summary("SECOND", "c:\\images\\site\\lux_2010.asc", 60, 60);
    // No file declares degrees: the cells are taken as metres (their budget summed from
    // GDAL's result) and a note says how to declare them.
    const std::string rest =
        OUTPUT_QUESTION + FORMAT_MENU + TREATMENT_MENU + ELIMINATION_MENU + SAVING +
        change_budget("c:\\images\\site\\change_val_abs.asc", "0.008333 m", "absolute values",
                      {"2468 of 3600 (1132 without data)", "1002 cells, 0.069583 m2, 0.047542 m3, mean 0.683234 m",
                       "87 cells, 0.006042 m2, 0.002115 m3, mean 0.350000 m", "0.045427 m3",
                       "1089 cells, 0.075625 m2, 0.049656 m3, mean 0.656612 m"},
                      "\n\tNote: the corner, extent and cell size of this frame all fit geographic degrees, but no "
                      "file declares them so: the areas and volumes above take the cell size for metres. If the "
                      "grids are in degrees, put beside each ASCII grid NAME.asc the file NAME.prj that GIS tools "
                      "write with it (its text begins GEOGCS or GEOGCRS) and run again.\n");
    EXPECT_EQ(r.console, first + rest);
    EXPECT_EQ(r.status, 0);
    // The header keeps the inputs' georeference to its last digit; the cells are GDAL's.
    const std::string header = e2e::text_file("ncols 60\nnrows 60\nxllcorner 5.741666666667\n"
                                              "yllcorner 49.691666666667\ncellsize 0.008333333333\n"
                                              "nodata_value -9999.9999\n");
    std::string result = read_file(site("change_val_abs.asc"));
    EXPECT_EQ(result.substr(0, header.size()), header);
    const std::vector<std::string> expected = body_words(srtm("lux_diff_abs.asc"), 6);
    ASSERT_EQ(expected.size(), 3600u);
    EXPECT_EQ(body_words(result, 6), expected);

    // The second epoch exported half a cell to the east: a warning, and the second is
    // resampled onto the first's cells as gdalwarp -r bilinear does
    // (tests/data/frames/README.md); the first column has no data, its cells' centres
    // lying on the second's western edge.
    std::string shifted = srtm("lux_2010.asc");
    const std::string corner = "xllcorner    5.741666666667";
    const size_t at = shifted.find(corner);
    ASSERT_NE(at, std::string::npos);
    shifted.replace(at, corner.size(), "xllcorner    5.745833333333");
    write_file(site("lux_2010.asc"), shifted);
    r = run(answers);
    const std::string resampled =
        first +
        "\n\tThe second DEM covers 60 lines and 60 columns of the first DEM's cells, lower-left corner "
        "5.741666666667 49.691666666667:"
        "\n\t\tlines 1 to 60 and columns 1 to 60 of the first DEM"
        "\n\tTheir difference is taken on these cells.\n"
        "\n\tWarning: the two DEMs do not lie on the same grid of cells:"
        "\n\t\tfirst DEM : lower-left corner 5.741666666667 49.691666666667, cell size 0.008333333333"
        "\n\t\tsecond DEM: lower-left corner 5.745833333333 49.691666666667, cell size 0.008333333333"
        "\n\t\tthe second DEM is offset by 0.500000 cells in X and 0.000000 cells in Y"
        "\n\tThe second DEM is resampled onto the first DEM's cells: bilinear, from its four cell centres "
        "nearest to each cell's centre.\n" +
        OUTPUT_QUESTION;
    EXPECT_EQ(r.console.substr(0, resampled.size()), resampled);
    EXPECT_EQ(r.status, 0);
    result = read_file(site("change_val_abs.asc"));
    EXPECT_EQ(result.substr(0, header.size()), header);
    const std::vector<std::string> gdal =
        body_words(read_file(std::string(ORMELIX_SOURCE_DIR) + "/tests/data/frames/lux_half_east_diff_abs.asc"), 6);
    const std::vector<std::string> ours = body_words(result, 6);
    ASSERT_EQ(ours.size(), 3600u);
    ASSERT_EQ(gdal.size(), 3600u);
    size_t with_data = 0;
    for (size_t k = 0; k < ours.size(); k++) {
        // gdalwarp also weighs what neighbours have data where one has none: only the
        // cells that have data here are compared.
        if (ours[k] == "-9999.999900" || k % 60 == 0) {
            EXPECT_EQ(ours[k], "-9999.999900") << "cell " << k;
            continue;
        }
        with_data++;
        EXPECT_NEAR(std::stod(ours[k]), std::stod(gdal[k]), 1.5e-6) << "cell " << k;
    }
    EXPECT_GT(with_data, 2300u);
}

// Two epochs of a real survey in UTM, as GIS tools deliver them (Int16 strips, Float32
// tiles with the floating-point predictor), to each output form: GDAL's difference.
TEST_F(Session, TwoGeotiffEpochsGiveGdalsDifferenceInEveryForm)
{
    write_file(site("dem_2015.tif"), geotiff_fixture("dem_2015.tif"));
    write_file(site("dem_2020.tif"), geotiff_fixture("dem_2020.tif"));
    const std::vector<std::string> expected = body_words(geotiff_fixture("dem_diff_abs.asc"), 6);
    ASSERT_EQ(expected.size(), 41u * 41u);
    const std::string inputs = opening_lines() + "\n" + summary("FIRST", "c:\\images\\site\\dem_2015.tif", 41, 41) +
                               SECOND_QUESTION + INPUT_MENU + "\n" +
                               summary("SECOND", "c:\\images\\site\\dem_2020.tif", 41, 41) + OUTPUT_QUESTION +
                               FORMAT_MENU + TREATMENT_MENU + ELIMINATION_MENU;
    // Summed by Python's math.fsum over GDAL's Float64 difference; cells of 30 m.
    auto budget = [](const std::string &path) {
        return change_budget(path, "30.000000 m", "absolute values",
                             {"1667 of 1681 (14 without data)",
                              "285 cells, 256500.000000 m2, 204659.980774 m3, mean 0.797895 m",
                              "691 cells, 621900.000000 m2, 217668.795776 m3, mean 0.350006 m", "-13008.815002 m3",
                              "976 cells, 878400.000000 m2, 422328.776550 m3, mean 0.480793 m"});
    };

    e2e::run_result r = run("site\ndem_2015\n2\ndem_2020\n2\nchange\n0\n0\n1\n");
    EXPECT_EQ(r.console, inputs + SAVING + budget("c:\\images\\site\\change_val_abs.asc"));
    EXPECT_EQ(r.status, 0);
    const std::string asc = read_file(site("change_val_abs.asc"));
    const std::string header = e2e::text_file("ncols 41\nnrows 41\nxllcorner 483285.000000\nyllcorner "
                                              "5627295.000000\ncellsize 30.000000\nnodata_value -9999.9999\n");
    EXPECT_EQ(asc.substr(0, header.size()), header);
    EXPECT_EQ(body_words(asc, 6), expected);

    r = run("site\ndem_2015\n2\ndem_2020\n2\nchange\n2\n0\n1\n");
    EXPECT_EQ(r.console, inputs + SAVING + budget("c:\\images\\site\\change_val_abs.tif"));
    EXPECT_EQ(r.status, 0);
    const e2e::tiff_read tif = e2e::read_tiff(read_file(site("change_val_abs.tif")));
    ASSERT_TRUE(tif.read);
    EXPECT_EQ(tif.layout.placement.xll, 483285.0);
    EXPECT_EQ(tif.layout.placement.yll, 5627295.0);
    EXPECT_EQ(tif.layout.placement.dx, 30.0);
    uint16_t code = 0;
    EXPECT_TRUE(geokey_short(tif.layout.keys, GEOKEY_PROJECTED_TYPE, &code));
    EXPECT_EQ(code, 32632);
    // Worked by hand in tests/data/geotiff/README.md; Float32 cells.
    EXPECT_EQ(tif.cells[0], static_cast<double>(0.899993896484375f));
    EXPECT_EQ(std::count_if(tif.cells.begin(), tif.cells.end(), [](double v) { return std::isnan(v); }), 14);

    // 16-bit centimetres: the descriptor records the second grid's 30 m cells.
    r = run("site\ndem_2015\n2\ndem_2020\n2\nchange\n1\n0\n1\n0\n5\n2\n");
    EXPECT_EQ(r.console, inputs + SAMPLE_MENU + PIXEL_QUESTION + output_range("0.000000", "1.500000") +
                             OUT_UNIT_MENU + budget("c:\\images\\site\\change_val_abs_m2.raw"));
    std::vector<uint16_t> centimetres;
    for (const std::string &word : expected)
        centimetres.push_back(word == "-9999.999900" ? 0 : static_cast<uint16_t>(std::stod(word) * 100));
    EXPECT_EQ(read_file(site("change_val_abs_m2.raw")), little_endian16(centimetres));
    const std::string descriptor = e2e::text_file("41\n41\n2\n0\n150\n30\n");
    EXPECT_EQ(read_file(site("change_val_abs_m2.txt")).substr(0, descriptor.size()), descriptor);
}

// The second epoch's coordinates declared in UTM zone 33N instead of 32N: the same
// numbers, ground 400 km east. Reprojected, it shares no cell with the first, which
// stops the run instead of differencing two places.
TEST_F(Session, GeotiffsInTwoCoordinateSystemsOfNoCommonGroundStop)
{
    write_file(site("dem_2015.tif"), geotiff_fixture("dem_2015.tif"));
    write_file(site("dem_2020.tif"), geotiff_fixture("dem_2020_utm33_point.tif"));
    e2e::run_result r = run("site\ndem_2015\n2\ndem_2020\n2\nchange\n2\n0\n1\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.console.find(summary("SECOND", "c:\\images\\site\\dem_2020.tif", 41, 41) +
                             "\n\tThe DEMs c:\\images\\site\\dem_2015.tif and c:\\images\\site\\dem_2020.tif have "
                             "no cell in common:"),
              std::string::npos)
        << r.console;
    EXPECT_FALSE(e2e::file_exists(site("change_val_abs.tif")));
}

TEST_F(Session, TwoRasterPairsToAGeotiffAskTheCorner)
{
    put_raster16("north", NORTH_CM, "2\n3\n2\n100\n12050\n20\n");
    put_raster16("south", SOUTH_CM, "2\n3\n2\n0\n12050\n25\n");
    e2e::run_result r = run("site\nnorth\n1\n0\n2\nsouth\n1\n0\n2\ndiff\n2\n0\n1\n512000.25\n4800000.5\n");
    const std::string tail = OUTPUT_QUESTION + FORMAT_MENU + TREATMENT_MENU + ELIMINATION_MENU +
                             "\n\n\tUTM Coordinates : " + "\n\t\tX_min ? " + "\t\tY_min ? " + SAVING +
                             change_budget("c:\\images\\site\\diff_val_abs.tif", "25.000000 m", "absolute values",
                                           {"6 of 6 (0 without data)",
                                            "3 cells, 1875.000000 m2, 15937.500000 m3, mean 8.500000 m",
                                            "2 cells, 1250.000000 m2, 12968.750000 m3, mean 10.375000 m",
                                            "2968.750000 m3", "5 cells, 3125.000000 m2, 28906.250000 m3, mean 9.250000 m"});
    ASSERT_GE(r.console.size(), tail.size());
    EXPECT_EQ(r.console.substr(r.console.size() - tail.size()), tail);
    EXPECT_EQ(r.status, 0);
    const e2e::tiff_read tif = e2e::read_tiff(read_file(site("diff_val_abs.tif")));
    ASSERT_TRUE(tif.read);
    EXPECT_EQ(tif.layout.placement.xll, 512000.25);
    EXPECT_EQ(tif.layout.placement.yll, 4800000.5);
    EXPECT_EQ(tif.layout.placement.dx, 25.0);
    EXPECT_TRUE(tif.layout.keys.directory.empty());
    EXPECT_EQ(tif.cells, (std::vector<double>{20.5, 20.5, 2, 0.25, 0, 3}));
}

TEST_F(Session, GeotiffStopsSayWhy)
{
    const std::string first_lines = opening_lines() + "\n";
    e2e::run_result r = run("site\nnowhere\n2\n");
    EXPECT_EQ(r.console, opening_lines() + "\n\tFile c:\\images\\site\\nowhere.tif unknown\n");
    EXPECT_EQ(r.status, 1);

    // A file of several bands is read from its first. A second grid in another
    // coordinate system, carried into the first's, shares no ground with it: it is
    // refused once read, each extent in its own system.
    write_file(site("elev.tif"), geotiff_fixture("elev_two_bands_pixel.tif"));
    write_file(site("dem.tif"), geotiff_fixture("dem_2015.tif"));
    r = run("site\nelev\n2\ndem\n2\n");
    EXPECT_EQ(r.console,
              first_lines +
                  "\n\tWarning: the file c:\\images\\site\\elev.tif holds 2 bands: only the first is read.\n" +
                  summary("FIRST", "c:\\images\\site\\elev.tif", 90, 95) + SECOND_QUESTION + INPUT_MENU + "\n" +
                  summary("SECOND", "c:\\images\\site\\dem.tif", 41, 41) +
                  "\n\tThe DEMs c:\\images\\site\\elev.tif and c:\\images\\site\\dem.tif have no cell in common:"
                  "\n\t\tc:\\images\\site\\elev.tif covers X 5.741666666666666 to 6.533333333333333, Y "
                  "49.44166666666666 to 50.19166666666666"
                  "\n\t\tc:\\images\\site\\dem.tif covers X 483285.000000 to 484515.000000, Y 5627295.000000 to "
                  "5628525.000000\n\tGive two grids of the same ground.\n");
    EXPECT_EQ(r.status, 1);

    // A compression the libtiff in use lacks.
    std::string lerc = geotiff_fixture("dem_2015.tif");
    e2e::set_tiff_tag(&lerc, 259, 50002);
    write_file(site("dem.tif"), lerc);
    r = run("site\ndem\n2\n");
    EXPECT_EQ(r.console, first_lines + "\n\tFile c:\\images\\site\\dem.tif is compressed with compression 50002, "
                                       "which the TIFF library in use (" +
                             tiff_library_name() +
                             ") was built without: convert it to Deflate, LZW or no compression first.\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(site_files(), (std::vector<std::string>{"dem.tif", "elev.tif"}));
}

TEST_F(Session, GridsInDegreesDeclaredByTheirPrjWeighTheirCellsOnTheEllipsoid)
{
    for (const char *name : {"lux_2000.asc", "lux_2000.prj", "lux_2010.asc"})
        write_file(site(name), srtm(name));
    e2e::run_result r = run("site\nlux_2000\n0\nlux_2010\n0\nchange\n0\n0\n1\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.console.find("CHANGE BUDGET OF c:\\images\\site\\change_val_abs.asc (cells of 0.008333333333 degrees "
                             "(areas on the WGS 84 ellipsoid)) :"),
              std::string::npos);
    EXPECT_EQ(r.console.find("Note:"), std::string::npos);
    // Each cell's area as pyproj's geodesic area of the cell, its parallels densified
    // (tests/data/srtm_luxembourg/README.md): the areas and volumes lower and higher.
    const struct {
        const char *line;
        double area, volume;
    } figures[] = {{"first above second, raw       : 1002 cells, ", 555023423.0686789, 379126522.4798125},
                   {"first below second, raw       : 87 cells, ", 48364382.74353005, 16927533.96023524}};
    for (const auto &figure : figures) {
        const size_t at = r.console.find(figure.line);
        double area = 0, volume = 0;
        ASSERT_NE(at, std::string::npos) << figure.line;
        ASSERT_EQ(std::sscanf(r.console.c_str() + at + std::strlen(figure.line), "%lf m2, %lf m3", &area, &volume), 2);
        EXPECT_NEAR(area, figure.area, figure.area * 1e-11) << figure.line;
        EXPECT_NEAR(volume, figure.volume, figure.volume * 1e-11) << figure.line;
    }
}

TEST_F(Session, SignedValuesInEveryOutputForm)
{
    write_file(site("north.asc"), NORTH_ASC);
    write_file(site("south.asc"), SOUTH_ASC);
    e2e::run_result r = run("site\nnorth\n0\nsouth\n0\ndiff\n0\n3\n1\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(site("diff_val_sgn.asc")),
              e2e::text_file("ncols 3\nnrows 2\nxllcorner 300.500000\nyllcorner 400.000000\n"
                             "cellsize 10.000000\nnodata_value -9999.9999\n"
                             "20.500000\t-20.500000\t2.000000\t-0.250000\t0.000000\t3.000000\t"));

    // 16 bits are refused and asked again; the limit 0.5 removes -0.25; in millimetres.
    r = run("site\nnorth\n0\nsouth\n0\ndiff\n1\n3\n0\n0.5\n0\n1\n25\n3\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.console.find(SAMPLE_MENU + "\n\tSigned values fall below 0, which 16-bit samples cannot hold: "
                                           "choose 32 bits.\n" + SAMPLE_MENU + PIXEL_QUESTION +
                             output_range("-20.500000", "20.500000")),
              std::string::npos);
    EXPECT_EQ(read_file(site("diff_val_sgn_m4.raw")), little_endian32({20500, -20500, 2000, 0, 0, 3000}));
    const std::string head = e2e::text_file("2\n3\n4\n-20500\n20500\n10\n");
    EXPECT_EQ(read_file(site("diff_val_sgn_m4.txt")).substr(0, head.size()), head);

    // A GeoTIFF holds them as Float32, the limit's 0 included.
    r = run("site\nnorth\n0\nsouth\n0\ndiff\n2\n3\n0\n0.5\n");
    EXPECT_EQ(r.status, 0);
    const e2e::tiff_read tif = e2e::read_tiff(read_file(site("diff_val_sgn.tif")));
    ASSERT_TRUE(tif.read);
    EXPECT_EQ(tif.cells, (std::vector<double>{20.5, -20.5, 2, 0, 0, 3}));
}

} // namespace
