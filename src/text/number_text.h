// Numbers as text, fast and exact: readers that take a word exactly as "%d" and "%lf"
// read it, and a writer that prints a double exactly as "%lf" prints it.
#ifndef ORMELIX_NUMBER_TEXT_H
#define ORMELIX_NUMBER_TEXT_H

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

// The white space of formatted input: blank, tab, line feed, vertical tab, form feed,
// carriage return.
inline bool is_white(int c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// True when [first, last) is a whole word that "%d" reads entirely: an optional sign
// and digits, a number that fits 32 bits. False otherwise; *value is then unchanged.
bool parse_whole_word(const char *first, const char *last, int32_t *value);
inline bool parse_whole_number(const std::string &word, int32_t *value)
{
    return parse_whole_word(word.data(), word.data() + word.size(), value);
}

// True when [first, last) is a whole word that "%lf" reads entirely (leading sign,
// decimal or hexadecimal forms, exponents, inf, infinity, nan, nan(...)), with the
// double "%lf" would store in *value. False otherwise; *value is then unchanged.
bool parse_real_word(const char *first, const char *last, double *value);

// The most characters format_fixed6 writes (-DBL_MAX has 309 digits before the point).
constexpr size_t FIXED6_MAX_CHARS = 320;

// Writes value as printf("%lf") prints it (fixed point, six decimals; nan, -nan,
// inf, -inf as printf spells them) and returns the end of what was written.
// out must have room for FIXED6_MAX_CHARS characters; no terminator is written.
char *format_fixed6(char *out, double value);

// The most characters format_exact_real writes (the fixed form of the smallest
// subnormal double has 324 digits after the point).
constexpr size_t EXACT_REAL_MAX_CHARS = 330;

// Writes value as format_fixed6 does when that text reads back to the same double,
// and otherwise as the shortest fixed-point text that does (never an exponent): a
// georeference such as 0.008333333333 keeps every digit. Returns the end of what was
// written; out must have room for EXACT_REAL_MAX_CHARS characters.
char *format_exact_real(char *out, double value);
// The same as a string.
std::string exact_real_text(double value);

// The C library's formatting as the program uses it (%zu, %lf): on Windows the MinGW
// runtime's own, which has them, rather than the system's.
#if defined(__MINGW32__)
#define ORMELIX_PRINTF gnu_printf
#else
#define ORMELIX_PRINTF printf
#endif
// The text printf would print.
std::string text_printf(const char *format, ...) __attribute__((format(ORMELIX_PRINTF, 1, 2)));
// The same with the arguments of a variadic caller.
std::string text_vprintf(const char *format, va_list args) __attribute__((format(ORMELIX_PRINTF, 1, 0)));

#endif
