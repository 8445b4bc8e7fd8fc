#include "treatment/output_choices.h"

#include "treatment/ascii_writer.h"
#include "treatment/raster_writer.h"

output_choices output_answers = {ask_raster_pixel_size, ask_output_unit, ask_output_corner};
