// Whole runs through the command line, `ormelix FIRST SECOND OUTPUT [options]`, on real
// elevation models: the files of the dialogue for the same choices, paths as given,
// the JSON of the budget, the usage errors and the failures, the progress bar.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

#include <iomanip>
#include <nlohmann/json.hpp>

#include "e2e_support.h"
#include "geotiff_files.h"

namespace {

using e2e::file_exists;
using e2e::read_file;
using e2e::write_file;

std::string data(const std::string &path)
{
    return read_file(std::string(ORMELIX_SOURCE_DIR) + "/tests/data/" + path);
}

// The cells of an ASCII grid as numbers, line after line.
std::vector<double> ascii_cells(const std::string &grid)
{
    std::istringstream text(grid);
    std::string line;
    for (int k = 0; k < 6; k++)
        std::getline(text, line);
    std::vector<double> cells;
    double value;
    while (text >> value)
        cells.push_back(value);
    return cells;
}

// Two raster pairs of a real model (elev.tif's 95 x 90 cells as GDAL reads them): the
// first in 16-bit decimetres, the second in 32-bit millimetres, lowered by 1.234 m on
// one cell in eleven. Cells without data are 0 m in both.
void put_raster_epochs(const std::string &folder)
{
    const std::vector<double> cells = ascii_cells(data("geotiff/elev.asc"));
    std::vector<uint16_t> decimetres;
    std::vector<int32_t> millimetres;
    for (size_t k = 0; k < cells.size(); k++) {
        const double metres = cells[k] == -32768 ? 0.0 : cells[k];
        decimetres.push_back(static_cast<uint16_t>(metres * 10));
        millimetres.push_back(static_cast<int32_t>(metres * 1000) - (k % 11 == 0 ? 1234 : 0));
    }
    write_file(folder + "/north_m2.raw", e2e::little_endian16(decimetres));
    write_file(folder + "/north_m2.txt", "90\n95\n2\n0\n0\n1000\n");
    write_file(folder + "/south_m4.raw", e2e::little_endian32(millimetres));
    write_file(folder + "/south_m4.txt", "90\n95\n4\n0\n0\n1000\n");
}

// A run of the program in a folder with arguments; nothing on its standard input.
e2e::run_result run_in(const std::string &folder, const std::vector<std::string> &arguments)
{
    e2e::run_limits limits;
    limits.arguments = arguments;
    return e2e::run_program(folder, "", limits);
}

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override { root = e2e::make_root(); }
    void TearDown() override { e2e::remove_root(root); }
    std::string site(const std::string &name = "") const { return root + "/images/site/" + name; }
    e2e::run_result run(const std::vector<std::string> &arguments) const { return run_in(site(), arguments); }

    void put_real_epochs() const
    {
        write_file(site("lux_2000.asc"), data("srtm_luxembourg/lux_2000.asc"));
        write_file(site("lux_2000.prj"), data("srtm_luxembourg/lux_2000.prj"));
        write_file(site("lux_2010.asc"), data("srtm_luxembourg/lux_2010.asc"));
        write_file(site("dem_2015.tif"), data("geotiff/dem_2015.tif"));
        write_file(site("dem_2020.tif"), data("geotiff/dem_2020.tif"));
        put_raster_epochs(site());
        for (const char *error : {"err_2015.tif", "err_2020.asc", "err_negative.asc"})
            write_file(site(error), data(std::string("confidence/") + error));
    }

    std::string root;
};

