// Hostile input and failing systems, run through the real program: files that are not
// what they claim, answers that stop short or run on, names that lead outside the root,
// an output the folder refuses, a disk that fills, memory that runs out. Each run must
// stop with its message and status 1, leave no output or temporary file, and leave an
// earlier output of the same name byte for byte as it was.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "e2e_support.h"

#if defined(__SANITIZE_ADDRESS__)
#define ORMELIX_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORMELIX_ADDRESS_SANITIZER 1
#endif
#endif

namespace {

using e2e::little_endian16;
using e2e::read_file;
using e2e::write_file;

const std::string END_OF_ANSWERS = "\n\tNo more answers on the input: the run stops.\n";
const std::string SITE = "c:\\images\\site\\";

const std::string NORTH_ASC = "ncols 3\nnrows 2\nxllcorner 300.5\nyllcorner 400\ncellsize 10\n"
                              "nodata_value -9999\n120.5 100 7\n1 2 3\n";
const std::string SOUTH_ASC = "ncols 3\nnrows 2\nxllcorner 300.5\nyllcorner 400\ncellsize 10\n"
                              "nodata_value -9999\n100 120.5 5\n1.25 2 0\n";
// The answers of a run from north.asc and south.asc to diff_val_abs.asc.
const std::string ASCII_RUN = "site\nnorth\n0\nsouth\n0\ndiff\n0\n0\n1\n";
// Earlier results a stopped run must leave as they are.
const std::string EARLIER_ASC = "earlier ASCII result\n";
const std::string EARLIER_RAW = "earlier samples";
const std::string EARLIER_TXT = "earlier descriptor\n";

std::string ascii_header(const std::string &ncols, const std::string &nrows)
{
    return "ncols " + ncols + "\nnrows " + nrows +
           "\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -9999\n";
}

// An ASCII grid of lines x columns whose every value is text.
std::string ascii_grid(int lines, int columns, const std::string &text)
{
    std::string grid = ascii_header(std::to_string(columns), std::to_string(lines));
    for (int i = 0; i < lines; i++) {
        for (int j = 0; j < columns; j++)
            grid += text + " ";
        grid += "\n";
    }
    return grid;
}

// Added to the sanitizer's own options for a run where an allocation may fail: the
// program, not the sanitizer, must answer it. The sanitizer would fill a huge block it
// was given page by page, so blocks beyond 4 GB are refused at once, as a smaller
// machine would.
e2e::run_limits allocation_may_fail()
{
    e2e::run_limits limits;
    const char *options = std::getenv("ASAN_OPTIONS");
    limits.environment.push_back(std::string("ASAN_OPTIONS=") + (options != nullptr ? options : "") +
                                 ":allocator_may_return_null=1:max_allocation_size_mb=4096");
    return limits;
}

// The address space the program takes before it reads a grid (its libraries, GDAL's
// among them, mapped), to the next 4 MB: the least under which it starts and ends.
uint64_t address_space_at_start(const std::string &folder)
{
    e2e::run_limits limits = allocation_may_fail();
    limits.arguments = {"--version"};
    for (uint64_t megabytes = 16; megabytes < 4096; megabytes += 4) {
        limits.address_space = megabytes << 20;
        if (e2e::run_program(folder, "", limits).status == 0)
            return limits.address_space;
    }
    return 0;
}

// What the program wrote on standard error: nothing, but for the sanitizer's notes
// of allocations it refused.
std::string program_errors(const std::string &errors)
{
    std::string kept;
    size_t start = 0;
    while (start < errors.size()) {
        size_t end = errors.find('\n', start);
        end = end == std::string::npos ? errors.size() : end + 1;
        const std::string line = errors.substr(start, end - start);
        if (line.find("WARNING: AddressSanitizer failed to allocate") == std::string::npos)
            kept += line;
        start = end;
    }
    return kept;
}

class BadInput : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = e2e::make_root();
        write_file(site("diff_val_abs.asc"), EARLIER_ASC);
        write_file(site("diff_val_abs_m2.raw"), EARLIER_RAW);
        write_file(site("diff_val_abs_m2.txt"), EARLIER_TXT);
    }
    void TearDown() override
    {
        chmod(site_folder().c_str(), 0755);
        e2e::remove_root(root);
    }

    std::string site_folder() const { return root + "/images/site"; }
    std::string site(const std::string &name) const { return site_folder() + "/" + name; }
    std::vector<std::string> site_files() const { return e2e::list_folder(site_folder()); }

    e2e::run_result run(const std::string &answers, const e2e::run_limits &limits = e2e::run_limits())
    {
        files_before = site_files();
        return e2e::run_program(root, answers, limits);
    }

    // A run that stopped as it must: its message last, status 1, the folder as it was
    // before the run (plus the files named), the earlier results untouched.
    void expect_stop(const e2e::run_result &r, const std::string &message,
                     const std::vector<std::string> &also_left = {})
    {
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(program_errors(r.errors), "");
        ASSERT_GE(r.console.size(), message.size()) << r.console;
        EXPECT_EQ(r.console.substr(r.console.size() - message.size()), message);
        std::vector<std::string> expected = files_before;
        for (const std::string &name : also_left)
            if (std::find(expected.begin(), expected.end(), name) == expected.end())
                expected.push_back(name);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(site_files(), expected);
        expect_earlier_results();
    }

    void expect_earlier_results()
    {
        EXPECT_EQ(read_file(site("diff_val_abs.asc")), EARLIER_ASC);
        EXPECT_EQ(read_file(site("diff_val_abs_m2.raw")), EARLIER_RAW);
        EXPECT_EQ(read_file(site("diff_val_abs_m2.txt")), EARLIER_TXT);
    }

    std::string root;
    std::vector<std::string> files_before;
};

