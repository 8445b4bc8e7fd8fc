// Checks the dialogue makes on the user's answers.
#ifndef ORMELIX_OPENING_H
#define ORMELIX_OPENING_H

#include <string>

// False for a folder or grid name that would lead outside the root folder: a ".."
// step, a drive ':', a leading '\' or '/', or a NUL character (the system would cut
// the path there, after the check).
bool name_stays_inside(const std::string &name);

#endif