std::string replace_all(std::string text, const std::string &from, const std::string &to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// The dialogue names its files under c:\images\site\, the command line as given.
std::string without_site_folder(const std::string &text)
{
    return replace_all(text, "c:\\images\\site\\", "");
}

TEST_F(CommandLine, EveryFormInAndOutWritesTheDialoguesFiles)
{
    put_real_epochs();
    const struct {
        std::vector<std::string> arguments;
        const char *answers;
        const char *dialogue_stem;  // the dialogue's output, before its form's ending
        const char *ending;
    } cases[] = {
        {{"lux_2000.asc", "lux_2010.asc", "out.asc"}, "site lux_2000 0 lux_2010 0 d 0 3 1", "d_val_sgn", ".asc"},
        {{"dem_2015.tif", "dem_2020.tif", "out.tif", "--kind", "absolute", "--limit", "0.3"},
         "site dem_2015 2 dem_2020 2 d 2 0 0 0.3", "d_val_abs", ".tif"},
        {{"north_m2.raw", "south_m4.raw", "out_m4.raw", "--first-unit", "dm", "--second-unit", "mm"},
         "site north 1 0 1 south 1 1 3 d 1 3 1 1 1 3", "d_val_sgn", "_m4.raw"},
        {{"north_m2.raw", "south_m4.raw", "out_m2.raw", "--first-unit", "dm", "--second-unit", "mm", "--kind",
          "negative", "--unit", "cm"},
         "site north 1 0 1 south 1 1 3 d 1 1 1 0 1 2", "d_val_neg", "_m2.raw"},
        {{"north_m2.raw", "south_m4.raw", "out.asc", "--first-unit", "dm", "--second-unit", "mm", "--corner",
          "-512000.5", "6000"},
         "site north 1 0 1 south 1 1 3 d 0 3 1 -512000.5 6000", "d_val_sgn", ".asc"},
        {{"dem_2015.tif", "dem_2020.tif", "out_m2.raw", "--kind", "positive", "--limit", "0.5"},
         "site dem_2015 2 dem_2020 2 d 1 2 0 0.5 0 1 3", "d_val_pos", "_m2.raw"},
        {{"dem_2015.tif", "dem_2020.tif", "out.asc", "--kind", "absolute", "--sigma", "0.1", "0.15", "--confidence",
          "95"},
         "site dem_2015 2 dem_2020 2 d 0 0 2 0.1 0.15 95", "d_val_abs", ".asc"},
        {{"dem_2015.tif", "dem_2020.tif", "out.tif", "--sigma", "err_2015.tif", "err_2020.asc", "--confidence", "90"},
         "site dem_2015 2 dem_2020 2 d 2 3 2 err_2015 err_2020 90", "d_val_sgn", ".tif"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.answers);
        e2e::run_result dialogue = e2e::run_program(root, c.answers);
        ASSERT_EQ(dialogue.status, 0) << dialogue.console;
        e2e::run_result line = run(c.arguments);
        ASSERT_EQ(line.status, 0) << line.errors;
        EXPECT_EQ(line.errors, "");
        const std::string ending = c.ending;
        const std::string stem = c.dialogue_stem;
        EXPECT_EQ(read_file(site(c.arguments[2])), read_file(site(stem + ending)));
        EXPECT_EQ(read_file(site("out_budget.csv")), read_file(site(stem + "_budget.csv")));
        EXPECT_TRUE(file_exists(site("out_report.html")));
        if (ending.find(".raw") != std::string::npos) {
            const std::string txt = ending.substr(0, 3) + ".txt";
            EXPECT_EQ(read_file(site("out" + txt)), without_site_folder(read_file(site(stem + txt))));
        }
        // Standard output holds the dialogue's budget, named after the output as given.
        std::string budget = dialogue.console.substr(dialogue.console.find("\n\n\tCHANGE BUDGET OF "));
        budget = replace_all(replace_all(budget, stem + ending, c.arguments[2]), stem + "_report", "out_report");
        EXPECT_EQ(line.console, without_site_folder(budget));
        for (const std::string &name : e2e::list_folder(site()))
            if (name.compare(0, 3, "out") == 0 || name.compare(0, 2, "d_") == 0)
                std::remove((site() + name).c_str());
    }
}

// Folders with spaces and letters outside ASCII, reached from another folder; a .tiff
// input and output; an earlier output replaced, the other files beside it written.
TEST_F(CommandLine, PathsAsGivenAnywhere)
{
    const std::string epochs = site("Höhe und Tal");
    e2e::make_folder(epochs);
    e2e::make_folder(site("résultats 2024"));
    write_file(epochs + "/Époque 2015.tiff", data("geotiff/dem_2015.tif"));
    write_file(epochs + "/dem 2020.tif", data("geotiff/dem_2020.tif"));
    write_file(site("résultats 2024/Änderung.tiff"), "an earlier result");
    e2e::run_result r = run_in(epochs, {"Époque 2015.tiff", "./dem 2020.tif", "../résultats 2024/Änderung.tiff",
                                        "--kind", "absolute", "--quiet"});
    ASSERT_EQ(r.status, 0) << r.errors;
    EXPECT_EQ(r.console, "");
    EXPECT_EQ(e2e::list_folder(site("résultats 2024")),
              (std::vector<std::string>{"Änderung.tiff", "Änderung_budget.csv", "Änderung_report.html"}));
    const e2e::tiff_read tif = e2e::read_tiff(read_file(site("résultats 2024/Änderung.tiff")));
    ASSERT_TRUE(tif.read);
    // Worked by hand in tests/data/geotiff/README.md.
    EXPECT_EQ(tif.cells[0], static_cast<double>(0.899993896484375f));
    EXPECT_NE(read_file(site("résultats 2024/Änderung_report.html")).find("Époque 2015.tiff"), std::string::npos);
}

// The JSON holds the budget file's columns in its order, every value the very number
// the file holds; --no-report writes no report.
TEST_F(CommandLine, JsonIsTheBudgetFile)
{
    put_real_epochs();
    e2e::run_result r = run({"lux_2000.asc", "lux_2010.asc", "out.tif", "--json", "--no-report", "--limit", "2.5"});
    ASSERT_EQ(r.status, 0) << r.errors;
    EXPECT_FALSE(file_exists(site("out_report.html")));
    const nlohmann::ordered_json json = nlohmann::ordered_json::parse(r.console);
    std::istringstream csv(e2e::console_text(read_file(site("out_budget.csv"))));  // CR LF on Windows
    std::string names, values, name, value;
    std::getline(csv, names);
    std::getline(csv, values);
    std::istringstream name_list(names), value_list(values);
    auto item = json.begin();
    size_t columns = 0;
    while (std::getline(name_list, name, ',') && std::getline(value_list, value, ',')) {
        ASSERT_NE(item, json.end());
        EXPECT_EQ(item.key(), name);
        if (value.empty())
            EXPECT_TRUE(item.value().is_null()) << name;
        else
            EXPECT_EQ(item.value().get<double>(), std::strtod(value.c_str(), nullptr)) << name;
        ++item;
        ++columns;
    }
    EXPECT_EQ(item, json.end());
    EXPECT_EQ(columns, json.size());
    EXPECT_EQ(json["limit_m"].get<double>(), 2.5);
    EXPECT_EQ(json["cells"].get<int>(), 3600);
}

// A usage error (2) reads and writes nothing, and shows the usage; a run that fails (1)
// says which file and why on standard error, at once (no key is waited for), and leaves
// no output.
#ifdef ORMELIX_GDAL
#define GDAL_REFUSAL(name) "File " name " cannot be read by GDAL: " name ": No such file or directory.\n"
#else
#define GDAL_REFUSAL(name) "File " name " is in none of the forms this build of the program reads"
#endif

TEST_F(CommandLine, UsageErrorsAndFailuresTouchNothing)
{
    put_real_epochs();
    write_file(site("small.asc"), "ncols 2\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\n1 2\n3 4\n");
    write_file(site("lone_m4.raw"), read_file(site("south_m4.raw")));
    // An error grid on the DEM's corner and cells, one column short.
    std::string narrow = "ncols 40\nnrows 41\nxllcorner 483285\nyllcorner 5627295\ncellsize 30\n";
    for (int i = 0; i < 41; i++)
        for (int j = 0; j < 40; j++)
            narrow += j + 1 < 40 ? "0.1 " : "0.1\n";
    write_file(site("narrow.asc"), narrow);
    const std::vector<std::string> before = e2e::list_folder(site());
    const struct {
        std::vector<std::string> arguments;
        int status;
        const char *message;
    } cases[] = {
        {{"lux_2000.asc", "lux_2010.asc", "out.asc", "--colour", "red"}, 2, "--colour"},
        {{"lux_2000.asc", "lux_2010.asc", "out.asc", "--limit"}, 2, "--limit"},
        {{"lux_2000.asc", "lux_2010.asc", "out.asc", "--limit", "much"}, 2, "much"},
        {{"lux_2000.asc", "lux_2010.asc"}, 2, "OUTPUT is required"},
        {{"lux_2000.asc", "lux_2010.asc", "out.asc", "more.asc"}, 2, "more.asc"},
        {{"lux_2000.asc", "lux_2010.asc", "out.asc", "--kind", "difference"}, 2, "difference"},
        {{"north_m2.raw", "south_m4.raw", "out_m4.raw", "--first-unit", "inch"}, 2, "inch"},
        {{"north_m2.raw", "south_m4.raw", "out_m4.raw", "--unit", "km"}, 2, "km"},
        {{"lux_2000.asc", "lux_2010.asc", "out.png"}, 2, "out.png: no form ends so"},
        // An input of another ending is GDAL's to read (a build without GDAL refuses it).
        {{"lux_2000.txt", "lux_2010.asc", "out.asc"}, 1, GDAL_REFUSAL("lux_2000.txt")},
        {{"lux_2000.asc", "lux_2010.asc", "out_m2.raw"}, 2, "16-bit samples cannot hold"},
        {{"north_m2.raw", "south_m4.raw", "out.asc"}, 2, "--corner X Y"},
        {{"north_m2.raw", "south_m4.raw", "out.asc", "--corner", "1"}, 2, "--corner"},
        {{"lux_2000.asc", "lux_2010.asc", "out.asc", "--corner", "1", "2"}, 2, "--corner is for two raster pairs"},
        {{"lux_2000.asc", "lux_2010.asc", "out.asc", "--unit", "cm"}, 2, "--unit is for a raster pair output"},
        {{"lux_2000.asc", "lux_2010.asc", "out.asc", "--second-unit", "cm"}, 2, "--second-unit is for a raster pair"},
        {{"lux_2000.asc", "lux_2010.asc", "lux_2010.asc"}, 2, "lux_2010.asc is one of the input files"},
        {{"north_m2.raw", "south_m4.raw", "south_m4.raw", "--kind", "absolute"}, 2, "is one of the input files"},
        {{"lux_2000.asc", "lux_2010.asc", "out.asc", "--json", "--quiet"}, 2, "--quiet and --json"},
        {{"lux_2000.asc", "lux_2010.asc", "out.asc", "--classes", "zones.shp"}, 1, GDAL_REFUSAL("zones.shp")},
        {{"lux_2000.asc", "lux_2010.asc", "out.asc", "--stable"}, 2, "--stable"},
        {{"lux_2000.asc", "lux_2010.asc", "out.asc", "--sigma", "0.1", "0.2"}, 2, "--sigma and --confidence go together"},
        {{"lux_2000.asc", "lux_2010.asc", "out.asc", "--sigma", "0.1", "-2", "--confidence", "95"}, 2, "-2 is not an error"},
        {{"lux_2000.asc", "lux_2010.asc", "out.asc", "--sigma", "0.1", "err_m2.raw", "--confidence", "95"}, 2,
         "err_m2.raw is not an error"},
        {{"lux_2000.asc", "lux_2010.asc", "out.asc", "--sigma", "0.1", "0.2", "--confidence", "100"}, 2, "--confidence: give"},
        {{"lux_2000.asc", "lux_2010.asc", "out.asc", "--sigma", "stable", "--confidence", "95"}, 2, "needs --stable MASK"},
        {{"lux_2000.asc", "lux_2010.asc", "out.asc", "--sigma", "0.1", "0.2", "--confidence", "95", "--limit", "1"}, 2,
         "--limit and --sigma"},
        {{"missing.asc", "lux_2010.asc", "out.asc"}, 1, "ormelix: File missing.asc unknown\n"},
        {{"lux_2000.asc", "small.asc", "out.asc"}, 1, "ormelix: The DEMs lux_2000.asc and small.asc have no cell in common"},
        {{"north_m2.raw", "lone_m4.raw", "out_m4.raw"}, 1, "File lone_m4.txt unknown: the raster pair lone_m4.raw "
                                                       "needs its descriptor beside it"},
        // Decimetres taken for metres: changes of thousands of metres.
        {{"north_m2.raw", "south_m4.raw", "out_m2.raw", "--kind", "absolute", "--second-unit", "mm", "--unit", "cm"}, 1,
         "The output out_m2.raw cannot be written in centimeters: its largest result, 4923.000000 m, gives "
         "492300, more than a 16-bit sample holds (65535)"},
        {{"dem_2015.tif", "dem_2020.tif", "out.asc", "--classes", "lux_2000.asc"}, 1,
         "The class grid lux_2000.asc does not lie on the cells of the first DEM dem_2015.tif (41 lines and 41 "
         "columns, lower-left corner 483285.000000 5627295.000000): it has 60 lines and 60 columns, lower-left corner "
         "5.741666666667 49.691666666667."},
        {{"dem_2015.tif", "dem_2020.tif", "out.asc", "--classes", "dem_2020.tif"}, 1,
         "File dem_2020.tif, grid line 1, column 1: 230.10000610351562 is not a whole number"},
        {{"dem_2015.tif", "dem_2020.tif", "out.asc", "--stable", "missing_m2.raw"}, 1, "File missing_m2.raw unknown"},
        {{"dem_2015.tif", "dem_2020.tif", "out.asc", "--sigma", "err_negative.asc", "0.1", "--confidence", "95"}, 1,
         "The error grid err_negative.asc holds a negative error (-0.100000 at line 4, column 5): its cells must hold "
         "standard deviations, 0 or more.\n"},
        {{"dem_2015.tif", "dem_2020.tif", "out.asc", "--sigma", "narrow.asc", "0.1", "--confidence", "95"}, 1,
         "The error grid narrow.asc has 41 lines and 40 columns, its DEM 41 lines and 41 columns: an error grid lies "
         "on the cells of its DEM."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        e2e::run_result r = run(c.arguments);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.console, "");
        EXPECT_NE(r.errors.find(c.message), std::string::npos) << r.errors;
        EXPECT_EQ(r.errors.find("Usage: ormelix FIRST SECOND OUTPUT [options]") != std::string::npos, c.status == 2)
            << r.errors;
        EXPECT_EQ(e2e::list_folder(site()), before);
    }
    e2e::run_result help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char *option : {"--kind", "--limit", "--first-unit", "--second-unit", "--unit", "--corner", "--classes", "--stable", "--sigma", "--confidence",
                               "--no-report", "--quiet", "--json", "--help", "--version", "Examples:"})
        EXPECT_NE(help.console.find(option), std::string::npos) << option;
    EXPECT_EQ(run({"--version"}).console, "ORMELIX 1.0\n");
}