TEST_F(BadInput, ATruncatedAsciiBodyNamesTheFirstMissingValue)
{
    write_file(site("north.asc"), NORTH_ASC.substr(0, NORTH_ASC.size() - 3)); // "...\n1 2"
    expect_stop(run(ASCII_RUN), "\n\tFile " + SITE +
                                    "north.asc ends before the value of grid line 2, "
                                    "column 3: its header announces 2 lines of 3 values\n");

    // Cut inside the second grid's last number: "0" of "1.25" is gone, and the rest.
    write_file(site("north.asc"), NORTH_ASC);
    write_file(site("south.asc"), SOUTH_ASC.substr(0, SOUTH_ASC.find("1.25") + 3));
    expect_stop(run(ASCII_RUN), "\n\tFile " + SITE +
                                    "south.asc ends before the value of grid line 2, "
                                    "column 2: its header announces 2 lines of 3 values\n");

    // Nothing at all.
    write_file(site("north.asc"), "");
    expect_stop(run(ASCII_RUN),
                "\n\tFile " + SITE + "north.asc ends within its header, at header line 1 of 6\n");
}

TEST_F(BadInput, AWordThatIsNotANumberIsShownWithItsPlace)
{
    write_file(site("north.asc"), "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\n"
                                  "nodata_value -9999\n120.5 100 7\n1 2,5 3\n");
    expect_stop(run(ASCII_RUN), "\n\tFile " + SITE +
                                    "north.asc, line 8: \"2,5\" is not a number "
                                    "(grid line 2, column 2)\n");

    write_file(site("north.asc"), "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize ten\n1 2 3\n4 5 6\n");
    expect_stop(run(ASCII_RUN), "\n\tFile " + SITE + "north.asc, header line 5: \"ten\" is not a number\n");

    // A cell height below 0 would weigh every cell with a negative area.
    write_file(site("north.asc"), "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ndx 30\ndy -20\n1 2 3\n4 5 6\n");
    expect_stop(run(ASCII_RUN),
                "\n\tFile " + SITE + "north.asc, header line 6: \"-20\" is not a cell size greater than 0\n");
}

