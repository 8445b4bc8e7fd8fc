// Whole sessions on epochs of different frames: real DEMs cut, shifted and resampled by
// GDAL (tests/data/frames/README.md), differenced on their common part or on the first
// grid's cells, and held against GDAL's difference.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace {

using e2e::read_file;
using e2e::write_file;

const std::string SITE = "c:\\images\\site\\";
const std::string OUTPUT_QUESTION = "\n\n\tName of the DEM to be created (without any extension) ? ";
const std::string NODATA_HEADER_TEXT = "-9999.9999";        // as the header gives it
const std::string NODATA_CELL_TEXT = "-9999.999900";  // as a cell holds it

// The variants of this folder, or the real grids they were made from.
std::string fixture(const std::string &name)
{
    const std::string data = std::string(ORMELIX_SOURCE_DIR) + "/tests/data/";
    return read_file(data + (e2e::file_exists(data + "frames/" + name) ? "frames/" : "geotiff/") + name);
}

std::string summary(const std::string &path, int lines, int columns)
{
    return "\n\n\tTHE SECOND DEM NAMED " + path + " HAS : \n\t            " + std::to_string(lines) +
           " LINES\n\t        AND " + std::to_string(columns) + " COLUMNS\n";
}

// An ASCII grid as words: its six header lines, then its cells.
struct ascii_words {
    std::vector<std::string> header, cells;
};
ascii_words words_of(const std::string &text)
{
    ascii_words grid;
    std::istringstream in(text);
    std::string word;
    for (int k = 0; k < 12 && in >> word; k++)
        grid.header.push_back(word);
    while (in >> word)
        grid.cells.push_back(word);
    return grid;
}

// The console from the second grid's summary to the output question.
std::string frame_part(const std::string &console)
{
    const size_t start = console.find("\n\n\tTHE SECOND DEM"), end = console.find(OUTPUT_QUESTION);
    return start == std::string::npos || end == std::string::npos ? console : console.substr(start, end - start);
}

class Frames : public ::testing::Test {
protected:
    void SetUp() override { root = e2e::make_root(); }
    void TearDown() override { e2e::remove_root(root); }
    std::string site(const std::string &name) const { return root + "/images/site/" + name; }

    // Both grids put in the site, then a session to NAME_val_sgn.asc, signed values.
    e2e::run_result run(const std::string &first, int first_form, const std::string &second, int second_form)
    {
        const char *extension[] = {".asc", "", ".tif"};
        write_file(site(first + extension[first_form]), fixture(first + extension[first_form]));
        write_file(site(second + extension[second_form]), fixture(second + extension[second_form]));
        return e2e::run_program(root, "site\n" + first + "\n" + std::to_string(first_form) + "\n" + second + "\n" +
                                          std::to_string(second_form) + "\nchange\n0\n3\n1\n");
    }

    // Every cell with data here has GDAL's value, and GDAL has a value wherever this
    // result has one; returns how many cells have data.
    size_t expect_gdal_cells(const std::string &expected_name)
    {
        const ascii_words ours = words_of(read_file(site("change_val_sgn.asc")));
        const ascii_words gdal = words_of(fixture(expected_name));
        EXPECT_EQ(ours.cells.size(), gdal.cells.size());
        size_t with_data = 0;
        for (size_t k = 0; k < ours.cells.size() && k < gdal.cells.size(); k++) {
            if (ours.cells[k] == NODATA_CELL_TEXT)
                continue;
            with_data++;
            EXPECT_NEAR(std::stod(ours.cells[k]), std::stod(gdal.cells[k]), 1.5e-6) << expected_name << " cell " << k;
        }
        return with_data;
    }

    std::string root;
};

} // namespace

TEST_F(Frames, AlignedGridsAreDifferencedOnTheirCommonPart)
{
    // A GeoTIFF and an ASCII grid, 20 columns and 15 lines apart.
    e2e::run_result r = run("elev_west", 2, "elev_2010_east", 0);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(frame_part(r.console),
              summary(SITE + "elev_2010_east.asc", 75, 75) +
                  "\n\tThe two DEMs share 45 lines and 50 columns of cells, lower-left corner 5.908333333333333 "
                  "49.69166666666666:"
                  "\n\t\tlines 16 to 60 and columns 21 to 70 of the first DEM"
                  "\n\t\tlines 1 to 45 and columns 1 to 50 of the second DEM"
                  "\n\tTheir difference is taken on this common part.\n");
    const ascii_words ours = words_of(read_file(site("change_val_sgn.asc")));
    EXPECT_EQ(ours.header, (std::vector<std::string>{"ncols", "50", "nrows", "45", "xllcorner", "5.908333333333333",
                                                     "yllcorner", "49.69166666666666", "cellsize",
                                                     "0.008333333333333337", "nodata_value", NODATA_HEADER_TEXT}));
    // Every cell of GDAL's difference, its no data included.
    const ascii_words gdal = words_of(fixture("common_diff.asc"));
    ASSERT_EQ(ours.cells.size(), 45u * 50u);
    for (size_t k = 0; k < gdal.cells.size(); k++)
        if (gdal.cells[k] == NODATA_CELL_TEXT)
            EXPECT_EQ(ours.cells[k], NODATA_CELL_TEXT) << k;
        else
            EXPECT_NEAR(std::stod(ours.cells[k]), std::stod(gdal.cells[k]), 1.5e-6) << k;
    // The budget is the common part's.
    EXPECT_NE(r.console.find("cells with data in both grids : 1824 of 2250 (426 without data)"), std::string::npos);
    // The report lists each grid's own frame and what was done.
    const std::string report = read_file(site("change_val_sgn_report.html"));
    for (const char *row : {"60 lines, 70 columns, lower-left corner 5.741666666666666 49.69166666666666",
                            "75 lines, 75 columns, lower-left corner 5.908333333333 49.441666666667",
                            "cut to their common part: lines 16 to 60 and columns 21 to 70 of the first grid, "
                            "lines 1 to 45 and columns 1 to 50 of the second grid"})
        EXPECT_NE(report.find(row), std::string::npos) << row;
}