#ifndef _WIN32
constexpr int NO_TERMINAL = -2;

// What a run shows on standard error when that is a terminal: the run in a
// pseudo-terminal, its standard output sent to a file. *status is NO_TERMINAL where the
// system gives no pseudo-terminal.
std::string terminal_errors(const std::string &folder, const std::vector<std::string> &arguments, int *status)
{
    int terminal = -1;
    const std::string console = folder + "/.console";
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid < 0) {
        *status = NO_TERMINAL;
        return "";
    }
    if (pid == 0) {
        const int out = open(console.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (chdir(folder.c_str()) != 0 || out < 0 || dup2(out, 1) < 0)
            _exit(126);
        std::vector<char *> argv = {const_cast<char *>(ORMELIX_BINARY)};
        for (const std::string &argument : arguments)
            argv.push_back(const_cast<char *>(argument.c_str()));
        argv.push_back(nullptr);
        execv(ORMELIX_BINARY, argv.data());
        _exit(127);
    }
    std::string shown;
    char bytes[4096];
    ssize_t got;
    // The terminal reads as an error once the run has closed its side.
    while ((got = read(terminal, bytes, sizeof bytes)) > 0)
        shown.append(bytes, static_cast<size_t>(got));
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    close(terminal);
    unlink(console.c_str());
    *status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    return shown;
}

