#include "text/number_text.h"

#include <cstdarg>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Every power of ten up to 1e22 is a double exactly, so one IEEE multiplication or
// division by it rounds a mantissa of at most 53 bits correctly.
const double exact_powers_of_ten[] = {
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The reference reader: the C library's own, on a terminated copy of the word.
bool parse_with_strtod(const char *first, const char *last, double *value)
{
    if (is_white(static_cast<unsigned char>(*first)))
        return false;
    std::string word(first, last);
    char *end = nullptr;
    double parsed = std::strtod(word.c_str(), &end);
    if (end != word.c_str() + word.size())
        return false;
    *value = parsed;
    return true;
}

bool is_digit(char c)
{
    return static_cast<unsigned char>(c - '0') < 10;
}

const char two_digits[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

char *write_two_digits(char *out, unsigned pair)
{
    std::memcpy(out, two_digits + 2 * pair, 2);
    return out + 2;
}

// Writes value in decimal without leading zeros.
char *write_unsigned(char *out, uint64_t value)
{
    if (value < 10) {
        *out = static_cast<char>('0' + value);
        return out + 1;
    }
    size_t length = 2;
    for (uint64_t bound = 100; length < 20 && value >= bound; bound *= 10)
        ++length;
    char *end = out + length;
    char *p = end;
    while (value >= 100) {
        p -= 2;
        write_two_digits(p, static_cast<unsigned>(value % 100));
        value /= 100;
    }
    if (value >= 10) {
        p -= 2;
        write_two_digits(p, static_cast<unsigned>(value));
    } else {
        *--p = static_cast<char>('0' + value);
    }
    return end;
}

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "digits are stored low byte first");

// The eight decimal digits of value < 10^8 as characters, the first digit in the lowest
// byte: all digits at once in the lanes of one integer, without a loop.
uint64_t eight_digits(uint32_t value)
{
    uint64_t lanes = (value / 10000) | (static_cast<uint64_t>(value % 10000) << 32);
    const uint64_t hundreds = ((lanes * 10486) >> 20) & 0x0000007F0000007FULL;
    lanes = hundreds | ((lanes - hundreds * 100) << 16);
    const uint64_t tens = ((lanes * 103) >> 10) & 0x000F000F000F000FULL;
    lanes = tens | ((lanes - tens * 10) << 8);
    return lanes + 0x3030303030303030ULL;
}

// |value| * 10^6 rounded half to even, as printf rounds the exact value, for a value
// below 2^44 given by the fraction and biased exponent of its bits.
uint64_t exact_millionths(uint64_t fraction, unsigned biased_exponent)
{
    // value = mantissa / 2^shift exactly, shift >= 9 here.
    uint64_t mantissa;
    unsigned shift;
    if (biased_exponent == 0) {
        mantissa = fraction;
        shift = 1074;
    } else {
        mantissa = fraction | (uint64_t(1) << 52);
        shift = 1075 - biased_exponent;
    }
    uint64_t millionths = 0;
    if (shift < 75) {
        using u128 = unsigned __int128;
        const u128 scaled = static_cast<u128>(mantissa) * 1000000u;
        millionths = static_cast<uint64_t>(scaled >> shift);
        const u128 remainder = scaled & ((static_cast<u128>(1) << shift) - 1);
        const u128 half = static_cast<u128>(1) << (shift - 1);
        if (remainder > half || (remainder == half && (millionths & 1) != 0))
            ++millionths;
    }
    // From shift 75 on, value * 10^6 < 2^73 / 2^75 is below one half.
    return millionths;
}

} // namespace

bool parse_real_word(const char *first, const char *last, double *value)
{
    if (first == last)
        return false;
    const char *p = first;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    const char *number = p;

    // [digits][.digits][(e|E)[sign]digits], with the digits gathered into one integer
    // while they fit; anything else (hex, inf, nan, stray characters) is left to strtod.
    uint64_t mantissa = 0;
    const char *point = nullptr;
    for (; p != last; ++p) {
        const unsigned digit = static_cast<unsigned char>(*p) - unsigned('0');
        if (digit < 10)
            mantissa = mantissa * 10 + digit;
        else if (*p == '.' && point == nullptr)
            point = p;
        else
            break;
    }
    const ptrdiff_t digit_count = (p - number) - (point != nullptr ? 1 : 0);
    const int fraction_digits = point != nullptr ? static_cast<int>(p - point - 1) : 0;
    if (digit_count == 0)
        return parse_with_strtod(first, last, value);
    int exponent = 0;
    if (p != last) {
        if (*p != 'e' && *p != 'E')
            return parse_with_strtod(first, last, value);
        ++p;
        bool exponent_negative = false;
        if (p != last && (*p == '+' || *p == '-')) {
            exponent_negative = *p == '-';
            ++p;
        }
        if (p == last || !is_digit(*p))
            return parse_with_strtod(first, last, value);
        for (; p != last && is_digit(*p); ++p)
            if (exponent < 100000)
                exponent = exponent * 10 + (*p - '0');
        if (p != last)
            return parse_with_strtod(first, last, value);
        if (exponent_negative)
            exponent = -exponent;
    }

    // Exact operands and one rounding (in the default round-to-nearest mode) give the
    // correctly rounded double, as strtod does.
    exponent -= fraction_digits;
    if (digit_count <= 19 && mantissa <= (uint64_t(1) << 53) &&
        exponent >= -22 && exponent <= 22) {
        double result = static_cast<double>(mantissa);
        if (exponent < 0)
            result /= exact_powers_of_ten[-exponent];
        else
            result *= exact_powers_of_ten[exponent];
        *value = negative ? -result : result;
        return true;
    }

    // A well-formed decimal beyond the exact shortcut: from_chars rounds it correctly;
    // results it calls out of range (overflow, underflow) are strtod's to settle.
    double result = 0;
    std::from_chars_result read = std::from_chars(number, last, result);
    if (read.ec == std::errc() && read.ptr == last) {
        *value = negative ? -result : result;
        return true;
    }
    return parse_with_strtod(first, last, value);
}

