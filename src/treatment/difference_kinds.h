// The kinds of difference: their numbers in the dialogue's menu and the globals, and how
// each is named on the console, in the output's descriptor and report, on the command
// line and in the output's file name.
#ifndef ORMELIX_DIFFERENCE_KINDS_H
#define ORMELIX_DIFFERENCE_KINDS_H

#include <cstdint>
#include <string>

enum { TREAT_ABSOLUTE = 0, TREAT_NEGATIVE = 1, TREAT_POSITIVE = 2, TREAT_SIGNED = 3 };

struct difference_kind {
    const char *name;    // "absolute values", as the menu lists it
    const char *word;    // "absolute", the command line's --kind
    const char *suffix;  // "_val_abs", after the output's name
};
constexpr int32_t DIFFERENCE_KIND_COUNT = 4;
extern const difference_kind DIFFERENCE_KINDS[DIFFERENCE_KIND_COUNT];

// The name of a kind; "" for a number that is no kind.
const char *difference_kind_name(int32_t type_treat);
// Its suffix; "" for a number that is no kind.
const char *difference_kind_suffix(int32_t type_treat);
// The kind a command-line word names; false for none.
bool difference_kind_of_word(const std::string &word, int32_t *type_treat);

#endif
