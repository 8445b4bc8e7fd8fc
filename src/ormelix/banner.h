#ifndef ORMELIX_BANNER_H
#define ORMELIX_BANNER_H

#include <string>

// The box printed when the program starts: 13 printed lines.
std::string banner_text();

#endif
