// What the writers need that no file says. Each front door resolves it before the run:
// the dialogue by questions the writers ask when they get to them (the defaults here),
// the command line from its options.
#ifndef ORMELIX_OUTPUT_CHOICES_H
#define ORMELIX_OUTPUT_CHOICES_H

#include <cstdint>

struct output_choices {
    // The answer to a raster output's pixel-size question, once its files are created;
    // 0 for none.
    int32_t (*pixel_size)();
    // The unit of a raster output's integers (0 metres .. 3 millimetres) for a result of
    // that range in metres.
    int32_t (*raster_unit)(double d_min, double d_max);
    // The lower-left corner of a georeferenced output of two raster pairs, which carry none.
    void (*corner)(double *x, double *y);
};

extern output_choices output_answers;

#endif
