// The report's section on the epochs' alignment: the figures of the console's block as a
// table, and the stable differences before and after it as one histogram.
#ifndef ORMELIX_COREGISTRATION_PICTURE_H
#define ORMELIX_COREGISTRATION_PICTURE_H

#include <string>

#include "coregister/coregister.h"

// An SVG element: the two distributions as outlines on one axis of first - second, each
// bin's share of its sample (so that a sample of either size reads alike), with the
// medians marked.
std::string coregistration_histogram_svg(const coregistration &found, int width = 640, int height = 320);
// The whole section, a heading, the table and the histogram.
std::string coregistration_html(const coregistration &found);

#endif
