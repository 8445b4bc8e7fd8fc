// The report of a whole session: the file beside the output, its map decoded back with
// libpng, and the budget, the inputs and the limit it states.
#include <gtest/gtest.h>

#include <png.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "treatment/change_report.h"

namespace {

std::vector<unsigned char> from_base64(const std::string &text)
{
    const std::string digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::vector<unsigned char> bytes;
    uint32_t group = 0;
    int bits = 0;
    for (char c : text) {
        const size_t at = digits.find(c);
        if (at == std::string::npos)
            break;
        group = (group << 6) | static_cast<uint32_t>(at);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(static_cast<unsigned char>(group >> bits));
        }
    }
    return bytes;
}

struct rgba {
    int r, g, b, a;
};

TEST(ChangeReport, ASessionWritesTheMapTheBudgetAndTheInputs)
{
    const std::string root = e2e::make_root();
    // A flat first survey, 3 lines of 4 cells of 10 m; the second lies 2 m below it in one
    // cell, 3 m above in another, 0.1 m above in a third (under the 0.5 m limit), and has
    // no data in a fourth.
    e2e::write_file(root + "/images/site/north.asc", "ncols 4\nnrows 3\nxllcorner 1000\nyllcorner 2000\n"
                                                     "cellsize 10\nnodata_value -9999\n"
                                                     "100 100 100 100\n100 100 100 100\n100 100 100 100\n");
    e2e::write_file(root + "/images/site/south.asc", "ncols 4\nnrows 3\nxllcorner 1000\nyllcorner 2000\n"
                                                     "cellsize 10\nnodata_value -9999\n"
                                                     "98 103 100 100\n100 100.1 100 100\n100 100 100 -9999\n");
    const e2e::run_result r = e2e::run_program(root, "site\nnorth\n0\nsouth\n0\ndiff\n0\n0\n0\n0.5\n");
    ASSERT_EQ(r.status, 0) << r.console;
    const std::string report_line = "\n\tREPORT OF THE CHANGE : c:\\images\\site\\diff_val_abs_report.html\n";
    ASSERT_GE(r.console.size(), report_line.size());
    EXPECT_EQ(r.console.substr(r.console.size() - report_line.size()), report_line);
    EXPECT_EQ(e2e::list_folder(root + "/images/site"),
              (std::vector<std::string>{"diff_val_abs.asc", "diff_val_abs_budget.csv", "diff_val_abs_report.html",
                                        "north.asc", "south.asc"}));
    const std::string html = e2e::read_file(root + "/images/site/diff_val_abs_report.html");
    e2e::remove_root(root);

    // The figures of the budget as the console printed them, the inputs and the limit.
    std::istringstream console(r.console.substr(r.console.find("CHANGE BUDGET OF")));
    std::string line;
    std::getline(console, line);
    size_t figures = 0;
    while (std::getline(console, line) && line.rfind("\t\t", 0) == 0) {
        const size_t colon = line.find(" : ");
        std::string label = line.substr(2, colon - 2);
        label.erase(label.find_last_not_of(' ') + 1);
        if (html.find("<th>" + label + "</th>") == std::string::npos)
            continue;
        EXPECT_NE(html.find("<th>" + label + "</th><td>" + line.substr(colon + 3) + "</td>"), std::string::npos)
            << line;
        figures++;
    }
    EXPECT_GE(figures, 3u);
    for (const char *shown : {"c:\\images\\site\\north.asc (ascii)", "c:\\images\\site\\south.asc (ascii)",
                              "absolute values", "0.500000 m", "3 lines, 4 columns", "1000.000000 2000.000000"})
        EXPECT_NE(html.find(shown), std::string::npos) << shown;
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_EQ(html.find("http:"), html.find("http://www.w3.org/2000/svg"));

    // The map, one pixel a cell.
    const std::string mark = "data:image/png;base64,";
    const size_t at = html.find(mark);
    ASSERT_NE(at, std::string::npos);
    const std::vector<unsigned char> png = from_base64(html.substr(at + mark.size()));
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_memory(&image, png.data(), png.size()));
    image.format = PNG_FORMAT_RGBA;
    std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr));
    EXPECT_EQ(image.width, 4u);
    EXPECT_EQ(image.height, 3u);
    auto pixel = [&](size_t row, size_t column) {
        const unsigned char *p = &pixels[4 * (row * image.width + column)];
        return rgba{p[0], p[1], p[2], p[3]};
    };
    // Flat ground gets the light 255 sin 45 = 180, keeping 0.25 + 180/255 = 0.9559 of
    // a colour. The ramp ends at 3 m, the largest detected magnitude: -3 m takes the
    // deep blue (5, 48, 97); +2 m, 2/3 of the way, lies a third of the way from the
    // stop at 0.6 (214, 96, 77) to that at 0.8 (178, 24, 43): (202, 72, 66); 0.1 m is
    // no change, white.
    const struct {
        size_t row, column;
        rgba expected;
        const char *what;
    } cases[] = {
        {0, 0, {193, 69, 63, 255}, "first 2 m above"},
        {0, 1, {5, 46, 93, 255}, "first 3 m below"},
        {1, 1, {244, 244, 244, 255}, "under the limit"},
        {2, 3, {0, 0, 0, 0}, "no data"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const rgba got = pixel(c.row, c.column);
        EXPECT_EQ(got.a, c.expected.a);
        if (c.expected.a == 0)
            continue;
        EXPECT_NEAR(got.r, c.expected.r, 1);
        EXPECT_NEAR(got.g, c.expected.g, 1);
        EXPECT_NEAR(got.b, c.expected.b, 1);
    }
}

} // namespace

TEST(ChangeReport, AreasOfSquareKilometresAndVolumesOfMillionsAreScaled)
{
    const struct {
        budget_line line;
        const char *console, *report;
    } values[] = {
        {pieces_line("a", {{"26203 cells, "}, {"", 655075.0, "m2"}, {", "}, {"", 142883.0, "m3"}, {", mean "},
                           {"", 0.218117, "m"}}),
         "26203 cells, 655075.000000 m2, 142883.000000 m3, mean 0.218117 m",
         "26203 cells, 655075.000000 m2, 142883.000000 m3, mean 0.218117 m"},
        {pieces_line("b", {{"7 cells, "}, {"", 1e12, "m2"}, {", "}, {"", -2.5e6, "m3"}, {", mean "},
                           {"", -2.5e6, "m"}}),
         "7 cells, 1000000000000.000000 m2, -2500000.000000 m3, mean -2500000.000000 m",
         "7 cells, 1000000.000 km2, -2.500 10^6 m3, mean -2500000.000000 m"},
        {pieces_line("c", {{"", 1234567.89, "m3"}, {" (0.100000 %)"}}), "1234567.890000 m3 (0.100000 %)",
         "1.235 10^6 m3 (0.100000 %)"},
        {pieces_line("d", {{"", -999999.999999, "m2"}}), "-999999.999999 m2", "-999999.999999 m2"},
        {text_line("e", "60000 of 60000 (0 without data)"), "60000 of 60000 (0 without data)",
         "60000 of 60000 (0 without data)"},
    };
    for (const auto &v : values) {
        EXPECT_EQ(v.line.value, v.console);
        EXPECT_EQ(report_value_text(v.line), v.report);
    }
}
