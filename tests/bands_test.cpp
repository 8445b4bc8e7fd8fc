// A frame worked in bands of lines gives the bytes of the frame held whole: whole sessions
// on real DEMs run as they are, in bands of one line, of a prime number of lines and of
// the whole frame, and under a small --memory; every file and the console compared.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "gridfiles/gdal_grid.h"
#include "ormelix/command_line.h"
#include "gdal_translate.h"

namespace {

using e2e::read_file;

std::string data(const std::string &name)
{
    return std::string(ORMELIX_SOURCE_DIR) + "/tests/data/" + name;
}

// Every file a run leaves in the site, and its console, the date of its report aside.
std::string run_files(const std::string &root, std::vector<std::string> arguments, e2e::run_result *run)
{
    e2e::run_limits limits;
    limits.arguments = arguments;
    *run = e2e::run_program(root, "", limits);
    std::string all = "status " + std::to_string(run->status) + "\n" + run->console + run->errors;
    for (const std::string &name : e2e::list_folder(root + "/images/site")) {
        std::string bytes = read_file(root + "/images/site/" + name);
        if (name.find("_report.html") != std::string::npos) {
            const std::string made = "<th>made</th><td>";
            const size_t date = bytes.find(made);
            if (date != std::string::npos)
                bytes.erase(date, bytes.find('<', date + made.size()) - date);
        }
        all += "\n== " + name + "\n" + bytes;
    }
    e2e::remove_tree(root + "/images/site");
    e2e::make_folder(root + "/images/site");
    return all;
}

class Bands : public ::testing::Test {
protected:
    void SetUp() override { root = e2e::make_root(); }
    void TearDown() override { e2e::remove_root(root); }
    std::string out(const std::string &name) const { return root + "/images/site/" + name; }

    // The session held whole, then in each band height: the same bytes. Returns the
    // whole run's console and files.
    std::string expect_same_in_bands(const std::vector<std::string> &session, const std::vector<std::string> &bands,
                                     int status = 0)
    {
        e2e::run_result whole_run;
        const std::string whole = run_files(root, session, &whole_run);
        EXPECT_EQ(whole_run.status, status) << whole_run.errors;
        for (const std::string &band : bands) {
            std::vector<std::string> banded = session;
            banded.insert(banded.end(), {"--band-lines", band});
            e2e::run_result run;
            EXPECT_EQ(run_files(root, banded, &run), whole) << "bands of " << band << " lines: " << session[0]
                                                           << " " << session[1] << " " << session[2];
        }
        return whole;
    }

