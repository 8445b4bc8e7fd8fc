// Distances on the ground between the cells of a frame, in metres, whether the frame is
// projected or in geographic degrees.
#ifndef ORMELIX_GROUND_DISTANCE_H
#define ORMELIX_GROUND_DISTANCE_H

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "coordinates/frame_geometry.h"

// The ground size in metres of the cells of each line, line 0 at the top: east (width)
// and north (height). A frame in degrees measures each line at its middle latitude on
// the WGS 84 ellipsoid.
struct line_spacing {
    std::vector<double> east, north;
};
line_spacing ground_line_spacing(const frame_geometry &frame);

// Distances between positions given in lines and columns (fractions allowed: the middle
// of a block of cells), each measured with the cell sizes of the line halfway between
// them: exact on a projected frame, within a part in 10^4 in degrees up to the ranges
// a survey's errors are correlated over.
class ground_metric {
public:
    explicit ground_metric(const frame_geometry &frame);
    double distance(double line1, double column1, double line2, double column2) const
    {
        return std::sqrt(squared_distance(line1, column1, line2, column2));
    }
    double squared_distance(double line1, double column1, double line2, double column2) const
    {
        const double middle = 0.5 * (line1 + line2) + 0.5;
        const size_t last = spacing.east.size() - 1;
        const size_t i = middle <= 0.0 ? 0 : std::min(static_cast<size_t>(middle), last);
        const double east = (column2 - column1) * spacing.east[i];
        const double north = (line2 - line1) * spacing.north[i];
        return east * east + north * north;
    }
    // The smaller side of a cell and the frame's half diagonal, both measured at the
    // frame's middle line.
    double smallest_cell() const { return smallest; }
    double half_diagonal() const { return half_diag; }
    const line_spacing &lines() const { return spacing; }

private:
    line_spacing spacing;
    double smallest = 0.0, half_diag = 0.0;
};

#endif
