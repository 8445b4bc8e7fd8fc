// Saves the result as a raster pair: samples scaled into the unit the user picks,
// then the descriptor's range, pixel size and processing notes.
#ifndef ORMELIX_RASTER_WRITER_H
#define ORMELIX_RASTER_WRITER_H

// Writes the result, whose range is d_min..d_max metres, to the pair the dialogue opened.
void raster_output(double d_min, double d_max);

#endif
