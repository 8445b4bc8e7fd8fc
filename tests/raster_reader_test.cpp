// The raster readers on real files, with the unit answers on standard input.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "nrutil.h"
#include "gridfiles/input_grid.h"
#include "gridfiles/raster_reader.h"
#include "globals/globals.h"
#include "ormelix/opening.h"
#include "e2e_support.h"

namespace {

using namespace e2e;

const std::string unit_menu =
    "\n\n\tAre these values\n\t\t0 ====> in meters"
    "\n\t\t1 ====> in decimeters\n\t\t2 ====> in centimeters"
    "\n\t\t3 ====> in millimeters\n\t\t";

class RasterReader : public ::testing::Test {
protected:
    std::string folder;

    void SetUp() override
    {
        folder = scratch_folder("raster-reader");
        // The dialogue's readers ask the unit.
        first_input().ask = second_input().ask = &dialogue_questions();
    }

    void TearDown() override
    {
        if (dtab_dem1 != nullptr) frdmatrice(dtab_dem1, nb_lig);
        if (dtab_dem2 != nullptr) frdmatrice(dtab_dem2, nb_lig);
        dtab_dem1 = dtab_dem2 = nullptr;
        for (FILE **fp : {&f1, &f1d, &f2, &f2d}) {
            if (*fp != nullptr) std::fclose(*fp);
            *fp = nullptr;
        }
        std::freopen(NULL_DEVICE, "r", stdin);
        remove_tree(folder);
    }

    void answer(const std::string &answers)
    {
        write_file(folder + "/answers", answers);
        ASSERT_NE(std::freopen((folder + "/answers").c_str(), "r", stdin), nullptr);
    }

    // Sets up the first grid as the dialogue leaves it for its reader.
    void first_grid(int32_t lines, int32_t columns, int32_t itype, const std::string &bytes)
    {
        nb_lig = lines;
        nb_col = columns;
        itype_dem1 = itype;
        descr_dem1_OK = 1;
        dpix_size1 = 25.0;
        nomim1 = folder + (itype == 1 ? "/north_m4.raw" : "/north_m2.raw");
        nomdescr1 = folder + (itype == 1 ? "/north_m4.txt" : "/north_m2.txt");
        write_file(nomim1, bytes);
        f1 = std::fopen(nomim1.c_str(), "rb");
        f1d = nullptr;
    }

    std::string run_first()
    {
        testing::internal::CaptureStdout();
        dem1_lecture();
        return testing::internal::GetCapturedStdout();
    }
};

TEST_F(RasterReader, SixteenBitSamplesKeepTheirValueAndTheMenuComesBack)
{
    // Two stray bytes after the frame are ignored.
    first_grid(2, 3, 0, little_endian({0, 65535, 1000, 1, 2, 1234}, 2) + "\x07\x07");
    answer("4\n-1\nsome\n3\n");
    const std::string console = run_first();

    EXPECT_EQ(console.rfind("\n\n\tHypsometric dynamic scale:\n\t\tMin = 0\n\t\tMax = 65535 " + unit_menu, 0), 0u)
        << console;
    EXPECT_EQ(occurrences(console, unit_menu), 4u);
    const std::string metres = "\n\tFloat Hypsometric dynamic scale:\n\t\tMin = 0.000000\n\t\tMax = 65.535000 ";
    ASSERT_GE(console.size(), metres.size());
    EXPECT_EQ(console.substr(console.size() - metres.size()), metres);

    EXPECT_EQ(dyn_scale_dem1, 3);
    EXPECT_EQ(f1, nullptr);
    ASSERT_NE(dtab_dem1, nullptr);
    EXPECT_EQ(dtab_dem1[0][1], 65535 * 0.001);
    EXPECT_EQ(dtab_dem1[0][2], 1.0);
    EXPECT_EQ(dtab_dem1[1][2], 1234 * 0.001);
}

TEST_F(RasterReader, NegativeSamplesGiveTheirTrueRange)
{
    first_grid(1, 3, 1, little_endian({-5, -3, -40}, 4));
    answer("1\n");
    const std::string console = run_first();
    EXPECT_EQ(console,
              "\n\n\tHypsometric dynamic scale:\n\t\tMin = -40\n\t\tMax = -3 " + unit_menu +
                  "\n\tFloat Hypsometric dynamic scale:\n\t\tMin = -4.000000\n\t\tMax = -0.300000 ");
    EXPECT_EQ(dtab_dem1[0][0], -0.5);
    EXPECT_EQ(dtab_dem1[0][2], -4.0);
}

TEST_F(RasterReader, SecondGridCompletesTheDescriptorCreatedInTheRun)
{
    // The first grid's frame decides; the second grid is 3 x 4 here too.
    nb_lig = 3;
    nb_col = 4;
    itype_dem2 = 1;
    descr_dem2_OK = 0;
    dpix_size2 = 25.9;
    nomim2 = folder + "/south_m4.raw";
    nomdescr2 = folder + "/south_m4.txt";
    std::vector<int64_t> samples(12, 2000000);
    samples[7] = 2500000;
    write_file(nomim2, little_endian(samples, 4));
    f2 = std::fopen(nomim2.c_str(), "rb");
    f2d = std::fopen(nomdescr2.c_str(), "w");
    std::fputs("3\n4\n4\n", f2d);
    answer("2\n");

    testing::internal::CaptureStdout();
    dem2_lecture();
    const std::string console = testing::internal::GetCapturedStdout();

    EXPECT_EQ(console, "\n\tHypsometric dynamic scale:\n\t\tMin = 2000000\n\t\tMax = 2500000 " + unit_menu +
                           "\n\tFloat Hypsometric dynamic scale:\n\t\tMin = 20000.000000\n\t\tMax = 25000.000000 ");
    EXPECT_EQ(read_file(nomdescr2), text_file("3\n4\n4\n2000000\n2500000\n25\n"));
    EXPECT_EQ(f2, nullptr);
    EXPECT_EQ(f2d, nullptr);
    EXPECT_EQ(dyn_scale_dem2, 2);
    EXPECT_EQ(dtab_dem2[1][3], 25000.0);
    EXPECT_EQ(dtab_dem2[2][3], 20000.0);
}

TEST_F(RasterReader, ADescriptorThatCannotBeCompletedIsAWarning)
{
    first_grid(1, 2, 0, little_endian({7, 8}, 2));
    descr_dem1_OK = 0;
    f1d = std::fopen("/dev/full", "w");
    if (f1d == nullptr)
        GTEST_SKIP() << "no /dev/full here";
    answer("0\n");
    const std::string console = run_first();
    EXPECT_NE(console.find("Warning: the descriptor " + nomdescr1 + " could not be completed"), std::string::npos)
        << console;
    EXPECT_EQ(f1d, nullptr);
    EXPECT_EQ(dtab_dem1[0][1], 8.0);
}

TEST_F(RasterReader, AShortSampleFileStopsTheRun)
{
    const std::string console = folder + "/console";
    first_grid(3, 4, 1, little_endian({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 4));
    EXPECT_EXIT(
        {
            std::freopen(console.c_str(), "w", stdout);
            std::freopen(e2e::NULL_DEVICE, "r", stdin);
            dem1_lecture();
            std::exit(0);
        },
        ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(console_text(read_file(console)), "\n\tThe file " + nomim1 + " holds 40 bytes; 3 lines of 4 columns need 48.\n");
}

}  // namespace