// A line a phase on a terminal, its bar full at the end, the message of a stop on a line
// of its own; nothing when standard error is a file or with --quiet.
// A grid beside the DEMs lies on the first DEM's own cells (dem_2015.tif: 41 x 41 cells
// of 30 m, lower-left corner 483285 5627295) to 1/1000 of a cell and a millionth of its
// size, or the run stops.
TEST_F(CommandLine, GridsBesideTheDemsLieOnItsCellsOrStopTheRun)
{
    put_real_epochs();
    const std::string dem = "(41 lines and 41 columns, lower-left corner 483285.000000 5627295.000000)";
    const std::string demcells = "the DEM's corner 483285.000000 5627295.000000, cells of 30.000000): an error grid "
                                 "lies on the cells of its DEM.";
    const struct {
        const char *option;
        double xll, yll, cellsize;
        int status;
        std::string message;  // after "ormelix: The ... grid.asc"
    } cases[] = {
        {"--classes", 483300.0, 5627295.0, 30.0, 1,
         "The class grid grid.asc does not lie on the cells of the first DEM dem_2015.tif " + dem +
             ": it has 41 lines and 41 columns, lower-left corner 483300.000000 5627295.000000.\n"},
        {"--classes", 483285.0, 5627295.06, 30.0, 1, "lower-left corner 483285.000000 5627295.060000.\n"},
        {"--classes", 483285.0, 5627295.0, 30.00006, 1,
         "The class grid grid.asc does not lie on the cells of the first DEM dem_2015.tif " + dem +
             ": it has 41 lines and 41 columns, lower-left corner 483285.000000 5627295.000000.\n"},
        {"--classes", 483285.015, 5627294.985, 30.000015, 0, ""},
        {"--stable", 483270.0, 5627295.0, 30.0, 1,
         "The stable-ground mask grid.asc does not lie on the cells of the first DEM dem_2015.tif " + dem +
             ": it has 41 lines and 41 columns, lower-left corner 483270.000000 5627295.000000.\n"},
        {"--stable", 483285.0, 5627295.0, 29.99994, 1, "The stable-ground mask grid.asc does not lie"},
        {"--sigma", 483300.0, 5627295.0, 30.0, 1,
         "The error grid grid.asc lies on other cells than its DEM (corner 483300.000000 5627295.000000, cells of "
         "30.000000; " + demcells + "\n"},
        {"--sigma", 483285.0, 5627295.0, 30.00006, 1,
         "The error grid grid.asc lies on other cells than its DEM (corner 483285.000000 5627295.000000, cells of "
         "30.000060; " + demcells + "\n"},
        {"--sigma", 483284.985, 5627295.0, 30.0, 0, ""},
    };
    for (const auto &c : cases) {
        // Six decimals are every digit of these headers.
        SCOPED_TRACE(std::string(c.option) + " " + std::to_string(c.xll) + " " + std::to_string(c.yll) + " " +
                     std::to_string(c.cellsize));
        std::string grid = "ncols 41\nnrows 41\nxllcorner " + std::to_string(c.xll) + "\nyllcorner " +
                           std::to_string(c.yll) + "\ncellsize " + std::to_string(c.cellsize) +
                           "\nNODATA_value -9999\n";
        for (int k = 0; k < 41 * 41; k++)
            grid += k % 41 == 40 ? "1\n" : "1 ";
        write_file(site("grid.asc"), grid);
        std::vector<std::string> arguments = {"dem_2015.tif", "dem_2020.tif", "out.asc", c.option, "grid.asc"};
        if (std::string(c.option) == "--sigma")
            arguments.insert(arguments.end(), {"0.1", "--confidence", "95"});
        const e2e::run_result r = run(arguments);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.errors.find(c.message), std::string::npos) << r.errors;
        EXPECT_EQ(file_exists(site("out.asc")), c.status == 0);
        std::remove(site("out.asc").c_str());
    }
    // A raster pair has no map coordinates: a grid of its counts lies on its cells,
    // whatever its own corner and cells.
    for (const char *name : {"slope_2024_m2.raw", "slope_2024_m2.txt", "slope_2019.asc"})
        write_file(site(name), read_file(std::string(ORMELIX_SOURCE_DIR) + "/demo/images/demo/" + name));
    std::string classes = "ncols 300\nnrows 200\nxllcorner 0\nyllcorner 0\ncellsize 1\nNODATA_value -9999\n";
    for (int k = 0; k < 200 * 300; k++)
        classes += k % 300 == 299 ? "2\n" : "1 ";
    write_file(site("grid.asc"), classes);
    const e2e::run_result r =
        run({"slope_2024_m2.raw", "slope_2019.asc", "out.asc", "--first-unit", "cm", "--classes", "grid.asc"});
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_TRUE(file_exists(site("out_classes.csv")));

    // An error grid on the DEM's cells without any data: no cell is tested, and its mean
    // is 0, not the mean of nothing.
    std::string empty = "ncols 41\nnrows 41\nxllcorner 483285\nyllcorner 5627295\ncellsize 30\nNODATA_value -9999\n";
    for (int k = 0; k < 41 * 41; k++)
        empty += k % 41 == 40 ? "-9999\n" : "-9999 ";
    write_file(site("grid.asc"), empty);
    const e2e::run_result none =
        run({"dem_2015.tif", "dem_2020.tif", "out.asc", "--sigma", "grid.asc", "0.1", "--confidence", "95"});
    EXPECT_EQ(none.status, 0) << none.errors;
    EXPECT_NE(none.console.find("first DEM's error grid.asc (mean 0.000000 m)"), std::string::npos) << none.console;
}