TEST_F(BadInput, CountsOfZeroNegativeOrBeyondTheFileStopTheRun)
{
    write_file(site("north.asc"), ascii_header("0", "2") + "1 2\n");
    expect_stop(run(ASCII_RUN), "\n\tFile " + SITE +
                                    "north.asc, header line 1: \"0\" is not a whole number "
                                    "greater than 0\n");
    write_file(site("north.asc"), ascii_header("3", "-2") + "1 2\n");
    expect_stop(run(ASCII_RUN), "\n\tFile " + SITE +
                                    "north.asc, header line 2: \"-2\" is not a whole number "
                                    "greater than 0\n");
    // Beyond 32 bits: refused as written, never wrapped into another count.
    write_file(site("north.asc"), ascii_header("4294967299", "2") + "1 2\n");
    expect_stop(run(ASCII_RUN), "\n\tFile " + SITE +
                                    "north.asc, header line 1: \"4294967299\" is not a whole "
                                    "number greater than 0\n");
    // Counts no machine holds whole: read in bands, the file stops the run, not its size.
    write_file(site("north.asc"), ascii_header("2147483647", "2147483647") + "1 2 3\n");
    expect_stop(run(ASCII_RUN, allocation_may_fail()),
                "\n\tFile " + SITE + "north.asc ends before the value of grid line 1, column 4: its header "
                                     "announces 2147483647 lines of 2147483647 values\n");

    // The same through a raster descriptor.
    write_file(site("north_m2.raw"), little_endian16({1, 2, 3, 4, 5, 6}));
    write_file(site("north_m2.txt"), "0\n3\n2\n1\n6\n25\n");
    expect_stop(run("site\nnorth\n1\n0\n"), "\n\tThe descriptor " + SITE +
                                                "north_m2.txt gives 0 lines and 3 "
                                                "columns: both must be greater than 0.\n");
    write_file(site("north_m2.txt"), "2\n-3\n2\n1\n6\n25\n");
    expect_stop(run("site\nnorth\n1\n0\n"), "\n\tThe descriptor " + SITE +
                                                "north_m2.txt gives 2 lines and -3 "
                                                "columns: both must be greater than 0.\n");
    write_file(site("north_m2.txt"), "2147483647\n2147483647\n2\n1\n6\n25\n");
    expect_stop(run("site\nnorth\n1\n0\n"), "\n\tThe file " + SITE +
                                                "north_m2.raw holds 12 bytes; 2147483647 "
                                                "lines of 2147483647 columns need 9223372028264841218.\n");
}

TEST_F(BadInput, AHeaderOfOnlyKeywords)
{
    write_file(site("north.asc"), "ncols\nnrows\nxllcorner\nyllcorner\ncellsize\nnodata_value\n");
    expect_stop(run(ASCII_RUN), "\n\tFile " + SITE +
                                    "north.asc, header line 1: \"nrows\" is not a whole "
                                    "number greater than 0\n");
    write_file(site("north.asc"), "ncols 3\nnrows 2\nxllcorner\nyllcorner\ncellsize\nnodata_value\n");
    expect_stop(run(ASCII_RUN), "\n\tFile " + SITE +
                                    "north.asc, header line 3: \"yllcorner\" is not a "
                                    "number\n");
    write_file(site("north.asc"), "ncols 3\nnrows");
    expect_stop(run(ASCII_RUN),
                "\n\tFile " + SITE + "north.asc ends within its header, at header line 2 of 6\n");
}

TEST_F(BadInput, WordsOfTenThousandCharacters)
{
    const std::string long_word(10000, '7');
    const std::string shown = std::string(40, '7') + "...";
    write_file(site("north.asc"), "ncols " + long_word + "\nnrows 2\n");
    expect_stop(run(ASCII_RUN), "\n\tFile " + SITE + "north.asc, header line 1: \"" + shown +
                                    "\" is not a whole number greater than 0\n");
    write_file(site("north.asc"), "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value 0\n"
                                  "1 2 " +
                                      std::string(10000, 'x') + "\n4 5 6\n");
    expect_stop(run(ASCII_RUN), "\n\tFile " + SITE + "north.asc, line 7: \"" + std::string(40, 'x') +
                                    "...\" is not a number (grid line 1, column 3)\n");

    // A keyword is only a label: one of 10000 characters leaves the grid as it is.
    write_file(site("north.asc"), std::string(10000, 'k') +
                                      " 3\nnrows 2\nxllcorner 300.5\nyllcorner 400\n"
                                      "cellsize 10\nnodata_value -9999\n120.5 100 7\n1 2 3\n");
    write_file(site("south.asc"), SOUTH_ASC);
    std::remove(site("diff_val_abs.asc").c_str());
    e2e::run_result r = run(ASCII_RUN);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(read_file(site("diff_val_abs.asc"))
                  .find("20.500000\t20.500000\t2.000000\t0.250000\t0.000000\t3.000000\t"),
              std::string::npos);
}

