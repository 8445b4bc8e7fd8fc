// A frame worked in bands of lines gives the bytes of the frame held whole: whole sessions
// on real DEMs run as they are, in bands of one line, of a prime number of lines and of
// the whole frame, and under a small --memory; every file and the console compared.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_support.h"
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

    // The session held whole, then in each band height: the same bytes.
    void expect_same_in_bands(const std::vector<std::string> &session, const std::vector<std::string> &bands,
                              int status = 0)
    {
        e2e::run_result whole_run;
        const std::string whole = run_files(root, session, &whole_run);
        ASSERT_EQ(whole_run.status, status) << whole_run.errors;
        for (const std::string &band : bands) {
            std::vector<std::string> banded = session;
            banded.insert(banded.end(), {"--band-lines", band});
            e2e::run_result run;
            EXPECT_EQ(run_files(root, banded, &run), whole) << "bands of " << band << " lines: " << session[0]
                                                           << " " << session[1] << " " << session[2];
        }
    }

    std::string root;
};

TEST_F(Bands, EverySessionGivesTheSameBytesWhateverTheBandHeight)
{
    const std::string tif1 = data("geotiff/dem_2015.tif"), tif2 = data("geotiff/dem_2020.tif");
    // The SRTM grid and copies of it moved by GDAL's reckoning, a fraction of a cell and
    // more than two cells, on the stable ground outside a block of change.
    const std::string lux = data("srtm_luxembourg/lux_2000.asc"), scratch = e2e::scratch_folder("bands");
    const std::string near = scratch + "/moved.asc", far = scratch + "/far.asc", mask = scratch + "/mask.asc";
    const std::string grid = read_file(lux);
    e2e::write_file(near, e2e::moved_grid(grid, 0.4, 0.25, 0.5));
    e2e::write_file(far, e2e::moved_grid(grid, 2.6, -1.3, -0.5));
    std::string stable = grid.substr(0, grid.find("NODATA"));
    for (int i = 0; i < 60; i++)
        for (int j = 0; j < 60; j++)
            stable += std::string(i > 20 && i < 40 && j > 15 && j < 45 ? "0" : "1") + (j == 59 ? "\n" : " ");
    e2e::write_file(mask, stable);
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
        // Budgets per class, the class grid read band by band beside the first DEM, whole
        // or cut to the common part.
        {tif1, tif2, out("classes.tif"), "--classes", data("geotiff/dem_classes.tif")},
        {tif1, data("geotiff/dem_2020_window.tif"), out("window.asc"), "--classes",
         data("geotiff/dem_classes.tif"), "--limit", "0.3"},
        // The stable ground's figures gathered band by band, its mask a raster pair.
        {tif1, data("geotiff/dem_2020_window.tif"), out("stable.tif"), "--stable",
         data("geotiff/dem_stable_m2.raw"), "--classes", data("geotiff/dem_classes.tif")},
        // The second aligned on the first on stable ground: the sample drawn from the bands,
        // its windows of the second taken again around a shift beyond them (far), the bands
        // of the second moved by the shift as it is cut, resampled, reprojected.
        {lux, near, out("aligned.tif"), "--coregister", "--stable", mask},
        {lux, far, out("far.asc"), "--coregister", "tilt", "--stable", mask},
        {data("frames/elev_2010_fine.tif"), data("frames/elev_2010_coarse.tif"), out("aligned_bilinear.asc"),
         "--coregister"},
        {data("frames/elev_2010_coarse.tif"), data("frames/elev_2010_east.asc"), out("aligned_common.asc"),
         "--coregister", "vertical"},
        {tif1, data("geotiff/dem_2020_utm33.tif"), out("aligned_reprojected.tif"), "--coregister"},
        {low, raised, out("aligned_low.asc"), "--coregister", "vertical"},
        // The second's error grid moved with it.
        {tif1, tif2, out("aligned_test.tif"), "--coregister", "--sigma", data("confidence/err_2015.tif"),
         data("confidence/err_2020.asc"), "--confidence", "95"},
    };
    for (const std::vector<std::string> &session : sessions)
        expect_same_in_bands(session, {"1", "7", "100000"});
    e2e::remove_tree(scratch);

    // A class that is no whole number in the grid's last lines: the run stops as it would
    // have before reading any band, nothing written.
    std::string classes = "ncols 41\nnrows 41\nxllcorner 483285\nyllcorner 5627295\ncellsize 30\n";
    for (int i = 0; i < 41; i++)
        for (int j = 0; j < 41; j++)
            classes += i == 39 && j == 5 ? "2.5\n" : "1 ";
    const std::string bad = e2e::scratch_folder("bands") + "/classes.asc";
    e2e::write_file(bad, classes);
    expect_same_in_bands({tif1, tif2, out("stopped.tif"), "--classes", bad}, {"1", "7"}, 1);
}

#ifdef ORMELIX_GDAL
// A real DEM made larger than 16 MiB of grids by GDAL: worked in the bands --memory allows.
bool enlarge(const std::string &from, const std::string &to, const char *side)
{
    return e2e::gdal_translate(from, to, {"-outsize", side, side, "-r", "bilinear", "-co", "TILED=YES"});
}

TEST_F(Bands, ASmallMemoryWorksARealDemInBandsToTheSameBytes)
{
    const std::string folder = e2e::scratch_folder("bands");
    const std::string first = folder + "/lux_2000_big.tif", second = folder + "/lux_2010_big.tif";
    ASSERT_TRUE(enlarge(data("srtm_luxembourg/lux_2000.asc"), first, "1200"));
    ASSERT_TRUE(enlarge(data("srtm_luxembourg/lux_2010.asc"), second, "1200"));
    // Aligned too: more stable cells than the sample, drawn from a count of the bands.
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
    e2e::remove_tree(folder);
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