TEST_F(CommandLine, ProgressOnATerminalOnly)
{
    put_real_epochs();
    const std::vector<std::string> arguments = {"dem_2015.tif", "dem_2020.tif", "out.asc", "--stable",
                                                "dem_2020.tif"};
    int status = -1;
    const std::string shown = terminal_errors(site(), arguments, &status);
    if (status == NO_TERMINAL)
        GTEST_SKIP() << "no pseudo-terminal here";
    ASSERT_EQ(status, 0) << shown;
    const std::string full = " [" + std::string(30, '#') + "] 100 %\r\n";
    size_t at = 0;
    for (const char *phase : {"reading dem_2015.tif", "reading dem_2020.tif", "reading dem_2020.tif",
                              "difference", "writing out.asc"}) {
        SCOPED_TRACE(phase);
        const std::string line = "\r" + (phase + std::string(28, ' ')).substr(0, 28);
        at = shown.find(line + " [" + std::string(30, '.') + "]   0 %", at);
        ASSERT_NE(at, std::string::npos) << shown;
        at = shown.find(line + full, at);
        ASSERT_NE(at, std::string::npos) << shown;
    }
    EXPECT_NE(terminal_errors(site(), {"dem_2015.tif", "missing.tif", "out.asc"}, &status)
                  .find("]   0 %\r\normelix: File missing.tif unknown\r\n"),
              std::string::npos);
    EXPECT_EQ(status, 1);
    std::vector<std::string> quiet = arguments;
    quiet.push_back("--quiet");
    EXPECT_EQ(terminal_errors(site(), quiet, &status), "");
    e2e::run_result to_files = run(arguments);
    EXPECT_EQ(to_files.status, 0);
    EXPECT_EQ(to_files.errors, "");
}
#endif