TEST_F(BadInput, BinaryGarbageAsAnAsciiGrid)
{
    // A picture's first bytes: the count of line 1 is the byte 0x1a.
    write_file(site("north.asc"), std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\x01\0", 20));
#ifdef _WIN32
    // Read as text on Windows, a file ends at its first Ctrl-Z (0x1a).
    expect_stop(run(ASCII_RUN),
                "\n\tFile " + SITE + "north.asc ends within its header, at header line 1 of 6\n");
#else
    expect_stop(run(ASCII_RUN), "\n\tFile " + SITE +
                                    "north.asc, header line 1: \"?\" is not a whole number "
                                    "greater than 0\n");
#endif
    // One long word of NUL bytes.
    write_file(site("north.asc"), std::string(4096, '\0'));
    expect_stop(run(ASCII_RUN),
                "\n\tFile " + SITE + "north.asc ends within its header, at header line 1 of 6\n");
    // Noise: whatever it says, it says it about this file, and stops.
    std::string noise;
    uint32_t state = 12345;
    for (int i = 0; i < 65536; i++) {
        state = state * 1103515245u + 12345u;
        noise.push_back(static_cast<char>(state >> 24));
    }
    write_file(site("north.asc"), noise);
    e2e::run_result r = run(ASCII_RUN);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.console.find("\n\tFile " + SITE + "north.asc"), std::string::npos);
    EXPECT_EQ(site_files(), files_before);
    expect_earlier_results();
}

TEST_F(BadInput, ASampleFileShorterThanItsDescriptor)
{
    write_file(site("north_m2.raw"), std::string(10, '\1'));
    write_file(site("north_m2.txt"), "2\n3\n2\n0\n100\n25\n");
    expect_stop(run("site\nnorth\n1\n0\n"), "\n\tThe file " + SITE +
                                                "north_m2.raw holds 10 bytes; 2 lines of 3 "
                                                "columns need 12.\n");
    // 32-bit samples need four bytes each.
    write_file(site("north_m4.raw"), std::string(12, '\1'));
    write_file(site("north_m4.txt"), "2\n3\n4\n0\n100\n25\n");
    expect_stop(run("site\nnorth\n1\n1\n"), "\n\tThe file " + SITE +
                                                "north_m4.raw holds 12 bytes; 2 lines of 3 "
                                                "columns need 24.\n");
    write_file(site("north_m2.raw"), "");
    expect_stop(run("site\nnorth\n1\n0\n"), "\n\tThe file " + SITE +
                                                "north_m2.raw holds 0 bytes; 2 lines of 3 "
                                                "columns need 12.\n");
}

TEST_F(BadInput, ADescriptorOfText)
{
    write_file(site("north_m2.raw"), little_endian16({1, 2, 3, 4, 5, 6}));
    write_file(site("north_m2.txt"), "lines: 2\ncolumns: 3\n");
    expect_stop(run("site\nnorth\n1\n0\n"), "\n\tThe descriptor " + SITE +
                                                "north_m2.txt gives 0 lines and 0 "
                                                "columns: both must be greater than 0.\n");
    // An ASCII grid where the descriptor should be.
    write_file(site("north_m2.txt"), NORTH_ASC);
    expect_stop(run("site\nnorth\n1\n0\n"), "\n\tThe descriptor " + SITE +
                                                "north_m2.txt gives 0 lines and 0 "
                                                "columns: both must be greater than 0.\n");
    // Lines and then words: the columns are missing.
    write_file(site("north_m2.txt"), "2\ncolumns\n");
    expect_stop(run("site\nnorth\n1\n0\n"), "\n\tThe descriptor " + SITE +
                                                "north_m2.txt gives 2 lines and 0 "
                                                "columns: both must be greater than 0.\n");
}