TEST_F(Frames, GridsWithNoCellInCommonStopTheRunBeforeAnyOutput)
{
    e2e::run_result r = run("elev_nw", 2, "elev_2010_se", 2);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(frame_part(r.console + OUTPUT_QUESTION),
              summary(SITE + "elev_2010_se.tif", 40, 40) + "\n\tThe DEMs " + SITE + "elev_nw.tif and " + SITE +
                  "elev_2010_se.tif have no cell in common:\n\t\t" + SITE +
                  "elev_nw.tif covers X 5.741666666666666 to 6.074999999999999, Y 49.85833333333333 to "
                  "50.19166666666666\n\t\t" +
                  SITE +
                  "elev_2010_se.tif covers X 6.158333333333333 to 6.491666666666667, Y 49.48333333333333 to "
                  "49.81666666666666\n\tGive two grids of the same ground.\n");
    EXPECT_EQ(e2e::list_folder(root + "/images/site"), (std::vector<std::string>{"elev_2010_se.tif", "elev_nw.tif"}));
}

TEST_F(Frames, GridsOutOfStepAreResampledOntoTheFirstGridsCellsAsGdalwarpDoes)
{
    const std::string BILINEAR = "\n\tThe second DEM is resampled onto the first DEM's cells: bilinear, from its four "
                                 "cell centres nearest to each cell's centre.\n";
    const std::string MEAN = "\n\tThe second DEM is resampled onto the first DEM's cells: the mean of its cells inside "
                             "each cell, weighed by their area inside it (no data where less than half of the cell "
                             "has data).\n";
    const struct {
        const char *first, *second, *expected;
        std::string frame;           // the lines after the second grid's summary
        const std::string &resampled;  // the warning's last line
        std::vector<std::string> header;
        size_t most_cells;           // GDAL's cells with data
    } cases[] = {
        {"dem_2015", "dem_2020_half", "dem_half_diff.asc",
         "\n\tThe second DEM covers 41 lines and 41 columns of the first DEM's cells, lower-left corner 483285.000000 "
         "5627295.000000:\n\t\tlines 1 to 41 and columns 1 to 41 of the first DEM",
         BILINEAR, {"41", "41", "483285.000000", "5627295.000000", "30.000000"}, 1586},
        {"elev_lzw_strips", "elev_2010_coarse", "coarse_diff.asc",
         "\n\tThe second DEM covers 60 lines and 72 columns of the first DEM's cells, lower-left corner 5.800000 "
         "49.599999999999994:\n\t\tlines 12 to 71 and columns 8 to 79 of the first DEM",
         BILINEAR, {"72", "60", "5.800000", "49.599999999999994", "0.008333333333333337"}, 3250},
        {"elev_lzw_strips", "elev_2010_fine", "fine_diff.asc",
         "\n\tThe second DEM covers 24 lines and 30 columns of the first DEM's cells, lower-left corner "
         "6.074999999999999 49.74166666666666:\n\t\tlines 31 to 54 and columns 41 to 70 of the first DEM",
         MEAN, {"30", "24", "6.074999999999999", "49.74166666666666", "0.008333333333333337"}, 622},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.second);
        e2e::run_result r = run(c.first, 2, c.second, 2);
        EXPECT_EQ(r.status, 0);
        const std::string console = frame_part(r.console);
        EXPECT_NE(console.find(c.frame + "\n\tTheir difference is taken on these cells.\n\n\tWarning: the two DEMs "
                                         "do not lie on the same grid of cells:"),
                  std::string::npos)
            << console;
        EXPECT_EQ(console.substr(console.size() - c.resampled.size()), c.resampled);
        const ascii_words ours = words_of(read_file(site("change_val_sgn.asc")));
        EXPECT_EQ(ours.header, (std::vector<std::string>{"ncols", c.header[0], "nrows", c.header[1], "xllcorner",
                                                         c.header[2], "yllcorner", c.header[3], "cellsize",
                                                         c.header[4], "nodata_value", NODATA_HEADER_TEXT}));
        // Fewer cells than GDAL: those next to a gap or an edge have no data here.
        const size_t with_data = expect_gdal_cells(c.expected);
        EXPECT_LE(with_data, c.most_cells);
        EXPECT_GT(with_data, c.most_cells * 9 / 10);
    }
}
