// The alignment's fit for a run whose epochs are read in bands of lines. The fit works on a
// sample of the stable cells: the frame's bands are read once to count the stable cells of
// each line, whose total the draw needs before it takes any cell, and once more to take the
// sample's cells, with what the fit reads of each: the first grid's value, slope and aspect,
// and a window of 4 x 4 cells of the second grid brought onto the frame, around the cell moved
// by the shift the fit starts from. The fit's shift moves on from there; should a cell's four
// neighbours at a shift leave its window, the second grid is read once more for windows
// around that shift. The fit then runs on the sample as on a frame held whole, to the same
// figures.
#ifndef ORMELIX_COREGISTRATION_BANDS_H
#define ORMELIX_COREGISTRATION_BANDS_H

#include "coregister/coregister.h"

coregister_outcome coregister_epochs_in_bands(const coregister_frame &frame, const coregister_settings &settings);

#endif
