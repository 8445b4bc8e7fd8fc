// What a run's outputs are, as its front door sets them before the run (the dialogue
// keeps these defaults; the command line's options change them).
#ifndef ORMELIX_GIVEN_ANSWERS_H
#define ORMELIX_GIVEN_ANSWERS_H

#include <cstdint>
#include <string>

struct given_answers {
    bool report = true;           // false with --no-report
    bool quiet = false;           // nothing on standard output, no progress
    bool json = false;            // the budget as JSON on standard output
    std::string classes_path;     // --classes GRID ("" without)
    std::string stable_path;      // --stable MASK ("" without)
};

extern given_answers answers;

// Grids read besides the two epochs, on the result's frame (null without them): the
// classes of --classes (NO_CLASS where its file has no data) and the stable-ground mask
// of --stable (1 stable, 0 not).
constexpr int32_t NO_CLASS = INT32_MIN;
extern int32_t **dtab_classes;
extern uint8_t **dtab_stable;

#endif