TEST_F(BadInput, AnswersThatEndAtEveryQuestionOfAFullRun)
{
    // Every question: a descriptor to create, a pixel size of 0 asked again, both units,
    // the limit, the output sample type, pixel size and unit.
    write_file(site("north_m2.raw"), little_endian16({12050, 10000, 700, 100, 200, 300}));
    write_file(site("south_m2.raw"), little_endian16({10000, 12050, 500, 125, 200, 0}));
    write_file(site("south_m2.txt"), "2\n3\n2\n0\n12050\n25\n");
    const std::vector<std::string> answers = {"site", "north", "1",     "0",   "2", "3",  "0",
                                              "25",   "2",     "south", "1",   "0", "2",  "diff",
                                              "1",    "0",     "0",     "0.5", "0", "30", "2"};
    std::string all;
    for (const std::string &answer : answers)
        all += answer + "\n";
    // The list is complete: all of it makes the result.
    std::remove(site("diff_val_abs_m2.raw").c_str());
    std::remove(site("diff_val_abs_m2.txt").c_str());
    ASSERT_EQ(run(all).status, 0);
    ASSERT_EQ(read_file(site("diff_val_abs_m2.raw")), little_endian16({2050, 2050, 200, 0, 0, 300}));

    write_file(site("diff_val_abs_m2.raw"), EARLIER_RAW);
    write_file(site("diff_val_abs_m2.txt"), EARLIER_TXT);
    // No input at all: the stop neither hangs on the key press nor takes one.
    e2e::run_limits closed;
    closed.closed_input = true;
    std::remove(site("north_m2.txt").c_str());
    expect_stop(run("", closed), END_OF_ANSWERS);

    std::string given;
    for (size_t count = 0; count < answers.size(); count++) {
        SCOPED_TRACE("answers given: " + std::to_string(count));
        std::remove(site("north_m2.txt").c_str());
        e2e::run_result r = run(given);
        // The descriptor is written once its three answers are in, and completed once
        // the unit of its samples is known; before that no descriptor is left.
        if (count < 7) {
            expect_stop(r, END_OF_ANSWERS);
        } else {
            expect_stop(r, END_OF_ANSWERS, {"north_m2.txt"});
            EXPECT_EQ(read_file(site("north_m2.txt")), e2e::text_file(count < 9 ? "2\n3\n2\n" : "2\n3\n2\n100\n12050\n25\n"));
        }
        given += answers[count] + "\n";
    }
}

TEST_F(BadInput, AnswersOfTenThousandCharacters)
{
    write_file(site("north.asc"), NORTH_ASC);
    write_file(site("south.asc"), SOUTH_ASC);
    const std::string digits(10000, '9');
    const std::string letters(10000, 'x');
    // As a menu answer and as the limit: refused, asked again; the run goes on.
    std::remove(site("diff_val_abs.asc").c_str());
    e2e::run_result r =
        run("site\nnorth\n" + digits + "\n0\nsouth\n0\ndiff\n0\n0\n0\n" + letters + "\n0.5\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.console.find("\n\t" + digits + " is not a whole number: please answer again.\n"),
              std::string::npos);
    EXPECT_NE(r.console.find("\n\t" + letters + " is not a number: please answer again.\n"),
              std::string::npos);
    EXPECT_NE(read_file(site("diff_val_abs.asc")).find("20.500000\t20.500000\t2.000000\t0.000000\t"),
              std::string::npos);

    write_file(site("diff_val_abs.asc"), EARLIER_ASC);
    // As a folder: no such file can even be named.
    const std::string folder(10000, 'f');
    expect_stop(run(folder + "\nnorth\n0\n"), "\n\tFile c:\\images\\" + folder + "\\north.asc unknown\n");
    // As the output name.
    const std::string name(10000, 'd');
    expect_stop(run("site\nnorth\n0\nsouth\n0\n" + name + "\n0\n0\n1\n"),
                "\n\tThe file " + SITE + name + "_val_abs.asc cannot be created: " +
                    e2e::reason(ENAMETOOLONG) + ".\n");
}

