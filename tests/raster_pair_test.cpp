// The raster pair's byte layout, its descriptor and the unit arithmetic.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "gridfiles/raster_pair.h"
#include "gridfiles/raster_reader.h"
#include "treatment/difference_kinds.h"
#include "platform/platform.h"

namespace {

// A stream over bytes, read back whole after writing.
struct scratch_file {
    FILE *fp = std::tmpfile();
    ~scratch_file() { std::fclose(fp); }
    std::string bytes()
    {
        std::fflush(fp);
        std::rewind(fp);
        std::string all;
        for (int c = std::getc(fp); c != EOF; c = std::getc(fp)) all.push_back(static_cast<char>(c));
        return all;
    }
    void put(const std::string &text)
    {
        std::fwrite(text.data(), 1, text.size(), fp);
        std::rewind(fp);
    }
};

// One sample in metres, as the reader converts a line.
double convert_to_metres(int32_t sample, int32_t unit)
{
    double metres = 0.0;
    convert_line_to_metres(&sample, &metres, 1, unit);
    return metres;
}

// The range the reader takes while it reads a grid of 32-bit samples.
integer_range integer_range_of(int32_t *const *grid, int32_t lines, int32_t columns)
{
    scratch_file file;
    for (int32_t i = 0; i < lines; ++i) write_sample_line(file.fp, grid[i], static_cast<size_t>(columns));
    std::rewind(file.fp);
    std::vector<std::vector<int32_t>> read(static_cast<size_t>(lines), std::vector<int32_t>(columns));
    std::vector<int32_t *> rows;
    for (std::vector<int32_t> &line : read) rows.push_back(line.data());
    integer_range range = {0, 0};
    EXPECT_EQ(read_raster_samples(file.fp, 1, nullptr, rows.data(), lines, columns, &range), lines);
    return range;
}

// The range in metres the reader gives of whole metres.
metre_range metre_range_of(double *const *grid, int32_t lines, int32_t columns)
{
    std::vector<std::vector<int32_t>> samples(static_cast<size_t>(lines), std::vector<int32_t>(columns));
    std::vector<std::vector<double>> metres(static_cast<size_t>(lines), std::vector<double>(columns));
    std::vector<int32_t *> sample_rows;
    std::vector<double *> metre_rows;
    for (int32_t i = 0; i < lines; ++i) {
        for (int32_t j = 0; j < columns; ++j) samples[i][j] = static_cast<int32_t>(grid[i][j]);
        sample_rows.push_back(samples[i].data());
        metre_rows.push_back(metres[i].data());
    }
    return convert_grid_to_metres(sample_rows.data(), metre_rows.data(), lines, columns, 0);
}

descriptor_fields read_text(const std::string &text)
{
    scratch_file file;
    file.put(text);
    return read_descriptor(file.fp);
}

void expect_fields(const descriptor_fields &fields, int count, std::vector<int32_t> values)
{
    EXPECT_EQ(fields.count, count);
    for (int k = 0; k < 6; ++k) EXPECT_EQ(fields.value[k], values[static_cast<size_t>(k)]) << "field " << k + 1;
}

TEST(RasterPairNames, SuffixesAndWidthFollowTheSampleType)
{
    EXPECT_STREQ(raster_sample_suffix(0), "_m2.raw");
    EXPECT_STREQ(raster_descriptor_suffix(0), "_m2.txt");
    EXPECT_STREQ(raster_sample_suffix(1), "_m4.raw");
    EXPECT_STREQ(raster_descriptor_suffix(1), "_m4.txt");
    EXPECT_EQ(raster_bytes_per_sample(0), 2);
    EXPECT_EQ(raster_bytes_per_sample(1), 4);
}

TEST(RasterPairSamples, AreLittleEndianOnDisk)
{
    scratch_file m2, m4;
    const uint16_t short_line[] = {1000, 65535};
    const int32_t long_line[] = {1000, -1};
    ASSERT_TRUE(write_sample_line(m2.fp, short_line, 2));
    ASSERT_TRUE(write_sample_line(m4.fp, long_line, 2));
    EXPECT_EQ(m2.bytes(), std::string("\xE8\x03\xFF\xFF", 4));
    EXPECT_EQ(m4.bytes(), std::string("\xE8\x03\x00\x00\xFF\xFF\xFF\xFF", 8));
}

TEST(RasterPairSamples, ThreeLinesOfFourColumnsMake24Or48Bytes)
{
    EXPECT_EQ(sample_file_bytes(3, 4, 0), 24u);
    EXPECT_EQ(sample_file_bytes(3, 4, 1), 48u);
    // The largest frame still counts its bytes without wrapping.
    EXPECT_EQ(sample_file_bytes(2147483647, 2147483647, 1), 4ull * 2147483647ull * 2147483647ull);

    scratch_file m4;
    const int32_t line[4] = {1, 2, 3, 4};
    for (int i = 0; i < 3; ++i) write_sample_line(m4.fp, line, 4);
    std::fflush(m4.fp);
    unsigned long long size = 0;
    ASSERT_TRUE(open_file_size(m4.fp, &size));
    EXPECT_EQ(size, 48u);
}

TEST(RasterPairSamples, ReadBackAndWidenWithoutSign)
{
    scratch_file m2;
    m2.put(std::string("\xFF\xFF\xE8\x03\x00\x00", 6));
    uint16_t line[3] = {9, 9, 9};
    ASSERT_TRUE(read_sample_line(m2.fp, line, 3));
    int32_t wide[3];
    widen_samples(line, wide, 3);
    EXPECT_EQ(wide[0], 65535);
    EXPECT_EQ(wide[1], 1000);
    EXPECT_EQ(wide[2], 0);
    // The file is over: the next line is incomplete.
    EXPECT_FALSE(read_sample_line(m2.fp, line, 3));

    scratch_file m4;
    m4.put(std::string("\xFB\xFF\xFF\xFF\x80\x84\x1E\x00\x01", 9));
    int32_t samples[2];
    ASSERT_TRUE(read_sample_line(m4.fp, samples, 2));
    EXPECT_EQ(samples[0], -5);
    EXPECT_EQ(samples[1], 2000000);
    EXPECT_FALSE(read_sample_line(m4.fp, samples, 1));  // one stray byte is no sample
}

TEST(RasterPairDescriptor, ReadsSixLinesOneLineOrCrLf)
{
    expect_fields(read_text("5\n6\n2\n-12\n3400\n25\n"), 6, {5, 6, 2, -12, 3400, 25});
    expect_fields(read_text("5 6\t2  -12 3400 25"), 6, {5, 6, 2, -12, 3400, 25});
    expect_fields(read_text("5\r\n6\r\n2\r\n-12\r\n3400\r\n25\r\n"), 6, {5, 6, 2, -12, 3400, 25});
}

TEST(RasterPairDescriptor, MissingFieldsAreZero)
{
    expect_fields(read_text("5\n6\n2\n"), 3, {5, 6, 2, 0, 0, 0});
    expect_fields(read_text(""), 0, {0, 0, 0, 0, 0, 0});
    expect_fields(read_text("5\n6\nabc\n1\n2\n3\n"), 2, {5, 6, 0, 0, 0, 0});
    expect_fields(read_text("5\n6x\n7\n"), 2, {5, 6, 0, 0, 0, 0});
    expect_fields(read_text("5\n-\n7\n"), 1, {5, 0, 0, 0, 0, 0});
}

TEST(RasterPairDescriptor, NumbersBeyond32BitsStopTheReading)
{
    expect_fields(read_text("2147483647 -2147483648 +7"), 3, {2147483647, -2147483648LL, 7, 0, 0, 0});
    expect_fields(read_text("4 2147483648 7"), 1, {4, 0, 0, 0, 0, 0});
    expect_fields(read_text("4 -99999999999999999999999 7"), 1, {4, 0, 0, 0, 0, 0});
}

TEST(RasterPairDescriptor, OutputDescriptorOfTheExample)
{
    scratch_file file;
    ASSERT_TRUE(write_descriptor_head(file.fp, 2, 3, 2));
    ASSERT_TRUE(write_descriptor_tail(file.fp, 0, 1234, 25));
    const std::string notes =
        processing_notes("c:\\images\\site\\north_m2.raw", "c:\\images\\site\\south.asc",
                         difference_kind_name(0), 1, 0.0);
    std::fputs(notes.c_str(), file.fp);
    const std::string expected =
        "2\n3\n2\n0\n1234\n25\n"
        "\n\tProcessing applied to : \n\t\t    c:\\images\\site\\north_m2.raw "
        "\n\t\tand c:\\images\\site\\south.asc "
        "\n\tby using absolute values";
    EXPECT_EQ(file.bytes(), expected);

    // An output pair reads as an input pair: the notes do not disturb the six numbers.
    std::rewind(file.fp);
    expect_fields(read_descriptor(file.fp), 6, {2, 3, 2, 0, 1234, 25});
}

TEST(RasterPairDescriptor, NotesNameTheKindAndTheLimit)
{
    const std::string head = "\n\tProcessing applied to : \n\t\t    a_m4.raw \n\t\tand b_m4.raw ";
    EXPECT_EQ(processing_notes("a_m4.raw", "b_m4.raw", difference_kind_name(1), 1, 0.0), head + "\n\tby using negative values");
    EXPECT_EQ(processing_notes("a_m4.raw", "b_m4.raw", difference_kind_name(3), 1, 0.0), head + "\n\tby using signed values");
    EXPECT_EQ(processing_notes("a_m4.raw", "b_m4.raw", difference_kind_name(2), 0, 0.5),
              head + "\n\tby using positive values"
                     "\n\tand eliminating pixels whose altitude is lower than 0.50 m ");
    EXPECT_EQ(processing_notes("a_m4.raw", "b_m4.raw", difference_kind_name(0), 0, 1234.5),
              head + "\n\tby using absolute values"
                     "\n\tand eliminating pixels whose altitude is lower than 1234.50 m ");
}

TEST(RasterPairUnits, ConversionMultipliesByTheDecimalConstant)
{
    EXPECT_EQ(convert_to_metres(65535, 3), 65535 * 0.001);
    EXPECT_NEAR(convert_to_metres(65535, 3), 65.535, 1e-12);
    EXPECT_EQ(convert_to_metres(-5, 1), -0.5);
    EXPECT_EQ(convert_to_metres(1234, 2), 1234 * 0.01);
    EXPECT_EQ(convert_to_metres(-2147483647 - 1, 0), -2147483648.0);
    // Multiplying, not dividing: these differ in the last bit from 3 / 10 and the like.
    EXPECT_EQ(convert_to_metres(3, 1), 0.30000000000000004);
    EXPECT_EQ(convert_to_metres(35, 2), 0.35000000000000003);
    EXPECT_EQ(convert_to_metres(9, 3), 0.0090000000000000011);

    const int32_t line[] = {3, 35, -5};
    double metres[3];
    convert_line_to_metres(line, metres, 3, 2);
    EXPECT_EQ(metres[0], 0.03);
    EXPECT_EQ(metres[1], 0.35000000000000003);
    EXPECT_EQ(metres[2], -0.05);
}

TEST(RasterPairRanges, AreTheTrueExtremes)
{
    std::vector<int32_t> high = {2000000, 2000001, 2000000};
    std::vector<int32_t> low = {-5, -3, -7};
    int32_t *rows[] = {high.data(), low.data()};
    const integer_range both = integer_range_of(rows, 2, 3);
    EXPECT_EQ(both.min, -7);
    EXPECT_EQ(both.max, 2000001);
    EXPECT_EQ(integer_range_of(rows, 1, 3).min, 2000000);  // not a starting value of 1000000

    std::vector<double> huge = {2e8, 3e8};
    double *metres[] = {huge.data()};
    const metre_range m = metre_range_of(metres, 1, 2);
    EXPECT_EQ(m.min, 2e8);  // not a starting value of 1e8
    EXPECT_EQ(m.max, 3e8);
}

TEST(RasterPairScaling, NoDataIsZeroAndOverflowSaturates)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double results[] = {nan, 70.0, 65.5359, -0.0001, -3.0, inf, -inf};
    uint16_t short_samples[7];
    EXPECT_EQ(scale_line(results, 1000.0, short_samples, 7), 4u);
    const uint16_t short_expected[] = {0, 65535, 65535, 0, 0, 65535, 0};
    for (int j = 0; j < 7; ++j) EXPECT_EQ(short_samples[j], short_expected[j]) << j;

