#include "error_model/ground_distance.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

line_spacing ground_line_spacing(const frame_geometry &frame)
{
    const size_t lines = frame.lines > 0 ? static_cast<size_t>(frame.lines) : 0;
    const double dy = cell_height(frame);
    line_spacing spacing;
    spacing.east.assign(lines, frame.cellsize);
    spacing.north.assign(lines, dy);
    if (frame.degrees)
        for (size_t i = 0; i < lines; i++) {
            const double latitude = frame.yll + (static_cast<double>(lines - i) - 0.5) * dy;
            spacing.east[i] = frame.cellsize * metres_per_degree_east(latitude);
            spacing.north[i] = dy * metres_per_degree_north(latitude);
        }
    return spacing;
}

ground_metric::ground_metric(const frame_geometry &frame) : spacing(ground_line_spacing(frame))
{
    if (spacing.east.empty()) {
        spacing.east.assign(1, frame.cellsize);
        spacing.north.assign(1, cell_height(frame));
    }
    const size_t middle = spacing.east.size() / 2;
    smallest = std::min(spacing.east[middle], spacing.north[middle]);
    half_diag = 0.5 * std::hypot(static_cast<double>(frame.columns) * spacing.east[middle],
                                 static_cast<double>(frame.lines) * spacing.north[middle]);
}