char *format_fixed6(char *out, double value)
{
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const bool negative = (bits >> 63) != 0;
    const unsigned biased_exponent = static_cast<unsigned>(bits >> 52) & 0x7ff;
    const uint64_t fraction = bits & ((uint64_t(1) << 52) - 1);
    char *p = out;

    if (biased_exponent == 0x7ff) {
        if (negative)
            *p++ = '-';
        std::memcpy(p, fraction != 0 ? "nan" : "inf", 3);
        return p + 3;
    }
    // Below 2^44 the value times a million fits 64 bits; larger values are rare in
    // grids and go to the library's exact fixed-point writer.
    if (biased_exponent >= 1023 + 44)
        return std::to_chars(out, out + FIXED6_MAX_CHARS, value, std::chars_format::fixed, 6)
            .ptr;

    // Most grid values go by double arithmetic: below 2^31 the product with 10^6 is
    // within half a unit in its last place of the exact one, so unless it lies that
    // close to a half, both round to the same number of millionths.
    uint64_t millionths = 0;
    bool rounded = false;
    if (biased_exponent < 1023 + 31) {
        const double product = std::fabs(value) * 1e6;
        const uint64_t whole_part = static_cast<uint64_t>(product);
        const double from_half = product - static_cast<double>(whole_part) - 0.5;
        if (std::fabs(from_half) > product * 0x1p-52 + 0x1p-1074) {
            millionths = whole_part + (from_half > 0);
            rounded = true;
        }
    }
    if (!rounded)
        millionths = exact_millionths(fraction, biased_exponent);

    *p = '-';
    p += negative;
    const uint64_t whole = millionths / 1000000;
    const unsigned decimals = static_cast<unsigned>(millionths - whole * 1000000);
    if (whole < 100000000) {
        // Grid values: the whole digits go out as one eight-byte store (its spare bytes
        // are overwritten by the decimals), the point and the decimals as one more.
        const unsigned length = 1 + (whole >= 10) + (whole >= 100) + (whole >= 1000) +
                                (whole >= 10000) + (whole >= 100000) + (whole >= 1000000) +
                                (whole >= 10000000);
        const uint64_t whole_text = eight_digits(static_cast<uint32_t>(whole)) >> (64 - 8 * length);
        std::memcpy(p, &whole_text, 8);
        p += length;
        const uint64_t decimals_text = '.' | (eight_digits(decimals) >> 16 << 8);
        std::memcpy(p, &decimals_text, 7);
        return p + 7;
    }
    p = write_unsigned(p, whole);
    *p++ = '.';
    p = write_two_digits(p, decimals / 10000);
    p = write_two_digits(p, decimals / 100 % 100);
    return write_two_digits(p, decimals % 100);
}

bool parse_whole_word(const char *first, const char *last, int32_t *value)
{
    bool negative = false;
    if (first < last && (*first == '+' || *first == '-')) {
        negative = *first == '-';
        first++;
    }
    if (first == last)
        return false;
    const int64_t limit = negative ? int64_t{2147483648} : int64_t{2147483647};
    int64_t magnitude = 0;
    for (; first < last; first++) {
        if (!is_digit(*first))
            return false;
        magnitude = magnitude * 10 + (*first - '0');
        if (magnitude > limit)
            return false;
    }
    *value = static_cast<int32_t>(negative ? -magnitude : magnitude);
    return true;
}

std::string text_vprintf(const char *format, va_list args)
{
    va_list again;
    va_copy(again, args);
    const int size = std::vsnprintf(nullptr, 0, format, again);
    va_end(again);
    std::string text(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    if (size > 0)
        std::vsnprintf(&text[0], text.size() + 1, format, args);
    return text;
}

std::string text_printf(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = text_vprintf(format, args);
    va_end(args);
    return text;
}

char *format_exact_real(char *out, double value)
{
    char *end = format_fixed6(out, value);
    double back;
    // NaN never reads back equal; printf's spelling of it stays.
    if (value != value || (parse_real_word(out, end, &back) && back == value))
        return end;
    return std::to_chars(out, out + EXACT_REAL_MAX_CHARS, value, std::chars_format::fixed).ptr;
}

std::string exact_real_text(double value)
{
    std::string text(EXACT_REAL_MAX_CHARS, '\0');
    text.resize(static_cast<size_t>(format_exact_real(&text[0], value) - text.data()));
    return text;
}
