// Answers: words as formatted input reads them, and which words are numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "console/console.h"
#include "text/number_text.h"
#include "ormelix/opening.h"

namespace {

std::vector<std::string> words_of(const std::string &text)
{
    FILE *in = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
    std::vector<std::string> words;
    std::string word;
    while (read_word(in, &word))
        words.push_back(word);
    std::fclose(in);
    return words;
}

TEST(Console, AnswersAreWhiteSpaceSeparatedWords)
{
    EXPECT_EQ(words_of("site\r\n  north\t0\n\n1.5"),
              (std::vector<std::string>{"site", "north", "0", "1.5"}));
    EXPECT_EQ(words_of("   \n\t"), std::vector<std::string>{});
    // No length limit on a word.
    std::string long_word(10000, 'x');
    EXPECT_EQ(words_of(long_word + "\n"), std::vector<std::string>{long_word});
}

TEST(Console, WholeNumbersAreWhatPercentDReadsWhole)
{
    int32_t v = 99;
    EXPECT_TRUE(parse_whole_number("0", &v));
    EXPECT_EQ(v, 0);
    EXPECT_TRUE(parse_whole_number("+7", &v));
    EXPECT_EQ(v, 7);
    EXPECT_TRUE(parse_whole_number("-2", &v));
    EXPECT_EQ(v, -2);
    EXPECT_TRUE(parse_whole_number("2147483647", &v));
    EXPECT_EQ(v, 2147483647);
    EXPECT_TRUE(parse_whole_number("-2147483648", &v));
    EXPECT_EQ(v, -2147483647 - 1);
    v = 5;
    for (const char *bad : {"", "+", "-", "abc", "1.5", "2x", "1e3", "0x10", "2147483648",
                            "-2147483649", "99999999999999999999", "--1", " 1"}) {
        EXPECT_FALSE(parse_whole_number(bad, &v)) << bad;
        EXPECT_EQ(v, 5) << bad;
    }
}

TEST(Console, RealsAreWhatPercentLfReadsWhole)
{
    double v = 0;
    EXPECT_TRUE(parse_real_number("0.5", &v));
    EXPECT_EQ(v, 0.5);
    EXPECT_TRUE(parse_real_number("-5e-1", &v));
    EXPECT_EQ(v, -0.5);
    EXPECT_TRUE(parse_real_number("512000", &v));
    EXPECT_EQ(v, 512000.0);
    EXPECT_TRUE(parse_real_number("inf", &v));
    EXPECT_TRUE(std::isinf(v));
    EXPECT_TRUE(parse_real_number("nan", &v));
    EXPECT_TRUE(std::isnan(v));
    for (const char *bad : {"", "abc", "2x", "1.5.2", "1e", "."})
        EXPECT_FALSE(parse_real_number(bad, &v)) << bad;
}

TEST(Console, NamesMustStayInsideTheRootFolder)
{
    for (const char *good : {"site", "site\\2024", "a..b", "north_m2", "x.y"})
        EXPECT_TRUE(name_stays_inside(good)) << good;
    for (const char *bad : {"..", "..\\other", "site\\..\\..\\x", "a/../b", "\\abs", "/etc",
                            "d:\\x", "c:", ""})
        EXPECT_FALSE(name_stays_inside(bad)) << bad;
}

TEST(Console, TextPrintfFormatsLikePrintf)
{
    EXPECT_EQ(text_printf("%s=%d %lf", "a", 3, 0.5), "a=3 0.500000");
    std::string long_text(5000, 'y');
    EXPECT_EQ(text_printf("[%s]", long_text.c_str()), "[" + long_text + "]");
}

} // namespace
