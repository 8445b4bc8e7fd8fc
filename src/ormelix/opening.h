// The dialogue of a run, up to the creation of the output files, and the checks it
// makes on the user's answers.
#ifndef ORMELIX_OPENING_H
#define ORMELIX_OPENING_H

#include <cstdio>
#include <string>

struct input_grid;
struct dem_cells;

// The working folder, both input grids read, the output named and created.
void opening();
// Both epochs read, each opened by open_grid (the dialogue's questions, or the command
// line's paths), their frames compared and the step onto one frame planned, the warnings
// printed on `warnings`, then the step applied.
void read_epochs(void (*open_grid)(input_grid &grid), FILE *warnings);
// The cells of the first or the second epoch as it was read, where its error grid lies.
const dem_cells &epoch_cells(bool second);
// The kind of difference and the elimination of low values.
void parameters();

// False for a folder or grid name that would lead outside the root folder: a ".."
// step, a drive ':', a leading '\' or '/', or a NUL character (the system would cut
// the path there, after the check).
bool name_stays_inside(const std::string &name);

#endif