// The plain lines a caller parses, whatever standard error is (here a file), on the demo's
// epochs: each phase named, in order, its percentages rising from 0, ending at 100 but in
// a run that stops, whose message follows on a line of its own; --quiet silences the
// budget, not the lines asked for.
TEST_F(CommandLine, ProgressLinesForACaller)
{
    for (const char *name : {"slope_2019.asc", "slope_2024_m2.raw", "slope_2024_m2.txt"})
        write_file(site(name), read_file(std::string(ORMELIX_SOURCE_DIR) + "/demo/images/demo/" + name));
    const std::vector<std::string> options = {"--second-unit", "cm", "--kind", "absolute", "--limit", "0.25",
                                              "--progress-lines"};
    const std::vector<std::string> whole = {"reading slope_2019.asc", "reading slope_2024_m2.raw", "difference",
                                            "writing out.asc"};
    const struct {
        std::vector<std::string> paths;
        const char *more;
        std::vector<std::string> phases;
        const char *stop;  // the message after the lines, "" for a run that succeeds
    } cases[] = {
        {{"slope_2019.asc", "slope_2024_m2.raw", "out.asc"}, "", whole, ""},
        {{"slope_2019.asc", "slope_2024_m2.raw", "out.asc"}, "--quiet", whole, ""},
        {{"slope_2019.asc", "missing_m2.raw", "out.asc"}, "",
         {"reading slope_2019.asc", "reading missing_m2.raw"}, "ormelix: File missing_m2.raw unknown"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.phases.back() + " " + c.more);
        std::vector<std::string> arguments = c.paths;
        arguments.insert(arguments.end(), options.begin(), options.end());
        if (*c.more)
            arguments.push_back(c.more);
        const e2e::run_result r = run(arguments);
        EXPECT_EQ(r.status, *c.stop ? 1 : 0) << r.errors;
        EXPECT_EQ(r.console.empty(), *c.more || *c.stop) << r.console;
        std::istringstream errors(e2e::console_text(r.errors));
        std::string line, stop;
        std::vector<std::string> phases;
        std::vector<std::vector<int>> percents;
        while (std::getline(errors, line)) {
            ASSERT_TRUE(stop.empty()) << "a line after the stop's message: " << line;
            if (line.rfind("progress: ", 0) != 0) {
                stop = line;
                continue;
            }
            std::istringstream fields(line.substr(10));
            int percent = -1;
            std::string phase;
            fields >> percent;
            std::getline(fields >> std::ws, phase);
            if (phases.empty() || phase != phases.back()) {
                phases.push_back(phase);
                percents.emplace_back();
            }
            percents.back().push_back(percent);
        }
        EXPECT_EQ(phases, c.phases) << r.errors;
        EXPECT_EQ(stop, c.stop);
        for (size_t k = 0; k < percents.size(); k++) {
            SCOPED_TRACE(phases[k]);
            EXPECT_EQ(percents[k].front(), 0);
            for (size_t i = 1; i < percents[k].size(); i++)
                EXPECT_GT(percents[k][i], percents[k][i - 1]) << r.errors;
            const bool stopped_here = *c.stop && k + 1 == percents.size();
            EXPECT_EQ(percents[k].back() == 100, !stopped_here) << r.errors;
            // The demo's 200 lines move the difference by every percentage or so (its two
            // threads may pass one over): a caller sees it move.
            if (phases[k] == "difference") {
                EXPECT_GT(percents[k].size(), 50u);
            }
        }
    }
    // Without the option, none.
    EXPECT_EQ(run(cases[0].paths).errors, "");
}


} // namespace

