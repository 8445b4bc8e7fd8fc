// The dialogue of a run, up to the creation of the output files, and the checks it
// makes on the user's answers.
#ifndef ORMELIX_OPENING_H
#define ORMELIX_OPENING_H

#include <string>

#include "ormelix/alignment.h"

struct input_grid;

// The working folder, both input grids read, the output named and created.
void opening();
// The kind of difference and the elimination of low values.
void parameters();

// Where a grid lies, taken right after it is read: the next grid read replaces the corner.
grid_placement placement_of(const input_grid &grid);

// False for a folder or grid name that would lead outside the root folder: a ".."
// step, a drive ':', a leading '\' or '/', or a NUL character (the system would cut
// the path there, after the check).
bool name_stays_inside(const std::string &name);

#endif
