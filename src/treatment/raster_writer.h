// Saves the result as a raster pair: samples scaled into the unit the user picks,
// then the descriptor's range, pixel size and processing notes.
#ifndef ORMELIX_RASTER_WRITER_H
#define ORMELIX_RASTER_WRITER_H

#include <cstdint>
#include <string>

// Empty when the run's result can be a raster pair; else why not, as the form menu says
// it before it comes back: the descriptor holds one pixel size, for cells that are square.
std::string raster_output_refusal();
// The dialogue's choices of a raster output (output_choices.h): the unit asked once the
// range is known (a unit in which the largest or the smallest result overflows the
// samples is refused, unless even metres overflow them: then any unit goes and the
// overflowing values saturate), and the pixel size.
int32_t ask_output_unit(double d_min, double d_max);
int32_t ask_raster_pixel_size();
// The unit of a run whose unit is given (-1: none): that one, or else the finest that
// holds the range, metres when none does, whose overflowing values saturate. Stops the
// run when the given unit overflows where metres would not.
int32_t given_output_unit(int32_t unit_given, double d_min, double d_max);

// The sample type of a raster output, asked after the kind of difference.
void ask_raster_output_options();
// The sample file and the descriptor of the output stem, by the sample type asked.
void raster_output_paths(const std::string &stem, std::string *samples, std::string *descriptor);
// Creates both, writes the descriptor's first lines and has the pixel size chosen.
void create_raster_output(const std::string &samples, const std::string &descriptor);

// Writes the result, whose range is d_min..d_max metres, to the pair the dialogue opened:
// the start shows the range, has the unit chosen and stops the run when the pair will
// not fit its disk; each line is scaled and written as it comes; the finish warns of the
// values that overflowed the samples and writes the descriptor's tail.
void raster_start_output(double d_min, double d_max);
void raster_output_lines(int32_t first, int32_t end, double *const *rows);
void raster_finish_output();
// The three over the whole result.
void raster_output(double d_min, double d_max);

#endif