    std::string root;
};

// An ASCII grid on the 41 x 41 cells of the GeoTIFF epochs, every cell usual but the one
// at (line, column), odd.
std::string grid_with_one_odd_cell(int line, int column, const char *odd, const char *usual, int other_line = -1,
                                   int other_column = -1)
{
    std::string grid = "ncols 41\nnrows 41\nxllcorner 483285\nyllcorner 5627295\ncellsize 30\n";
    for (int i = 0; i < 41; i++)
        for (int j = 0; j < 41; j++)
            grid += (i == line && j == column) || (i == other_line && j == other_column) ? std::string(odd) + "\n"
                                                                                          : std::string(usual) + " ";
    return grid;
}

TEST_F(Bands, EverySessionGivesTheSameBytesWhateverTheBandHeight)
{
    const std::string tif1 = data("geotiff/dem_2015.tif"), tif2 = data("geotiff/dem_2020.tif");
    // The SRTM grid and copies of it moved by GDAL's reckoning, a fraction of a cell and
    // more than two cells, on the stable ground outside a block of change.
    const std::string lux = data("srtm_luxembourg/lux_2000.asc"), scratch = e2e::scratch_folder("bands");
    const std::string close_by = scratch + "/moved.asc", far_off = scratch + "/far.asc";
    const std::string mask = scratch + "/mask.asc";
    const std::string grid = read_file(lux);
    e2e::write_file(close_by, e2e::moved_grid(grid, 0.4, 0.25, 0.5));
    e2e::write_file(far_off, e2e::moved_grid(grid, 2.6, -1.3, -0.5));
    std::string stable = grid.substr(0, grid.find("NODATA"));
    for (int i = 0; i < 60; i++)
        for (int j = 0; j < 60; j++)
            stable += std::string(i > 20 && i < 40 && j > 15 && j < 45 ? "0" : "1") + (j == 59 ? "\n" : " ");
    e2e::write_file(mask, stable);
    // Errors of each DEM's cells growing to the south-east, none at one corner.
    const std::string errors[2] = {scratch + "/errors.asc", scratch + "/errors_moved.asc"};
    for (size_t k = 0; k < 2; k++) {
        const std::string dem = read_file(k == 0 ? lux : close_by);
        std::string error_grid = dem.substr(0, dem.find("NODATA"));
        for (int i = 0; i < 60; i++)
            for (int j = 0; j < 60; j++)
                error_grid += std::to_string(i + j == 0 ? 0.0 : 0.2 + 0.01 * (i + j)) + (j == 59 ? "\n" : " ");
        e2e::write_file(errors[k], error_grid);
    }
    // A frame of two lines, the least the bilinear kernel reads, raised by 0.3 m.
    const std::string low = scratch + "/low.asc", raised = scratch + "/raised.asc";
    std::string low_grid = "ncols 5\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 10\n", raised_grid = low_grid;
    for (int k = 0; k < 10; k++) {
        low_grid += std::to_string(100 + 3 * k) + (k % 5 == 4 ? "\n" : " ");
        raised_grid += std::to_string(100.3 + 3 * k) + (k % 5 == 4 ? "\n" : " ");
    }
    e2e::write_file(low, low_grid);
    e2e::write_file(raised, raised_grid);
    const std::vector<std::vector<std::string>> sessions = {
        // One frame, the report's map and histograms gathered band by band.
        {tif1, tif2, out("change.tif")},
        // ASCII grids, a limit, the absolute values.
        {data("srtm_luxembourg/lux_2000.asc"), data("srtm_luxembourg/lux_2010.asc"), out("change.asc"), "--kind",
         "absolute", "--limit", "5"},
        // A raster pair output: its unit from the range a first pass finds.
        {tif1, tif2, out("change_m4.raw"), "--kind", "negative"},
        // The second resampled (bilinear, the area mean), cut, reprojected.
        {data("frames/elev_2010_fine.tif"), data("frames/elev_2010_coarse.tif"), out("bilinear.asc")},
        {data("frames/elev_2010_coarse.tif"), data("frames/elev_2010_fine.tif"), out("area.tif")},
        {data("frames/elev_2010_coarse.tif"), data("frames/elev_2010_east.asc"), out("common.asc")},
        {tif1, data("geotiff/dem_2020_utm33.tif"), out("reprojected.tif")},
        // Error grids of each DEM's cells, the second's of a frame of its own.
        {tif1, data("confidence/dem_2020_part.tif"), out("test.asc"), "--sigma", data("confidence/err_2015.tif"),
         data("confidence/err_2020_part.asc"), "--confidence", "95"},
        {tif1, tif2, out("quiet.asc"), "--sigma", "0.2", "0.3", "--confidence", "90", "--no-report", "--json"},
        // Error grids read band by band beside their DEMs, an ASCII grid and a GeoTIFF: the
        // first's cut to the common part, the second's resampled as its DEM is; a raster
        // pair output, whose range pass reads them too.
        {data("geotiff/elev_lzw_strips.tif"), data("frames/elev_2010_coarse.tif"), out("errors_m4.raw"), "--sigma",
         data("confidence/err_elev.asc"), data("confidence/err_2010_coarse.tif"), "--confidence", "95"},
        // Budgets per class, the class grid read band by band beside the first DEM, whole
        // or cut to the common part.
        {tif1, tif2, out("classes.tif"), "--classes", data("geotiff/dem_classes.tif")},
        {tif1, data("geotiff/dem_2020_window.tif"), out("window.asc"), "--classes",
         data("geotiff/dem_classes.tif"), "--limit", "0.3"},
        // The stable ground's figures gathered band by band, its mask a raster pair.
        {tif1, data("geotiff/dem_2020_window.tif"), out("stable.tif"), "--stable",
         data("geotiff/dem_stable_m2.raw"), "--classes", data("geotiff/dem_classes.tif")},
        // A test from the stable ground, whose figures, error by slope and variogram a first
        // pass over the bands gathers: uniform, by slope (the slope's kernel reading a line
        // beside each band) on a second resampled, and on too few stable cells for a
        // variogram, the correlated model left out.
        {tif1, tif2, out("sigma_stable.tif"), "--stable", data("geotiff/dem_classes.tif"), "--sigma", "stable",
         "--confidence", "95"},
        {data("frames/elev_2010_fine.tif"), data("frames/elev_2010_coarse.tif"), out("by_slope.asc"), "--stable",
         data("frames/elev_2010_fine.tif"), "--sigma", "stable-slope", "--confidence", "68", "--json"},
        {tif1, tif2, out("few_stable.tif"), "--stable", data("geotiff/dem_stable_m2.raw"), "--sigma",
         "stable-slope", "--confidence", "95"},
        // The second aligned on the first on stable ground: the sample drawn from the bands,
        // its windows of the second taken again around a shift beyond them (far), the bands
        // of the second moved by the shift as it is cut, resampled, reprojected.
        {lux, close_by, out("aligned.tif"), "--coregister", "--stable", mask},
        {lux, far_off, out("far.asc"), "--coregister", "tilt", "--stable", mask},
        {data("frames/elev_2010_fine.tif"), data("frames/elev_2010_coarse.tif"), out("aligned_bilinear.asc"),
         "--coregister"},
        {data("frames/elev_2010_coarse.tif"), data("frames/elev_2010_east.asc"), out("aligned_common.asc"),
         "--coregister", "vertical"},
        {tif1, data("geotiff/dem_2020_utm33.tif"), out("aligned_reprojected.tif"), "--coregister"},
        {low, raised, out("aligned_low.asc"), "--coregister", "vertical"},
        // Error grids on stable ground: the variogram's changes each over its own error.
        {lux, close_by, out("errors_stable.asc"), "--stable", mask, "--sigma", errors[0], errors[1],
         "--confidence", "95"},
        // Aligned, then tested from the stable ground of the aligned epochs: by slope, and
        // with error grids, the second's moved with it.
        {lux, close_by, out("aligned_by_slope.tif"), "--coregister", "--stable", mask, "--sigma", "stable-slope",
         "--confidence", "95"},
        {lux, close_by, out("aligned_errors.asc"), "--coregister", "--stable", mask, "--sigma", errors[0], errors[1],
         "--confidence", "95"},
        // The second's error grid moved with it.
        {tif1, tif2, out("aligned_test.tif"), "--coregister", "--sigma", data("confidence/err_2015.tif"),
         data("confidence/err_2020.asc"), "--confidence", "95"},
    };
    for (const std::vector<std::string> &session : sessions)
        expect_same_in_bands(session, {"1", "7", "100000"});
    e2e::remove_tree(scratch);

    // A class that is no whole number in the grid's last lines: the run stops as it would
    // have before reading any band, nothing written.
    const std::string bad = e2e::scratch_folder("bands") + "/classes.asc";
    e2e::write_file(bad, grid_with_one_odd_cell(39, 5, "2.5", "1"));
    expect_same_in_bands({tif1, tif2, out("stopped.tif"), "--classes", bad}, {"1", "7"}, 1);

    // Negative errors in the error grid's first and last lines: the same message, of the
    // first, nothing written.
    const std::string negative = e2e::scratch_folder("bands") + "/negative.asc";
    e2e::write_file(negative, grid_with_one_odd_cell(10, 7, "-0.25", "0.2", 38, 2));
    const std::string stopped = expect_same_in_bands(
        {tif1, tif2, out("negative.tif"), "--sigma", "0.1", negative, "--confidence", "95"}, {"1", "7"}, 1);
    EXPECT_NE(stopped.find("holds a negative error (-0.250000 at line 11, column 8)"), std::string::npos) << stopped;
}

#ifdef ORMELIX_GDAL
// A real DEM made larger than 16 MiB of grids by GDAL: worked in the bands --memory allows.
bool enlarge(const std::string &from, const std::string &to, const char *side)
{
    return e2e::gdal_translate(from, to, {"-outsize", side, side, "-r", "bilinear", "-co", "TILED=YES"});
}

// dem_2015's cells as Float32, -9999 where it has no data, and a few cells near that value:
// two within GDAL's tolerance of it, one beyond, one exactly it.
bool float_epoch(const std::string &from, const std::string &to)
{
    GDALAllRegister();
    GDALDatasetH source = GDALOpen(from.c_str(), GA_ReadOnly);
    if (source == nullptr)
        return false;
    const int side = GDALGetRasterXSize(source);
    std::vector<float> cells(static_cast<size_t>(side) * side);
    GDALRasterBandH band = GDALGetRasterBand(source, 1);
    bool made = side == 41 && GDALRasterIO(band, GF_Read, 0, 0, side, side, cells.data(), side, side, GDT_Float32,
                                           0, 0) == CE_None;
    int has = 0;
    const double nodata = GDALGetRasterNoDataValue(band, &has);
    for (float &v : cells)
        if (has != 0 && v == nodata)
            v = -9999.0f;
    const struct {
        int line, column;
        float value;
    } planted[] = {{2, 25, -9999.002f}, {3, 26, -9998.98f}, {25, 37, -9999.001f}, {5, 5, -9999.002f}, {6, 6, -9999.0f}};
    for (const auto &p : planted)
        cells[static_cast<size_t>(p.line) * side + p.column] = p.value;
    GDALDatasetH mem = GDALCreate(GDALGetDriverByName("MEM"), "", side, side, 1, GDT_Float32, nullptr);
    double transform[6];
    made = made && GDALGetGeoTransform(source, transform) == CE_None;
    GDALSetGeoTransform(mem, transform);
    GDALSetProjection(mem, GDALGetProjectionRef(source));
    GDALSetRasterNoDataValue(GDALGetRasterBand(mem, 1), -9999.0);
    made = made && GDALRasterIO(GDALGetRasterBand(mem, 1), GF_Write, 0, 0, side, side, cells.data(), side, side,
                                GDT_Float32, 0, 0) == CE_None;
    GDALDatasetH copy = GDALCreateCopy(GDALGetDriverByName("GTiff"), to.c_str(), mem, FALSE, nullptr, nullptr, nullptr);
    made = made && copy != nullptr;
    if (copy != nullptr)
        GDALClose(copy);
    GDALClose(mem);
    GDALClose(source);
    return made;
}

// One file of a run's files (run_files), empty when it wrote none.
std::string file_of_run(const std::string &files, const std::string &name)
{
    const std::string mark = "\n== " + name + "\n";
    const size_t at = files.find(mark);
    if (at == std::string::npos)
        return "";
    const size_t start = at + mark.size();
    return files.substr(start, files.find("\n== ", start) - start);
}

// A source of a mosaic: its tile, its window there and its place in the mosaic.
std::string vrt_source(const char *kind, const std::string &tile, int x, int y, int columns, int lines, int left,
                       int top, const std::string &more)
{
    const std::string size = " xSize=\"" + std::to_string(columns) + "\" ySize=\"" + std::to_string(lines) + "\"";
    return std::string("<") + kind + "><SourceFilename relativeToVRT=\"1\">" + tile +
           "</SourceFilename><SourceBand>1</SourceBand><SrcRect xOff=\"" + std::to_string(x) + "\" yOff=\"" +
           std::to_string(y) + "\"" + size + "/><DstRect xOff=\"" + std::to_string(left) + "\" yOff=\"" +
           std::to_string(top) + "\"" + size + "/>" + more + "</" + kind + ">\n";
}

// A mosaic of four tiles of odd sizes cut from a 41 x 41 Float32 epoch: a tile of strips,
// one of 16 x 16 tiles read through a window inside it (listed after the tile on its
// right), sources simple and complex, and cells no tile covers.
TEST_F(Bands, AMosaicOfTilesGivesGdalsValuesInEveryBand)
{
    const std::string folder = e2e::scratch_folder("bands");
    const std::string base = folder + "/base.tif";
    ASSERT_TRUE(float_epoch(data("geotiff/dem_2015.tif"), base));
    const struct {
        const char *name;
        std::vector<std::string> window;  // -srcwin
        bool tiled;
    } tiles[] = {{"t1.tif", {"0", "0", "23", "17"}, false},
                 {"t2.tif", {"23", "0", "18", "13"}, false},
                 {"t3.tif", {"0", "17", "41", "24"}, true},
                 {"t4.tif", {"35", "20", "6", "21"}, false}};
    for (const auto &t : tiles) {
        std::vector<std::string> arguments = {"-srcwin"};
        arguments.insert(arguments.end(), t.window.begin(), t.window.end());
        if (t.tiled)
            arguments.insert(arguments.end(), {"-co", "TILED=YES", "-co", "BLOCKXSIZE=16", "-co", "BLOCKYSIZE=16"});
        ASSERT_TRUE(e2e::gdal_translate(base, folder + "/" + t.name, arguments));
    }
    GDALDatasetH epoch = GDALOpen(base.c_str(), GA_ReadOnly);
    ASSERT_NE(epoch, nullptr);
    double transform[6];
    ASSERT_EQ(GDALGetGeoTransform(epoch, transform), CE_None);
    std::string head = "<VRTDataset rasterXSize=\"41\" rasterYSize=\"41\"><SRS>" +
                       std::string(GDALGetProjectionRef(epoch)) + "</SRS><GeoTransform>";
    GDALClose(epoch);
    for (int k = 0; k < 6; k++)
    {
        char number[32];
        std::snprintf(number, sizeof number, "%.17g", transform[k]);
        head += number + std::string(k < 5 ? "," : "</GeoTransform>\n");
    }
    const std::string nodata = "<NODATA>-9999</NODATA>";
    auto mosaic = [&](const std::string &band, const std::string &t2_more, const char *t4_kind,
                      const std::string &t4_more) {
        return head + "<VRTRasterBand dataType=\"Float32\" band=\"1\">" + band +
               vrt_source("SimpleSource", "t1.tif", 0, 0, 23, 17, 0, 0, "") +
               vrt_source("ComplexSource", "t2.tif", 0, 0, 18, 13, 23, 0, t2_more) +
               vrt_source(t4_kind, "t4.tif", 0, 0, 6, 21, 35, 20, t4_more) +
               vrt_source("SimpleSource", "t3.tif", 5, 3, 30, 20, 5, 20, "") + "</VRTRasterBand></VRTDataset>\n";
    };
    const struct {
        const char *name;
        std::string text;
        bool plain;  // read by the program's own reader, tiles side by side
    } mosaics[] = {
        // Cells no tile covers are no data; the complex sources' no data as GDAL compares.
        {"gaps.vrt", mosaic("<NoDataValue>-9999</NoDataValue>", nodata, "ComplexSource", nodata), true},
        // No no-data value: those cells are 0, -9999 an elevation like any other.
        {"bare.vrt", mosaic("", "", "SimpleSource", ""), true},
        // A scaled source: GDAL reads the whole mosaic.
        {"scaled.vrt",
         mosaic("<NoDataValue>-9999</NoDataValue>", nodata + "<ScaleRatio>2</ScaleRatio>", "ComplexSource", nodata),
         false},
    };
    for (const auto &m : mosaics) {
        SCOPED_TRACE(m.name);
        const std::string vrt = folder + "/" + m.name, gdal_tif = vrt + ".tif";
        e2e::write_file(vrt, m.text);
        gdal_file file;
        gdal_fault fault;
        ASSERT_TRUE(gdal_grid_open(vrt, &file, &fault)) << fault.what;
        std::vector<mosaic_piece> pieces;
        EXPECT_EQ(plain_mosaic(vrt, file, &pieces), m.plain);
        gdal_grid_close(&file);
        ASSERT_TRUE(e2e::gdal_translate(vrt, gdal_tif, {"-ot", "Float64"}));
        const std::string second = data("geotiff/dem_2020.tif");
        e2e::run_result expected_run, run;
        const std::string expected = run_files(root, {gdal_tif, second, out("ref.asc")}, &expected_run);
        ASSERT_EQ(expected_run.status, 0) << expected_run.errors;
        const std::string got = run_files(root, {vrt, second, out("ref.asc")}, &run);
        ASSERT_EQ(run.status, 0) << run.errors;
        for (const char *name : {"ref.asc", "ref_budget.csv"})
            EXPECT_EQ(file_of_run(got, name), file_of_run(expected, name)) << name;
        expect_same_in_bands({vrt, second, out("ref.asc")}, {"1", "7", "100000"});
    }
    e2e::remove_tree(folder);
}

TEST_F(Bands, ASmallMemoryWorksARealDemInBandsToTheSameBytes)
{
    const std::string folder = e2e::scratch_folder("bands");
    const std::string first = folder + "/lux_2000_big.tif", second = folder + "/lux_2010_big.tif";
    ASSERT_TRUE(enlarge(data("srtm_luxembourg/lux_2000.asc"), first, "1200"));
    ASSERT_TRUE(enlarge(data("srtm_luxembourg/lux_2010.asc"), second, "1200"));
    // Aligned too: more cells than the sample, among them cells without data, drawn from a
    // count of the frame's cells and taken from one reading of the bands.
    for (const std::vector<std::string> &session :
         {std::vector<std::string>{first, second, out("change.tif")},
          std::vector<std::string>{first, second, out("aligned.tif"), "--coregister"}}) {
        e2e::run_result whole_run, small_run;
        const std::string whole = run_files(root, session, &whole_run);
        ASSERT_EQ(whole_run.status, 0) << whole_run.errors;
        std::vector<std::string> small = session;
        small.insert(small.end(), {"--memory", "16M"});
        EXPECT_EQ(run_files(root, small, &small_run), whole) << session.back();
    }
    e2e::run_result whole_run;

    // The same epoch as a mosaic of 2 x 2 tiles, read whole (its tiles shared by two
    // threads) and in bands: the GeoTIFF's figures.
    std::vector<std::string> tiles;
    for (const char *top : {"0", "600"})
        for (const char *left : {"0", "600"}) {
            tiles.push_back(folder + "/tile_" + top + "_" + left + ".tif");
            ASSERT_TRUE(e2e::gdal_translate(first, tiles.back(), {"-srcwin", left, top, "600", "600"}));
        }
    std::vector<const char *> names;
    for (const std::string &tile : tiles)
        names.push_back(tile.c_str());
    GDALDatasetH mosaic = GDALBuildVRT((folder + "/lux.vrt").c_str(), 4, nullptr, names.data(), nullptr, nullptr);
    ASSERT_NE(mosaic, nullptr);
    GDALClose(mosaic);
    gdal_file file;
    gdal_fault fault;
    ASSERT_TRUE(gdal_grid_open(folder + "/lux.vrt", &file, &fault)) << fault.what;
    std::vector<mosaic_piece> pieces;
    EXPECT_TRUE(plain_mosaic(folder + "/lux.vrt", file, &pieces));
    gdal_grid_close(&file);
    const std::string expected = run_files(root, {first, second, out("change.asc")}, &whole_run);
    for (const std::string memory : {"256M", "16M"}) {
        e2e::run_result run;
        const std::string got = run_files(root, {folder + "/lux.vrt", second, out("change.asc"), "--memory", memory}, &run);
        ASSERT_EQ(run.status, 0) << run.errors;
        for (const char *name : {"change.asc", "change_budget.csv"})
            EXPECT_EQ(file_of_run(got, name), file_of_run(expected, name)) << name << ", --memory " << memory;
    }
    e2e::remove_tree(folder);
}

// Both epochs damaged in the same tile, which one band reads on two threads at once: the
// run stops on the first's damage, as held whole, whichever thread fails first.
TEST_F(Bands, DamageInBothEpochsOfOneBandStopsOnTheFirsts)
{
    const std::string folder = e2e::scratch_folder("bands");
    const std::string first = folder + "/first.tif", second = folder + "/second.tif";
    ASSERT_TRUE(e2e::gdal_translate(data("srtm_luxembourg/lux_2000.asc"), first,
                                    {"-outsize", "600", "600", "-r", "bilinear", "-co", "TILED=YES", "-co",
                                     "BLOCKXSIZE=64", "-co", "BLOCKYSIZE=64", "-co", "COMPRESS=DEFLATE"}));
    std::string bytes = read_file(first);
    for (size_t k = bytes.size() / 2; k < bytes.size() / 2 + 64; k++)
        bytes[k] = static_cast<char>(~bytes[k]);
    e2e::write_file(first, bytes);
    e2e::write_file(second, bytes);
    const std::string stopped = expect_same_in_bands({first, second, out("damaged.asc")}, {"1", "7", "64"}, 1);
    EXPECT_NE(stopped.find(first + " is damaged: tile "), std::string::npos) << stopped;
    e2e::remove_tree(folder);
}

// The dialogue, whose memory is the default, works a frame beyond it in bands: its error
// grids, asked by name, are read band by band as the command line's are, to its bytes.
TEST_F(Bands, TheDialogueReadsErrorGridsInBandsAsTheCommandLine)
{
    const std::string site = root + "/images/site/";
    const std::vector<std::string> scaled_to_errors = {"-scale", "195", "547", "0.05", "0.9", "-ot", "Float32"};
    for (const char *epoch : {"2000", "2010"}) {
        const std::string dem = site + "lux_" + epoch + ".tif";
        ASSERT_TRUE(enlarge(data(std::string("srtm_luxembourg/lux_") + epoch + ".asc"), dem, "3400"));
        ASSERT_TRUE(e2e::gdal_translate(dem, site + "err_" + epoch + ".tif", scaled_to_errors));
    }
    const e2e::run_result dialogue =
        e2e::run_program(root, "site\nlux_2000\n2\nlux_2010\n2\nasked\n2\n0\n2\nerr_2000\nerr_2010\n95\n");
    ASSERT_EQ(dialogue.status, 0) << dialogue.errors;
    e2e::run_limits limits;
    limits.arguments = {site + "lux_2000.tif", site + "lux_2010.tif", site + "given.tif", "--kind", "absolute",
                        "--sigma", site + "err_2000.tif", site + "err_2010.tif", "--confidence", "95"};
    const e2e::run_result given = e2e::run_program(root, "", limits);
    ASSERT_EQ(given.status, 0) << given.errors;
    EXPECT_EQ(read_file(site + "asked_val_abs.tif"), read_file(site + "given.tif"));
    EXPECT_EQ(read_file(site + "asked_val_abs_budget.csv"), read_file(site + "given_budget.csv"));
}
#endif

TEST(MemorySize, ReadsBytesAndPowersOf1024)
{
    struct sized {
        const char *text;
        bool read;
        double bytes;
    };
    const sized cases[] = {
        {"64M", true, 64.0 * 1024 * 1024}, {"16MiB", true, 16.0 * 1024 * 1024}, {"1g", true, 1024.0 * 1024 * 1024},
        {"1.5G", true, 1.5 * 1024 * 1024 * 1024}, {"2097152", true, 2097152.0}, {"4096K", true, 4194304.0},
        {"1K", false, 0.0}, {"1048575", false, 0.0}, {"M", false, 0.0}, {"64Q", false, 0.0}, {"-64M", false, 0.0},
        {"", false, 0.0}, {"64 M", false, 0.0},
    };
    for (const sized &c : cases) {
        double bytes = 0.0;
        EXPECT_EQ(read_memory_size(c.text, &bytes), c.read) << c.text;
        if (c.read) {
            EXPECT_EQ(bytes, c.bytes) << c.text;
        }
    }
}

} // namespace
