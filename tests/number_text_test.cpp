#include "text/number_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

// The checks against the C library cover over a million values each in optimised
// builds and fewer in debug builds, where the sanitizers make each one far slower.
#ifdef NDEBUG
const int FORMAT_ROUNDS = 120000; // nine values a round
const int PARSE_ROUNDS = 350000;  // three words a round, and some variants
#else
const int FORMAT_ROUNDS = 40000;
const int PARSE_ROUNDS = 100000;
#endif

// Formats value with format_fixed6, checking that nothing is written past the end.
std::string fixed6(double value)
{
    std::vector<char> buffer(FIXED6_MAX_CHARS, '#');
    char *end = format_fixed6(buffer.data(), value);
    EXPECT_TRUE(std::all_of(end, buffer.data() + buffer.size(), [](char c) { return c == '#'; }))
        << "written past the end for " << value;
    return std::string(buffer.data(), end);
}

// Prints value with a printf form; places feeds a "*" precision when not negative.
std::string printf_text(const char *form, int places, double value)
{
    int length = places >= 0 ? std::snprintf(nullptr, 0, form, places, value)
                             : std::snprintf(nullptr, 0, form, value);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    if (places >= 0)
        std::snprintf(&text[0], text.size(), form, places, value);
    else
        std::snprintf(&text[0], text.size(), form, value);
    text.resize(static_cast<size_t>(length));
    return text;
}

// Formats value with format_exact_real, checking that nothing is written past the end.
std::string exact_real(double value)
{
    std::vector<char> buffer(EXACT_REAL_MAX_CHARS, '#');
    char *end = format_exact_real(buffer.data(), value);
    EXPECT_TRUE(std::all_of(end, buffer.data() + buffer.size(), [](char c) { return c == '#'; }))
        << "written past the end for " << value;
    return std::string(buffer.data(), end);
}

