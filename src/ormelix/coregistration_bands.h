// The alignment's fit for a run whose epochs are read in bands of lines. The fit works on a
// sample of the stable cells, each with what the fit reads of it: the first grid's value,
// slope and aspect, and a window of 4 x 4 cells of the second grid brought onto the frame,
// around the cell moved by the shift the fit starts from. The frame's bands are read once to
// count the stable cells of each line, whose total the draw needs before it takes any cell,
// taking every one while they are no more than the sample's size (a stable ground that small
// is the sample whole); a larger one is read once more for the cells drawn. The fit's shift
// moves on from there; should a cell's four neighbours at a shift leave its window, the
// second grid alone is read once more for windows around that shift. The fit then runs on
// the sample as on a frame held whole, to the same figures.
#ifndef ORMELIX_COREGISTRATION_BANDS_H
#define ORMELIX_COREGISTRATION_BANDS_H

#include "coregister/coregister.h"

coregister_outcome coregister_epochs_in_bands(const coregister_frame &frame, const coregister_settings &settings);

#endif
