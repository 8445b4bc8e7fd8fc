// The dialogue of a run, up to the creation of the output files, and the checks it
// makes on the user's answers.
#ifndef ORMELIX_OPENING_H
#define ORMELIX_OPENING_H

#include <cstdio>
#include <string>

#include "gridfiles/grid_frame.h"

struct input_grid;
struct input_questions;

// The working folder, both input grids read, the output named and created.
void opening();
// Both epochs read, each opened by open_grid (the dialogue's questions, or the command
// line's paths), the frame each reader returned kept in the globals of the frame (the
// corner and cells of the last grid read with map coordinates), their frames compared and the step onto one frame planned, the warnings
// printed on `warnings`, then the step applied.
void read_epochs(void (*open_grid)(input_grid &grid), FILE *warnings);
// The cells of the first or the second epoch as it was read, where its error grid lies.
const grid_frame &epoch_cells(bool second);
// What the dialogue asks of a grid as its reader gets to it: a raster pair's counts
// when its descriptor is missing, its pixel size, the unit of its integers.
const input_questions &dialogue_questions();
// The kind of difference and the elimination of low values.
void parameters();

// False for a folder or grid name that would lead outside the root folder: a ".."
// step, a drive ':', a leading '\' or '/', or a NUL character (the system would cut
// the path there, after the check).
bool name_stays_inside(const std::string &name);

#endif