uint64_t bits_of(double value)
{
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

double double_of(uint64_t bits)
{
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Parses word with parse_real_word; the word is copied to the heap without a
// terminator so that a read past its end shows under AddressSanitizer.
bool parse(const std::string &word, double *value)
{
    std::vector<char> copy(word.begin(), word.end());
    return parse_real_word(copy.data(), copy.data() + copy.size(), value);
}

// Expects parse_real_word to accept word exactly when strtod reads all of it, and then
// to give strtod's double to the bit (NaN signs and payloads, zero signs included).
void expect_same_as_strtod(const std::string &word)
{
    char *end = nullptr;
    const double expected = std::strtod(word.c_str(), &end);
    const bool whole = !word.empty() && end == word.c_str() + word.size() &&
                       !std::isspace(static_cast<unsigned char>(word[0]));
    double parsed = 12345.0;
    ASSERT_EQ(parse(word, &parsed), whole) << "word \"" << word << "\"";
    if (whole)
        ASSERT_EQ(bits_of(parsed), bits_of(expected)) << "word \"" << word << "\"";
    else
        ASSERT_EQ(parsed, 12345.0) << "rejected word \"" << word << "\" changed the value";
}

} // namespace

TEST(NumberTextFormat, WritesWhatPrintfWritesForChosenValues)
{
    EXPECT_EQ(fixed6(523.417), "523.417000");
    EXPECT_EQ(fixed6(-2.75), "-2.750000");
    EXPECT_EQ(fixed6(0.0), "0.000000");
    EXPECT_EQ(fixed6(-0.0), "-0.000000");
    EXPECT_EQ(fixed6(-1e-9), "-0.000000");
    EXPECT_EQ(fixed6(0.0078125), "0.007812");   // exact half: to even, down
    EXPECT_EQ(fixed6(0.0234375), "0.023438");   // exact half: to even, up
    EXPECT_EQ(fixed6(1.0000005), "1.000001");   // just above the half as a double
    EXPECT_EQ(fixed6(5e-7), "0.000000");        // just below the half as a double
    EXPECT_EQ(fixed6(999999.9999996), "1000000.000000");
    EXPECT_EQ(fixed6(1e22), "10000000000000000000000.000000");
    EXPECT_EQ(fixed6(std::numeric_limits<double>::infinity()), "inf");
    EXPECT_EQ(fixed6(-std::numeric_limits<double>::infinity()), "-inf");
    EXPECT_EQ(fixed6(std::nan("")), "nan");
    EXPECT_EQ(fixed6(-std::nan("")), "-nan");
    EXPECT_EQ(fixed6(-DBL_MAX).size(), 317u);

    const double chosen[] = {1e300, DBL_MAX, DBL_MIN, DBL_TRUE_MIN, -DBL_TRUE_MIN,
                             0x1p44, std::nextafter(0x1p44, 0.0), 0x1p53 + 2, 0x1p63, 0x1p64,
                             17592186044415.9999995, 0.5, 1.5, 2.5, 4294967296.5,
                             1e15 + 0.3, 123456789012.3456789, 9.9999995, 99999999.9999996,
                             99999999.4, 100000000.25, 1e7, 1234567.0000005, 0.000001,
                             std::nextafter(0x1p31, 0.0), 0x1p31, 2147483647.4999995,
                             std::nextafter(2147483647.4999995, 0.0)};
    for (double value : chosen) {
        EXPECT_EQ(fixed6(value), printf_text("%lf", -1, value)) << value;
        EXPECT_EQ(fixed6(-value), printf_text("%lf", -1, -value)) << -value;
    }
}

TEST(NumberTextFormat, WritesWhatPrintfWritesForRandomValues)
{
    std::mt19937_64 random(20240611);
    std::uniform_int_distribution<int> decimals(0, 8);
    std::uniform_int_distribution<int> exponents(-12, 16);
    std::uniform_int_distribution<int64_t> integers(-100000000, 100000000);
    for (int round = 0; round < FORMAT_ROUNDS; ++round) {
        // Any bit pattern; decimals of every size; the neighbours of exact halves of a
        // millionth; powers of ten; subnormals.
        const uint64_t bits = random();
        const double scale = std::pow(10.0, exponents(random));
        const double decimal = static_cast<double>(integers(random)) /
                               std::pow(10.0, decimals(random)) * scale / 1e4;
        const double near_half =
            static_cast<double>(integers(random)) * 1e-6 * std::pow(10.0, decimals(random) - 4) +
            5e-7;
        const double values[] = {double_of(bits),
                                 decimal,
                                 near_half,
                                 std::nextafter(near_half, 0.0),
                                 std::nextafter(near_half, 1e30),
                                 static_cast<double>(bits % 1000001) / 128.0,
                                 scale,
                                 double_of(bits >> 12),
                                 double_of(bits >> (bits % 64))};
        // A NaN keeps its sign, as GNU printf shows it, on every system (the printf of
        // Windows drops it).
        for (double value : values)
            ASSERT_EQ(fixed6(value), value != value ? (std::signbit(value) ? "-nan" : "nan")
                                                    : printf_text("%lf", -1, value))
                << std::hexfloat << value;
    }
}

TEST(NumberTextFormat, ExactRealsArePrintfTextWhenItReadsBackAndEveryDigitOtherwise)
{
    EXPECT_EQ(exact_real(512000.25), "512000.250000");
    EXPECT_EQ(exact_real(0.008333333333), "0.008333333333");
    EXPECT_EQ(exact_real(-2.5e-10), "-0.00000000025");
    EXPECT_EQ(exact_real(DBL_TRUE_MIN), "0." + std::string(323, '0') + "5");

    // Against the C library: the text reads back to the value, and it is "%lf" when
    // that reads back, otherwise "%.*f" with the fewest decimals that does.
    std::mt19937_64 random(8333);
    std::uniform_int_distribution<int> exponents(-12, 8);
    std::uniform_int_distribution<int64_t> integers(1, 100000000000000);
    for (int round = 0; round < FORMAT_ROUNDS / 12; ++round) {
        const uint64_t bits = random();
        const double values[] = {double_of(bits >> (bits % 64)),
                                 static_cast<double>(integers(random)) * std::pow(10.0, exponents(random)),
                                 std::nextafter(static_cast<double>(integers(random) % 1000000) / 1000, 0.0)};
        for (double value : values) {
            if (std::isnan(value))
                continue;
            const std::string text = exact_real(value);
            ASSERT_EQ(bits_of(std::strtod(text.c_str(), nullptr)), bits_of(value)) << text;
            const std::string printed = printf_text("%lf", -1, value);
            if (std::strtod(printed.c_str(), nullptr) == value) {
                ASSERT_EQ(text, printed);
                continue;
            }
            int low = 7, high = 1100;  // the fewest decimals that read back lie in [low, high]
            while (low < high) {
                const int middle = (low + high) / 2;
                if (std::strtod(printf_text("%.*f", middle, value).c_str(), nullptr) == value)
                    high = middle;
                else
                    low = middle + 1;
            }
            ASSERT_EQ(text, printf_text("%.*f", low, value)) << std::hexfloat << value;
        }
    }
}

TEST(NumberTextParse, AcceptsAndRejectsWordsAsStrtodReadsThem)
{
    double value = 0;
    ASSERT_TRUE(parse("523.417", &value));
    EXPECT_EQ(value, 523.417);
    ASSERT_TRUE(parse("+.5", &value));
    EXPECT_EQ(value, 0.5);
    ASSERT_TRUE(parse("5.", &value));
    EXPECT_EQ(value, 5.0);
    ASSERT_TRUE(parse("-1E+05", &value));
    EXPECT_EQ(value, -100000.0);
    ASSERT_TRUE(parse("0x1.8p3", &value));
    EXPECT_EQ(value, 12.0);
    ASSERT_TRUE(parse("-0", &value));
    EXPECT_TRUE(std::signbit(value));
    ASSERT_TRUE(parse("1e400", &value));
    EXPECT_EQ(value, std::numeric_limits<double>::infinity());
    ASSERT_TRUE(parse("-InFiNiTy", &value));
    EXPECT_EQ(value, -std::numeric_limits<double>::infinity());
    ASSERT_TRUE(parse("nan(42)", &value));
    EXPECT_TRUE(std::isnan(value));

    const char *rejected[] = {"", "+", "-", ".", "+.", "e5", "1e", "1e+", "1e-", "abc", "2x",
                              "1.5.2", " 1", "1 ", "\t1", "+-5", "-+5", "--5", "0x", "0x.p1",
                              "nan(", "nan(1", "infin", "in", "1,5", "1e5.0", "0x1p", "1d5"};
    for (const char *word : rejected) {
        value = 7.0;
        EXPECT_FALSE(parse(word, &value)) << word;
        EXPECT_EQ(value, 7.0) << word;
    }

    const char *words[] = {
        "0", "+0", "-0.0", "1", "-1", ".5", "-.5", "5.", "+5.", "1e5", "1E5", "1e+5",
        "1E-05", "1.5e3", ".5e1", "5.e1", "00012.3400", "9007199254740993",
        "9007199254740992.5", "123456789012345678901234567890", "0.1", "0.3",
        "2.2250738585072011e-308", "2.2250738585072014e-308", "4.9406564584124654e-324",
        "2.4703282292062327e-324", "2.4703282292062328e-324", "1.7976931348623157e308",
        "1.7976931348623158e308", "1.7976931348623159e308", "1e308", "1e309", "-1e400",
        "1e-400", "1e-320", "-1e-400", "0e999999999", "1e-99999999999", "1e99999999999",
        "1e22", "1e23", "9007199254740993e22", "0x1.8p3", "0X1P-1074", "0x1p-1080",
        "-0x.8p1", "0x1p+1024", "0x10", "0xABCp-4", "inf", "INF", "-Inf", "infinity",
        "+INFINITY", "nan", "NaN", "-nan", "nan()", "nan(123)", "NAN(0x1f)", "nan(abc_9)",
        "0.000000000000000000000000000000000000000000001",
        "1000000000000000000000000000000000000000000000.0"};
    for (const char *word : words)
        expect_same_as_strtod(word);
}

TEST(NumberTextParse, ReadsPrintedValuesAsStrtodDoes)
{
    std::mt19937_64 random(7031);
    std::uniform_int_distribution<int> decimals(0, 8);
    std::uniform_int_distribution<int64_t> integers(-10000000000, 10000000000);
    const char *forms[] = {"%.17g", "%e", "%f", "%a", "%.3f", "%.0f", "%.25e", "%.*f"};
    for (int round = 0; round < PARSE_ROUNDS; ++round) {
        const uint64_t bits = random();
        const int places = decimals(random);
        const double values[] = {double_of(bits),
                                 static_cast<double>(integers(random)) / std::pow(10.0, places),
                                 double_of(bits >> (bits % 64))};
        for (double value : values) {
            const char *form = forms[random() % (sizeof forms / sizeof forms[0])];
            const std::string word = std::strcmp(form, "%.*f") == 0
                                         ? printf_text(form, places, value)
                                         : printf_text(form, -1, value);
            expect_same_as_strtod(word);
            if (round % 8 == 0 && !word.empty() && word[0] != '-')
                expect_same_as_strtod("+" + word);
            if (round % 16 == 0)
                expect_same_as_strtod(word.substr(0, word.size() - 1));
        }
    }
}