// The text of a CSV file as lines of fields.
std::vector<std::vector<std::string>> csv_fields(const std::string &text)
{
    std::vector<std::vector<std::string>> lines;
    std::istringstream in(e2e::console_text(text));  // CR LF on Windows
    std::string line, field;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        lines.emplace_back();
        while (std::getline(fields, field, ','))
            lines.back().push_back(field);
        if (!line.empty() && line.back() == ',')
            lines.back().push_back("");
    }
    return lines;
}

// The field of a column by its name.
std::string field(const std::vector<std::vector<std::string>> &csv, size_t line, const std::string &name)
{
    for (size_t k = 0; k < csv[0].size(); k++)
        if (csv[0][k] == name)
            return k < csv[line].size() ? csv[line][k] : "";
    return "no column " + name;
}

// Classes of 20 m of altitude and a scattered stable ground on the two real epochs, and
// on the second epoch's window of the first's cells, against numpy's figures
// (tests/data/geotiff/README.md).
TEST_F(CommandLine, ClassesAndStableGroundAgainstNumpy)
{
    put_real_epochs();
    for (const char *name : {"dem_classes.tif", "dem_stable_m2.raw", "dem_stable_m2.txt", "dem_2020_window.tif"})
        write_file(site(name), data(std::string("geotiff/") + name));
    const auto close_to = [](const std::string &got, const std::string &expected) {
        const double a = std::strtod(got.c_str(), nullptr), b = std::strtod(expected.c_str(), nullptr);
        return std::fabs(a - b) <= 1e-12 * std::max(1.0, std::fabs(b));
    };
    e2e::run_result r;
    for (const char *second : {"dem_2020", "dem_2020_window"}) {
        SCOPED_TRACE(second);
        const std::string part = std::string(second).substr(8);  // "" or "_window"
        r = run({"dem_2015.tif", std::string(second) + ".tif", "out.asc", "--kind", "absolute", "--limit", "0.3",
                 "--classes", "dem_classes.tif", "--stable", "dem_stable_m2.raw"});
        ASSERT_EQ(r.status, 0) << r.errors;
        const auto classes = csv_fields(read_file(site("out_classes.csv")));
        const auto expected = csv_fields(data("geotiff/dem_classes" + part + "_expected.csv"));
        const auto budget = csv_fields(read_file(site("out_budget.csv")));
        ASSERT_EQ(classes.size(), expected.size());
        ASSERT_GT(classes.size(), 2u);
        EXPECT_EQ(classes[0][0], "class");
        EXPECT_EQ(std::vector<std::string>(classes[0].begin() + 1, classes[0].begin() + 1 + 25),
                  std::vector<std::string>(budget[0].begin(), budget[0].begin() + 25));
        for (size_t line = 1; line < classes.size(); line++)
            for (const std::string &name : expected[0]) {
                SCOPED_TRACE(name + " of class " + expected[line][0]);
                if (name.find("volume") != std::string::npos)
                    EXPECT_TRUE(close_to(field(classes, line, name), field(expected, line, name)))
                        << field(classes, line, name) << " " << field(expected, line, name);
                else
                    EXPECT_EQ(field(classes, line, name), field(expected, line, name));
            }
        const auto stable = csv_fields(data("geotiff/dem_stable" + part + "_expected.csv"));
        for (const std::string &name : stable[0]) {
            SCOPED_TRACE(name);
            EXPECT_TRUE(close_to(field(budget, 1, name), field(stable, 1, name)))
                << field(budget, 1, name) << " " << field(stable, 1, name);
        }
    }
    r = run({"dem_2015.tif", "dem_2020.tif", "out.asc", "--kind", "absolute", "--limit", "0.3", "--classes",
             "dem_classes.tif", "--stable", "dem_stable_m2.raw"});
    const size_t nmad = r.console.find("\n\t\tstable ground, NMAD ");
    ASSERT_NE(nmad, std::string::npos) << r.console;
    EXPECT_EQ(r.console.find(" : 0.518919 m\n", nmad), r.console.find('\n', nmad + 1) - 13) << r.console;
    const std::string report = read_file(site("out_report.html"));
    EXPECT_NE(report.find("<h2>Budget per class</h2>"), std::string::npos);
    EXPECT_NE(report.find("<th>stable ground, NMAD</th><td>0.518919 m</td>"), std::string::npos);

    // The test at 90 % from the stable ground's NMAD: each DEM takes NMAD / sqrt(2).
    r = run({"dem_2015.tif", "dem_2020.tif", "out.asc", "--sigma", "stable", "--confidence", "90", "--stable",
             "dem_stable_m2.raw", "--json"});
    ASSERT_EQ(r.status, 0) << r.errors;
    const nlohmann::json json = nlohmann::json::parse(r.console);
    const auto stable = csv_fields(data("geotiff/dem_stable_expected.csv"));
    const double stable_nmad = std::strtod(field(stable, 1, "stable_nmad_m").c_str(), nullptr);
    EXPECT_NEAR(json["sigma_first_m"].get<double>(), stable_nmad / std::sqrt(2.0), 1e-12);
    EXPECT_NEAR(json["sigma_second_m"].get<double>(), stable_nmad / std::sqrt(2.0), 1e-12);
    EXPECT_EQ(json["confidence_pct"].get<double>(), 90.0);
}

