// Every input form read a band of lines at a time, on real elevation models (the
// fixtures of tests/data, and larger ones GDAL makes from them here): bands of one line,
// of seven, of half the grid and of the whole, one pass after another from line 0, give the very cells
// of the whole reading, with the same console; a file cut short fails in a late band
// with the whole reading's message.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#ifdef ORMELIX_GDAL
#include <cpl_error.h>
#include <gdal.h>
#include <gdal_utils.h>
#endif

#include "e2e_support.h"
#include "gdal_translate.h"
#include "geotiff_files.h"
#include "gridfiles/ascii_grid.h"
#include "gridfiles/gdal_grid.h"
#include "gridfiles/geotiff_reader.h"
#include "gridfiles/input_grid.h"
#include "gridfiles/raster_reader.h"
#include "nrutil.h"

namespace {

using e2e::read_file;
using e2e::write_file;

input_questions test_questions()
{
    input_questions ask;
    ask.missing_descriptor = nullptr;
    ask.pixel_size = [](const input_grid &) { return int32_t{30}; };
    ask.unit = [](const input_grid &) { return int32_t{1}; };  // decimetres
    return ask;
}

// A grid opened as an error, class or mask grid is (at its own frame), whole or by bands.
struct opened {
    std::string nomim, nomdescr;
    int32_t format = 0, itype = 0, lines = 0, columns = 0, pix_size = 0, descr_ok = 0, corner_ok = 0,
            geographic = 0;
    FILE *f = nullptr, *fd = nullptr;
    double dpix = 0.0;
    geo_keys keys;
    double **cells = nullptr;
    grid_frame dem;
    input_questions ask = test_questions();
    input_grid grid;
    std::string console;

