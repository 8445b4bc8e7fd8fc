// Numbers as text, fast and exact: a reader that takes a word exactly as "%lf"
// reads it, and a writer that prints a double exactly as "%lf" prints it.
#ifndef ORMELIX_NUMBER_TEXT_H
#define ORMELIX_NUMBER_TEXT_H

#include <cstddef>

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

#endif
