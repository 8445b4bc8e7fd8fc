// The drive root, and output files that appear only when complete.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "e2e_support.h"
#include "platform/platform.h"

namespace {

#ifndef _WIN32
TEST(Platform, TheDriveRootIsTheStartingFolder)
{
    EXPECT_EQ(local_path("c:\\images\\site\\north_m2.raw"), "images/site/north_m2.raw");
    EXPECT_EQ(local_path("C:\\images\\site\\north.asc"), "images/site/north.asc");
    EXPECT_EQ(local_path("images\\a"), "images/a");
}
#endif

class OutputFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = e2e::make_root();
        saved = std::filesystem::current_path();
        std::filesystem::current_path(root + "/");
    }
    void TearDown() override
    {
        output_discard_all();
        std::filesystem::current_path(saved);
        e2e::remove_root(root);
    }
    std::vector<std::string> files() { return e2e::list_folder("images/site"); }

    std::string root;
    std::filesystem::path saved;
};

TEST_F(OutputFiles, AppearOnlyWhenCommitted)
{
    e2e::write_file("images/site/out.asc", "earlier");
    FILE *fp = output_create("c:\\images\\site\\out.asc", "w");
    ASSERT_NE(fp, nullptr);
    EXPECT_EQ(output_name(fp), "c:\\images\\site\\out.asc");
    std::fputs("new content", fp);
    ASSERT_TRUE(output_close(fp));
    // Closed but not committed: the earlier file is still there.
    EXPECT_EQ(e2e::read_file("images/site/out.asc"), "earlier");
    EXPECT_EQ(files().size(), 2u);
    std::string failed;
    ASSERT_TRUE(output_commit_all(&failed));
    EXPECT_EQ(e2e::read_file("images/site/out.asc"), "new content");
    EXPECT_EQ(files(), std::vector<std::string>{"out.asc"});
}

TEST_F(OutputFiles, DiscardLeavesNothingAndKeepsTheEarlierFile)
{
    e2e::write_file("images/site/out_m2.raw", "earlier");
    FILE *a = output_create("c:\\images\\site\\out_m2.raw", "wb");
    FILE *b = output_create("c:\\images\\site\\out_m2.txt", "w");
    ASSERT_TRUE(a && b);
    std::fputs("half", a);
    ASSERT_TRUE(output_close(a));
    output_discard_all();
    EXPECT_EQ(files(), std::vector<std::string>{"out_m2.raw"});
    EXPECT_EQ(e2e::read_file("images/site/out_m2.raw"), "earlier");
}

TEST_F(OutputFiles, AFolderThatDoesNotExistCannotHoldAnOutput)
{
    EXPECT_EQ(output_create("c:\\images\\nowhere\\out.asc", "w"), nullptr);
}

TEST_F(OutputFiles, SameFileSeesThroughSpellings)
{
    e2e::write_file("images/site/north.asc", "x");
    EXPECT_TRUE(same_file("c:\\images\\site\\north.asc", "c:\\images\\site\\north.asc"));
    EXPECT_TRUE(same_file("c:\\images\\site\\north.asc", "c:\\images\\site\\.\\north.asc"));
    EXPECT_FALSE(same_file("c:\\images\\site\\north.asc", "c:\\images\\site\\south.asc"));
    // Names differing only in case are one file on Windows: an output so named would
    // overwrite its input.
#ifdef _WIN32
    EXPECT_TRUE(same_file("c:\\images\\site\\north.asc", "C:\\IMAGES\\Site\\NORTH.asc"));
#else
    EXPECT_FALSE(same_file("c:\\images\\site\\north.asc", "C:\\IMAGES\\Site\\NORTH.asc"));
#endif
}

TEST_F(OutputFiles, NamesOutsideAsciiOpenAndArePutInPlace)
{
    // Answers come as UTF-8 from a script; the folder and the file are the ones the
    // user's system shows under these names.
    const std::string folder = "Höhe_2019";
    e2e::make_folder("images/" + folder);
    e2e::write_file("images/" + folder + "/éboulement.asc", "ncols 1\n");
    FILE *in = open_program_file("c:\\images\\" + folder + "\\éboulement.asc", "r");
    ASSERT_NE(in, nullptr);
    std::fclose(in);
#ifdef _WIN32
    // Not UTF-8: the bytes of the system's code page, as a script written with it has them.
    if (GetACP() == 1252) {
        in = open_program_file("c:\\images\\H\xf6he_2019\\\xe9" "boulement.asc", "r");
        ASSERT_NE(in, nullptr);
        std::fclose(in);
    }
#endif
    FILE *out = output_create("c:\\images\\" + folder + "\\diff_val_abs.asc", "w");
    ASSERT_NE(out, nullptr);
    ASSERT_TRUE(output_close(out));
    std::string failed;
    ASSERT_TRUE(output_commit_all(&failed));
    EXPECT_EQ(e2e::list_folder("images/" + folder),
              (std::vector<std::string>{"diff_val_abs.asc", "éboulement.asc"}));
}

} // namespace
