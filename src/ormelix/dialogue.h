// Checks the dialogue makes on the user's answers.
#ifndef ORMELIX_DIALOGUE_H
#define ORMELIX_DIALOGUE_H

#include <string>

// False for a folder or grid name that would lead outside the root folder: a ".."
// step, a drive ':' or a leading '\' or '/'.
bool name_stays_inside(const std::string &name);

#endif
