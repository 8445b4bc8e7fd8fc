// The raster output writer on real output files, with the unit answers on standard input.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "nrutil.h"
#include "globals/globals.h"
#include "treatment/raster_writer.h"
#include "platform/platform.h"
#include "e2e_support.h"

namespace {

using namespace e2e;

const std::string unit_menu =
    "\n\n\tIn the resulting raster file, the dynamic scale will be : "
    "\n\t\t0 ====> in meters"
    "\n\t\t1 ====> in decimeters\n\t\t2 ====> in centimeters"
    "\n\t\t3 ====> in millimeters\n\t\t";

const std::string notes_head =
    "\n\tProcessing applied to : \n\t\t    c:\\images\\site\\north_m2.raw "
    "\n\t\tand c:\\images\\site\\south.asc ";

class RasterWriter : public ::testing::Test {
protected:
    std::string folder;
    std::string samples_path, descriptor_path;

    void SetUp() override
    {
        folder = scratch_folder("raster-writer");
        nomim1 = "c:\\images\\site\\north_m2.raw";
        nomim2 = "c:\\images\\site\\south.asc";
        type_treat = 0;
        basis = 1;
        hypso = 0.0;
        pix_size2 = 25;
        dtab_out = nullptr;
    }

    void TearDown() override
    {
        if (dtab_out != nullptr) frdmatrice(dtab_out, nb_lig);
        dtab_out = nullptr;
        std::freopen(NULL_DEVICE, "r", stdin);
        remove_tree(folder);
    }

    void answer(const std::string &answers)
    {
        write_file(folder + "/answers", answers);
        ASSERT_NE(std::freopen((folder + "/answers").c_str(), "r", stdin), nullptr);
    }

    // The result grid and the output pair as the dialogue and the difference leave them.
    void result(int32_t lines, int32_t columns, int32_t itype, const std::vector<double> &values)
    {
        nb_lig = lines;
        nb_col = columns;
        itype_dem_out = itype;
        dtab_out = dmatrice(columns, lines);
        for (int32_t i = 0; i < lines; ++i)
            for (int32_t j = 0; j < columns; ++j)
                dtab_out[i][j] = values.empty() ? 0.0 : values[static_cast<size_t>(i * columns + j)];
        const std::string stem = folder + "/diff_val_abs";
        samples_path = stem + (itype == 1 ? "_m4.raw" : "_m2.raw");
        descriptor_path = stem + (itype == 1 ? "_m4.txt" : "_m2.txt");
        f3 = output_create(samples_path, "wb");
        f3d = output_create(descriptor_path, "w");
        ASSERT_NE(f3, nullptr);
        ASSERT_NE(f3d, nullptr);
        std::fprintf(f3d, "%d\n%d\n%d\n", lines, columns, itype == 1 ? 4 : 2);
    }

    std::string write(double d_min, double d_max)
    {
        testing::internal::CaptureStdout();
        raster_output(d_min, d_max);
        std::string console = testing::internal::GetCapturedStdout();
        std::string failed;
        EXPECT_TRUE(output_commit_all(&failed)) << failed;
        return console;
    }
};

TEST_F(RasterWriter, CentimetresTruncateAndTheDescriptorIsCompleted)
{
    result(2, 3, 0, {0.0, 0.29, 1.2345, 12.34, 0.5, 5.0});
    answer("4\n-2\n2\n");
    const std::string console = write(0.0, 12.34);

    EXPECT_EQ(console, "\n\tHypsometric dynamic scale out :\n\t\tMin = 0.000000\n\t\tMax = 12.340000 " + unit_menu +
                           unit_menu + unit_menu);
    EXPECT_EQ(coef_out, 100.0);
    EXPECT_EQ(read_file(samples_path), little_endian({0, 28, 123, 1234, 50, 500}, 2));
    EXPECT_EQ(read_file(descriptor_path), text_file("2\n3\n2\n0\n1234\n25\n" + notes_head + "\n\tby using absolute values"));
    EXPECT_EQ(f3, nullptr);
    EXPECT_EQ(f3d, nullptr);
}

TEST_F(RasterWriter, AUnitTheSamplesCannotHoldIsRefused)
{
    type_treat = 2;
    basis = 0;
    hypso = 0.5;
    result(1, 2, 0, {70.0, 0.0});
    answer("3\n2\n");
    const std::string console = write(0.0, 70.0);

    EXPECT_EQ(occurrences(console, unit_menu), 2u);
    EXPECT_NE(console.find("In millimeters the largest result, 70.000000 m, gives 70000"), std::string::npos)
        << console;
    EXPECT_EQ(coef_out, 100.0);
    EXPECT_EQ(read_file(samples_path), little_endian({7000, 0}, 2));
    EXPECT_EQ(read_file(descriptor_path), text_file("1\n2\n2\n0\n7000\n25\n" + notes_head +
                                                    "\n\tby using positive values"
                                                    "\n\tand eliminating pixels whose altitude is lower than 0.50 m "));
}

TEST_F(RasterWriter, ThirtyTwoBitSamplesHoldMillimetres)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    result(2, 3, 1, {70.0, 0.001, nan, 1.0, 0.0, 2.5});
    answer("3\n");
    const std::string console = write(0.0, 70.0);

    EXPECT_EQ(occurrences(console, unit_menu), 1u);
    const std::string bytes = read_file(samples_path);
    EXPECT_EQ(bytes.size(), 24u);
    EXPECT_EQ(bytes, little_endian({70000, 1, 0, 1000, 0, 2500}, 4));
    EXPECT_EQ(read_file(descriptor_path), text_file("2\n3\n4\n0\n70000\n25\n" + notes_head + "\n\tby using absolute values"));
}

TEST_F(RasterWriter, WhenEvenMetresOverflowValuesSaturate)
{
    result(1, 3, 0, {70000.0, 65535.5, 12.0});
    answer("3\n");
    const std::string console = write(12.0, 70000.0);

    EXPECT_EQ(occurrences(console, unit_menu), 1u);
    EXPECT_NE(console.find("Warning: 2 values do not fit the 16-bit samples"), std::string::npos) << console;
    EXPECT_EQ(read_file(samples_path), little_endian({65535, 65535, 12000}, 2));
    // The descriptor keeps the range in the unit, beyond the samples.
    EXPECT_EQ(read_file(descriptor_path), text_file("1\n3\n2\n12000\n70000000\n25\n" + notes_head + "\n\tby using absolute values"));
}

TEST_F(RasterWriter, AFailedLineWriteStopsTheRun)
{
#ifdef _WIN32
    GTEST_SKIP() << "a file size limit is POSIX's";
#else
    const std::string console = folder + "/console";
    const std::string answers = folder + "/answers";
    write_file(answers, "0\n");
    EXPECT_EXIT(
        {
            std::freopen(console.c_str(), "w", stdout);
            std::freopen(answers.c_str(), "r", stdin);
            std::signal(SIGXFSZ, SIG_IGN);
            struct rlimit limit;
            limit.rlim_cur = limit.rlim_max = 65536;
            setrlimit(RLIMIT_FSIZE, &limit);
            result(4, 20000, 0, {});
            raster_output(0.0, 0.0);
            std::exit(0);
        },
        ::testing::ExitedWithCode(1), "");
    EXPECT_NE(read_file(console).find("\n\tThe file " + folder + "/diff_val_abs_m2.raw could not be written: "),
              std::string::npos)
        << read_file(console);
    // Nothing half-written stays behind.
    for (const std::string &name : e2e::list_folder(folder))
        EXPECT_EQ(name.find("diff_val_abs"), std::string::npos) << name;
#endif
}

}  // namespace