    const double big[] = {nan, 2147483647.9, 2147483648.0, -2147483648.5, -2147483649.0, inf, -inf};
    int32_t long_samples[7];
    EXPECT_EQ(scale_line(big, 1.0, long_samples, 7), 4u);
    const int32_t long_expected[] = {0, 2147483647, 2147483647, -2147483647 - 1, -2147483647 - 1,
                                     2147483647, -2147483647 - 1};
    for (int j = 0; j < 7; ++j) EXPECT_EQ(long_samples[j], long_expected[j]) << j;

    EXPECT_EQ(truncate_to_int32(25.7), 25);
    EXPECT_EQ(truncate_to_int32(-25.7), -25);
    EXPECT_EQ(truncate_to_int32(nan), 0);
    EXPECT_EQ(truncate_to_int32(1e10), 2147483647);
    EXPECT_EQ(truncate_to_int32(-inf), -2147483647 - 1);
}

TEST(RasterPairScaling, LargestResultFitsTheUnit)
{
    EXPECT_TRUE(largest_result_fits(65.535, 1000.0, 0));
    EXPECT_FALSE(largest_result_fits(70.0, 1000.0, 0));  // 70000 does not wrap any more
    EXPECT_TRUE(largest_result_fits(70.0, 1000.0, 1));
    EXPECT_TRUE(largest_result_fits(65535.99, 1.0, 0));
    EXPECT_FALSE(largest_result_fits(65536.0, 1.0, 0));
    EXPECT_TRUE(largest_result_fits(2147483647.99, 1.0, 1));
    EXPECT_FALSE(largest_result_fits(2147483648.0, 1.0, 1));
    EXPECT_FALSE(largest_result_fits(std::numeric_limits<double>::infinity(), 1.0, 1));
    EXPECT_TRUE(largest_result_fits(std::numeric_limits<double>::quiet_NaN(), 1000.0, 0));
    EXPECT_EQ(largest_sample(0), 65535);
    EXPECT_EQ(largest_sample(1), 2147483647);
    // Signed values: a fall of 3000 km overflows 32-bit millimetres, not centimetres.
    EXPECT_FALSE(smallest_result_fits(-3000000.0, 1000.0, 1));
    EXPECT_TRUE(smallest_result_fits(-3000000.0, 100.0, 1));
    EXPECT_TRUE(smallest_result_fits(-2147483648.99, 1.0, 1));
}

}  // namespace