// The errors with their correlation on the two real epochs, the stable ground being the
// cells of dem_classes.tif (altitudes of 182 m and more), in the sessions numpy weighed
// (tests/data/confidence): the model carries exactly the cells numpy detects, and its
// error lies between numpy's independent and fully correlated ones.
TEST_F(CommandLine, CorrelatedErrorCarriesTheDetectedCellsBetweenTheBounds)
{
    put_real_epochs();
    write_file(site("dem_classes.tif"), data("geotiff/dem_classes.tif"));
    const auto expected = csv_fields(data("confidence/expected_budgets.csv"));
    struct session {
        const char *name;
        std::vector<std::string> test;
    };
    // Uniform errors (a limit for the pass), an error grid beside a uniform error, and
    // the positive kind with a grid that has no data in places.
    const session sessions[] = {
        {"uniform_95", {"--kind", "absolute", "--sigma", "0.1", "0.15", "--confidence", "95"}},
        {"grid_beside_uniform_90", {"--kind", "signed", "--sigma", "err_2015.tif", "0.15", "--confidence", "90"}},
        {"no_data_in_grid_99", {"--kind", "positive", "--sigma", "0.1", "err_2020.asc", "--confidence", "99"}},
    };
    for (const session &s : sessions) {
        SCOPED_TRACE(s.name);
        size_t line = 1;
        while (line < expected.size() && expected[line][0] != s.name)
            line++;
        ASSERT_LT(line, expected.size());
        std::vector<std::string> arguments = {"dem_2015.tif", "dem_2020.tif", "out.tif", "--json", "--no-report",
                                              "--stable", "dem_classes.tif"};
        arguments.insert(arguments.end(), s.test.begin(), s.test.end());
        const e2e::run_result r = run(arguments);
        ASSERT_EQ(r.status, 0) << r.errors;
        const nlohmann::json json = nlohmann::json::parse(r.console);
        const nlohmann::json &c = json["correlation"];
        ASSERT_FALSE(c.contains("reason")) << c.dump();
        const auto number = [&](const std::string &name) { return std::strtod(field(expected, line, name).c_str(), nullptr); };
        for (const char *side : {"above", "below"}) {
            SCOPED_TRACE(side);
            const std::string prefix = side;
            EXPECT_EQ(c[prefix + "_cells"].get<double>(), number(prefix + "_detected_cells"));
            const double correlated = c[prefix + "_error_m3"].get<double>();
            EXPECT_GE(correlated, number(prefix + "_error_independent_m3") * (1.0 - 1e-9));
            EXPECT_LE(correlated, number(prefix + "_error_m3") * (1.0 + 1e-9));
            if (number(prefix + "_detected_cells") > 1.0) {
                EXPECT_GT(correlated, number(prefix + "_error_independent_m3") * 1.01);
                EXPECT_LT(correlated, number(prefix + "_error_m3") * 0.99);
            }
        }
        // The net's over both directions together, bounded by the two directions' sums.
        const double net = c["net_error_m3"].get<double>();
        EXPECT_LE(net, number("above_error_m3") + number("below_error_m3") + 1e-6);
        EXPECT_GE(net, number("net_error_independent_m3") * (1.0 - 1e-9));
    }
    // By slope the report plots and lists the bins the JSON gives, in their order.
    e2e::run_result r = run({"dem_2015.tif", "dem_2020.tif", "out.tif", "--json", "--stable", "dem_classes.tif",
                             "--sigma", "stable-slope", "--confidence", "95"});
    ASSERT_EQ(r.status, 0) << r.errors;
    const nlohmann::json bins = nlohmann::json::parse(r.console)["correlation"]["sigma_by_slope"];
    ASSERT_EQ(bins.size(), 10u);
    const std::string report = read_file(site("out_report.html"));
    const size_t section = report.find("<h2>Error by slope</h2>");
    ASSERT_NE(section, std::string::npos);
    const std::string figure = report.substr(section, report.find("</table>", section) - section);
    EXPECT_EQ(e2e::occurrences(figure, "<circle"), bins.size());
    size_t at = 0;
    for (const nlohmann::json &bin : bins) {
        std::ostringstream centre;
        centre << std::fixed << std::setprecision(2) << "<td>" << bin["slope_deg"].get<double>() << "</td>";
        at = figure.find(centre.str(), at);
        ASSERT_NE(at, std::string::npos) << bin.dump();
    }
    // The bins hold the stable cells with data, and only them.
    r = run({"dem_2015.tif", "dem_2020.tif", "out.tif", "--stable", "dem_classes.tif", "--sigma", "stable-slope",
             "--confidence", "95"});
    ASSERT_EQ(r.status, 0) << r.errors;
    size_t binned = 0, stable = 0;
    std::istringstream lines(r.console);
    for (std::string line; std::getline(lines, line);) {
        const size_t cells = line.find(" m (");
        if (line.find("error at slope") != std::string::npos && cells != std::string::npos)
            binned += std::stoul(line.substr(cells + 4));
        if (line.find("stable ground, cells") != std::string::npos)
            stable = std::stoul(line.substr(line.rfind(' ') + 1));
    }
    EXPECT_GT(stable, 1000u);
    EXPECT_EQ(binned, stable);
}