TEST_F(BadInput, NamesThatLeadOutsideTheRootAreAskedAgain)
{
    // A grid one level above the root: it must never be read.
    write_file(root + "/images/secret.asc", NORTH_ASC);
    write_file(root + "/secret.asc", NORTH_ASC);
    const std::string refused[] = {"..",   "..\\..",   "site\\..\\..\\x",  "site/../..",
                                   "/etc", "\\images", "c:\\images\\site", std::string("..\0x", 4)};
    std::string answers;
    for (const std::string &name : refused)
        answers += name + "\n";
    e2e::run_result r = run(answers + "site\n..\\secret\n..\\..\\secret\n");
    for (const std::string &name : refused)
        EXPECT_NE(r.console.find("\n\t" + std::string(name.c_str()) + " would lead outside"),
                  std::string::npos)
            << name;
    EXPECT_NE(r.console.find("\n\t..\\secret would lead outside"), std::string::npos);
    EXPECT_NE(r.console.find("\n\t..\\..\\secret would lead outside"), std::string::npos);
    EXPECT_EQ(r.console.find("THE FIRST DEM"), std::string::npos);
    expect_stop(r, END_OF_ANSWERS);

    // The output name too.
    write_file(site("north.asc"), NORTH_ASC);
    write_file(site("south.asc"), SOUTH_ASC);
    r = run("site\nnorth\n0\nsouth\n0\n..\\diff\n");
    EXPECT_NE(r.console.find("\n\t..\\diff would lead outside c:\\images\\: please give a name inside it.\n"),
              std::string::npos);
    expect_stop(r, END_OF_ANSWERS);
    // Above the images folder: on Windows the drive's own root, no test folder's to clear.
    std::remove((root + "/secret.asc").c_str());
}

TEST_F(BadInput, AnOutputTheFolderRefuses)
{
    write_file(site("north.asc"), NORTH_ASC);
    write_file(site("south.asc"), SOUTH_ASC);
    // A folder where the result should go: it cannot be put in place.
    std::remove(site("diff_val_abs.asc").c_str());
    e2e::make_folder(site("diff_val_abs.asc"));
    e2e::run_result r = run(ASCII_RUN);
    EXPECT_EQ(r.status, 1);
    ASSERT_NE(r.console.find("\n\n\tsaving \n\n"), std::string::npos);
    EXPECT_EQ(r.console.substr(r.console.find("\n\n\tsaving \n\n")),
              "\n\n\tsaving \n\n\n\tThe file " + SITE +
                  "diff_val_abs.asc could not be put in place: "
                  "Is a directory.\n");
    EXPECT_EQ(site_files(), files_before);
    EXPECT_TRUE(e2e::list_folder(site("diff_val_abs.asc")).empty());
    e2e::remove_tree(site("diff_val_abs.asc"));
    write_file(site("diff_val_abs.asc"), EARLIER_ASC);

    // A folder that does not exist.
    expect_stop(run("site\nnorth\n0\nsouth\n0\nnowhere\\diff\n0\n0\n1\n"),
                "\n\tThe file " + SITE +
                    "nowhere\\diff_val_abs.asc cannot be created: No such file or "
                    "directory.\n");
}

