// What a run started with arguments (ormelix FIRST SECOND OUTPUT [options]) gives in
// place of the dialogue's answers. The steps that ask a question read its answer here
// when `given` is set, and then print and read nothing.
#ifndef ORMELIX_GIVEN_ANSWERS_H
#define ORMELIX_GIVEN_ANSWERS_H

#include <cstdint>
#include <string>

struct given_answers {
    bool given = false;           // the run comes from the command line: nothing is asked
    int32_t output_unit = -1;     // a raster output's unit, 0 m .. 3 mm; -1: the finest that holds
    bool corner = false;          // --corner: the lower-left corner of two raster pairs
    double corner_x = 0.0, corner_y = 0.0;
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