    opened(void (*open)(input_grid &), const std::string &path, int32_t sample_type, bool by_bands,
           int32_t dem_lines, int32_t dem_columns)
        : nomim(path), itype(sample_type),
          grid{nomim, nomdescr, format, itype, f, fd, lines, columns, pix_size, dpix, descr_ok, corner_ok,
               geographic, keys, cells, true, &dem, &ask, grid_frame(), by_bands, nullptr}
    {
        if (sample_type >= 0)
            nomdescr = path.substr(0, path.size() - 4) + ".txt";
        dem.lines = dem_lines;
        dem.columns = dem_columns;
        testing::internal::CaptureStdout();
        open(grid);
        console = testing::internal::GetCapturedStdout();
    }
    ~opened()
    {
        if (cells != nullptr)
            frdmatrice(cells, lines);
    }
};

struct form_case {
    const char *name;
    void (*open)(input_grid &);
    std::string file;        // in the scratch folder
    int32_t itype;           // a raster pair's sample type, else -1
    int32_t lines, columns;  // a raster pair's, which its own frame must have
    bool checked_when_opened;  // its opening reads every cell: cut short only once opened
    // The message of the whole reading of the file cut short; none when the file cut
    // short does not open (an Imagine file's dictionary is at its end).
    std::function<std::string(const std::string &)> whole_fault;
    bool one_block = false;  // a single strip: the first band meets the cut
};

std::string ascii_whole_fault(const std::string &path)
{
    FILE *fp = std::fopen(path.c_str(), "r");
    text_source src;
    text_source_start(&src, fp);
    ascii_header header;
    EXPECT_TRUE(parse_ascii_header(&src, &header));
    double **grid = dmatrice(header.ncols, header.nrows);
    ascii_body_fault fault;
    EXPECT_FALSE(read_ascii_body(&src, header, grid, header.ncols, header.nrows, nullptr, &fault));
    frdmatrice(grid, header.nrows);
    std::fclose(fp);
    return ascii_body_fault_message(path, header, fault);
}

std::string geotiff_whole_fault(const std::string &path)
{
    const e2e::tiff_read r = e2e::read_tiff(read_file(path));
    EXPECT_TRUE(r.opened && !r.read);
    return geotiff_fault_message(path, r.fault);
}

std::function<std::string(const std::string &)> raster_whole_fault(int32_t itype, int32_t lines, int32_t columns)
{
    return [=](const std::string &path) {
        FILE *fp = std::fopen(path.c_str(), "rb");
        uint16_t **narrow = usmatrice(columns, lines);
        int32_t **wide = imatrice(columns, lines);
        integer_range range;
        const int32_t complete = read_raster_samples(fp, itype, narrow, wide, lines, columns, &range);
        frusmatrice(narrow, lines);
        frimatrice(wide, lines);
        std::fclose(fp);
        EXPECT_LT(complete, lines);
        return raster_short_read_message(path, complete, lines);
    };
}

#ifdef ORMELIX_GDAL
std::string gdal_whole_fault(const std::string &path)
{
    gdal_file file;
    gdal_fault fault;
    EXPECT_TRUE(gdal_grid_open(path, &file, &fault));
    std::vector<double> cells(static_cast<size_t>(file.layout.lines) * file.layout.columns);
    std::vector<double *> rows;
    for (int32_t i = 0; i < file.layout.lines; i++)
        rows.push_back(&cells[static_cast<size_t>(i) * file.layout.columns]);
    EXPECT_FALSE(gdal_grid_read_cells(&file, nullptr, rows.data(), &fault));
    gdal_grid_close(&file);
    return gdal_fault_message(path, fault);
}

// gdal_translate from one file to another, its options as words.
void gdal_translate(const std::string &from, const std::string &to, std::vector<std::string> words)
{
    ASSERT_TRUE(e2e::gdal_translate(from, to, std::move(words))) << from << " to " << to;
}
#endif

// A 32-bit raster pair of elev.tif's cells in decimetres, no data as -32768 m.
void write_elev_pair(const std::string &folder)
{
    const e2e::tiff_read elev = e2e::read_tiff(e2e::geotiff_fixture("elev_lzw_strips.tif"));
    std::vector<int32_t> samples;
    for (double cell : elev.cells)
        samples.push_back(std::isnan(cell) ? -327680 : static_cast<int32_t>(cell * 10.0));
    write_file(folder + "/elev_m4.raw", e2e::little_endian32(samples));
    write_file(folder + "/elev_m4.txt", "90\n95\n4\n0\n0\n30\n");
}

// elev.asc without its no-data line (its first value ends the header), thirteen values
// to a text line whatever the grid's lines.
void write_wrapped_ascii(const std::string &folder)
{
    const std::string grid = e2e::geotiff_fixture("elev.asc");
    std::string text = grid.substr(0, grid.find("NODATA_value"));
    const std::vector<std::string> words = e2e::body_words(grid, 6);
    for (size_t k = 0; k < words.size(); k++)
        text += words[k] + (k % 13 == 12 ? "\n" : " ");
    write_file(folder + "/elev_wrapped.asc", text);
}

class LineReader : public ::testing::Test {
protected:
    void SetUp() override { folder = e2e::scratch_folder("line-reader"); }
    void TearDown() override { e2e::remove_tree(folder); }
    std::string folder;
};

TEST_F(LineReader, EveryFormGivesTheWholeReadingsCellsBandAfterBand)
{
    for (const char *name : {"elev_lzw_strips.tif", "elev_float32_tiles_pred3.tif", "dem_2020.tif",
                             "dem_2020_utm33_point.tif", "elev_two_bands_planes.tif", "elev.asc"})
        write_file(folder + "/" + name, e2e::geotiff_fixture(name));
    write_file(folder + "/lux_2010.asc", read_file(std::string(ORMELIX_SOURCE_DIR) +
                                                   "/tests/data/srtm_luxembourg/lux_2010.asc"));
    write_file(folder + "/stable_m2.raw", e2e::geotiff_fixture("dem_stable_m2.raw"));
    write_file(folder + "/stable_m2.txt", e2e::geotiff_fixture("dem_stable_m2.txt"));
    write_elev_pair(folder);
    write_wrapped_ascii(folder);

    std::vector<form_case> cases = {
        {"strips, LZW", open_geotiff_input, "elev_lzw_strips.tif", -1, 0, 0, false, geotiff_whole_fault},
        {"tiles, Deflate, predictor 3", open_geotiff_input, "elev_float32_tiles_pred3.tif", -1, 0, 0, false,
         geotiff_whole_fault},
        {"tiles of 16", open_geotiff_input, "dem_2020.tif", -1, 0, 0, false, geotiff_whole_fault},
        {"one strip, predictor 3", open_geotiff_input, "dem_2020_utm33_point.tif", -1, 0, 0, false,
         geotiff_whole_fault, true},
        {"two planes, tiles", open_geotiff_input, "elev_two_bands_planes.tif", -1, 0, 0, false, geotiff_whole_fault},
        {"ASCII grid", open_ascii_input, "elev.asc", -1, 0, 0, true, ascii_whole_fault},
        {"ASCII grid of reals", open_ascii_input, "lux_2010.asc", -1, 0, 0, true, ascii_whole_fault},
        {"ASCII grid, 13 values a line", open_ascii_input, "elev_wrapped.asc", -1, 0, 0, true, ascii_whole_fault},
        {"16-bit raster pair", open_raster_input, "stable_m2.raw", 0, 41, 41, true, raster_whole_fault(0, 41, 41)},
        {"32-bit raster pair", open_raster_input, "elev_m4.raw", 1, 90, 95, true, raster_whole_fault(1, 90, 95)},
    };
#ifdef ORMELIX_GDAL
    // Larger grids: several threads' worth of blocks, strips too large to decode whole,
    // text longer than a block of the ASCII reader.
    const std::string elev = folder + "/elev_lzw_strips.tif";
    gdal_translate(elev, folder + "/big_tiles.tif",
                   {"-outsize", "2100", "2100", "-r", "bilinear", "-ot", "Float32", "-co", "TILED=YES", "-co",
                    "BLOCKXSIZE=64", "-co", "BLOCKYSIZE=64", "-co", "COMPRESS=DEFLATE", "-co", "PREDICTOR=3"});
    gdal_translate(elev, folder + "/big_strip.tif",
                   {"-outsize", "2100", "2100", "-r", "bilinear", "-ot", "Float32", "-co", "BLOCKYSIZE=2100", "-co",
                    "COMPRESS=DEFLATE", "-co", "PREDICTOR=3"});
    gdal_translate(elev, folder + "/big.asc",
                   {"-outsize", "1000", "1000", "-r", "bilinear", "-of", "AAIGrid", "-co", "DECIMAL_PRECISION=4"});
    gdal_translate(elev, folder + "/elev.img", {"-of", "HFA"});
    const std::vector<form_case> larger = {
        {"2100 x 2100 tiles", open_geotiff_input, "big_tiles.tif", -1, 0, 0, false, geotiff_whole_fault},
        {"a strip of 17 MB", open_geotiff_input, "big_strip.tif", -1, 0, 0, false, geotiff_whole_fault, true},
        {"ASCII grid of 9 MB", open_ascii_input, "big.asc", -1, 0, 0, true, ascii_whole_fault},
        {"GDAL: Imagine", open_gdal_input, "elev.img", -1, 0, 0, false, nullptr},
        {"GDAL: tiles of 16", open_gdal_input, "dem_2020.tif", -1, 0, 0, false, gdal_whole_fault},
        {"GDAL: 2100 x 2100 tiles", open_gdal_input, "big_tiles.tif", -1, 0, 0, false, gdal_whole_fault},
    };
    cases.insert(cases.end(), larger.begin(), larger.end());
#endif

    for (const form_case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder + "/" + c.file;
        const opened whole(c.open, path, c.itype, false, c.lines, c.columns);
        opened bands(c.open, path, c.itype, true, c.lines, c.columns);
        ASSERT_NE(whole.cells, nullptr);
        EXPECT_EQ(bands.cells, nullptr);
        ASSERT_NE(bands.grid.reader, nullptr);
        EXPECT_EQ(bands.console, whole.console);
        EXPECT_EQ(bands.lines, whole.lines);
        EXPECT_EQ(bands.columns, whole.columns);
        const int32_t lines = whole.lines, columns = whole.columns;
        // Each height a pass of its own from line 0, the later ones starting again. Half
        // the grid and a line: a long band, then what is left of the grid after it.
        for (int32_t height : {1, 7, lines / 2 + 1, lines}) {
            std::vector<double> band(static_cast<size_t>(height) * columns);
            std::vector<double *> rows;
            for (int32_t k = 0; k < height; k++)
                rows.push_back(&band[static_cast<size_t>(k) * columns]);
            int32_t differing = 0;
            std::string fault;
            for (int32_t first = 0; first < lines; first += height) {
                const int32_t end = std::min(first + height, lines);
                ASSERT_TRUE(bands.grid.reader->read_lines(first, end, rows.data(), &fault)) << fault;
                for (int32_t i = first; i < end; i++)
                    differing += std::memcmp(rows[i - first], whole.cells[i], sizeof(double) * columns) != 0;
            }
            EXPECT_EQ(differing, 0) << "bands of " << height;
        }
    }

    // Cut short: its last quarter gone, before the opening or, for the forms that read
    // every cell when they open, after.
    for (const form_case &c : cases) {
        if (!c.whole_fault)
            continue;
        SCOPED_TRACE(c.name);
        const std::string path = folder + "/cut_" + c.file;
        write_file(path, read_file(folder + "/" + c.file));
        if (c.itype >= 0)
            write_file(path.substr(0, path.size() - 4) + ".txt",
                       read_file(folder + "/" + c.file.substr(0, c.file.size() - 4) + ".txt"));
        const auto cut = [&] {
            std::filesystem::resize_file(path, std::filesystem::file_size(path) * 3 / 4);
        };
        if (!c.checked_when_opened)
            cut();
        opened bands(c.open, path, c.itype, true, c.lines, c.columns);
        if (c.checked_when_opened)
            cut();
        std::vector<double> line(static_cast<size_t>(bands.columns));
        double *rows[1] = {line.data()};
        std::string fault;
        int32_t read = 0;
        while (read < bands.lines && bands.grid.reader->read_lines(read, read + 1, rows, &fault))
            read++;
        EXPECT_TRUE(c.one_block || read > 0);
        EXPECT_LT(read, bands.lines);
        // libtiff's own reason ends the message: the row it names is where that handle
        // last was, which the threads of the two readings leave apart.
        const std::string whole = c.whole_fault(path), told = "cannot be decoded: ";
        const size_t reason = whole.find(told);
        const size_t kept = reason == std::string::npos ? std::string::npos : reason + told.size();
        EXPECT_EQ(fault.substr(0, kept), whole.substr(0, kept));
    }
}

} // namespace