TEST_F(BadInput, APairIsPutInPlaceWholeOrNotAtAll)
{
    write_file(site("north.asc"), NORTH_ASC);
    write_file(site("south.asc"), SOUTH_ASC);
    // The descriptor cannot take its name: the earlier samples must stay, not be
    // replaced by samples without their descriptor.
    std::remove(site("diff_val_abs_m2.txt").c_str());
    e2e::make_folder(site("diff_val_abs_m2.txt"));
    e2e::run_result r = run("site\nnorth\n0\nsouth\n0\ndiff\n1\n0\n1\n0\n30\n2\n");
    const std::string message = "\n\tThe file " + SITE +
                                "diff_val_abs_m2.txt could not be put in place: "
                                "Is a directory.\n";
    EXPECT_EQ(r.status, 1);
    ASSERT_GE(r.console.size(), message.size());
    EXPECT_EQ(r.console.substr(r.console.size() - message.size()), message);
    EXPECT_EQ(read_file(site("diff_val_abs_m2.raw")), EARLIER_RAW);
    EXPECT_EQ(site_files(), files_before);
}

TEST_F(BadInput, AReadOnlyOutputFolder)
{
#ifdef _WIN32
    GTEST_SKIP() << "running as another user is POSIX's";
#else
    write_file(site("north.asc"), NORTH_ASC);
    write_file(site("south.asc"), SOUTH_ASC);
    // Root writes anywhere: the run takes an ordinary user for whom the folder is closed.
    e2e::run_limits limits;
    if (geteuid() == 0) {
        limits.user = 65534;
        ASSERT_EQ(chmod(root.c_str(), 0755), 0);
    }
    ASSERT_EQ(chmod(site_folder().c_str(), 0555), 0);
    e2e::run_result r = run(ASCII_RUN, limits);
    if (r.status == e2e::USER_REFUSED)
        GTEST_SKIP() << "no ordinary user to run as";
    expect_stop(r, "\n\tThe file " + SITE + "diff_val_abs.asc cannot be created: Permission denied.\n");
#endif
}

TEST_F(BadInput, ADiskThatFillsDuringTheWrite)
{
    // Grids whose results are larger than the disk allows, the console well within it.
    write_file(site("north.asc"), ascii_grid(100, 100, "1234.5"));
    write_file(site("south.asc"), ascii_grid(100, 100, "1000.25"));
    e2e::run_limits limits;
    limits.file_size = 16384;
    expect_stop(run(ASCII_RUN, limits),
                "\n\tThe file " + SITE + "diff_val_abs.asc could not be written: File too large.\n");
    // 20000 bytes of 16-bit samples.
    expect_stop(run("site\nnorth\n0\nsouth\n0\ndiff\n1\n0\n1\n0\n30\n2\n", limits),
                "\n\tThe file " + SITE + "diff_val_abs_m2.raw could not be written: File too large.\n");
}

TEST_F(BadInput, MemoryThatRunsOutStopsWithTheStorageMessage)
{
#ifdef ORMELIX_ADDRESS_SANITIZER
    GTEST_SKIP() << "the address sanitizer reserves more address space than any limit leaves";
#else
    // The first grid, of a frame held whole (within the run's memory), cannot be had at all:
    // 72 MB, 32 MB beyond what the program takes to start.
    const uint64_t start = address_space_at_start(root);
    ASSERT_NE(start, 0u);
    write_file(site("north.asc"), ascii_header("3000", "3000") + "1 2 3\n");
    e2e::run_limits limits = allocation_may_fail();
    limits.address_space = start + (uint64_t(32) << 20);
    expect_stop(run(ASCII_RUN, limits),
                "\n\tNot enough memory for a grid of 3000 lines and 3000 columns.\n");

    // Both inputs fit, 64 MB each, but not the result beside them: 158 MB beyond what the
    // program takes to start (32 MB before it read through GDAL, whose libraries it maps).
    write_file(site("north.asc"), ascii_grid(2000, 4000, "1"));
    write_file(site("south.asc"), ascii_grid(2000, 4000, "2"));
    limits.address_space = start + (uint64_t(158) << 20);
    e2e::run_result r = run(ASCII_RUN, limits);
    EXPECT_NE(r.console.find("THE SECOND DEM"), std::string::npos);
    expect_stop(r, "\n\n\tName of the DEM to be created (without any extension) ? "
                   "\n\tNot enough memory for a grid of 2000 lines and 4000 columns.\n");
#endif
}

} // namespace
