#include "error_model/terrain_slope.h"

#include <cmath>
#include <cstddef>

void horn_slope_line(const double *const *dem, int32_t lines, int32_t columns, int32_t line, double dx_m,
                     double dy_m, double *slope_degrees)
{
    const double degrees_per_radian = 180.0 / 3.14159265358979323846;
    const double *rows[3] = {dem[line > 0 ? line - 1 : line], dem[line], dem[line + 1 < lines ? line + 1 : line]};
    const bool row_on_grid[3] = {line > 0, true, line + 1 < lines};
    for (int32_t c = 0; c < columns; c++) {
        const double centre = rows[1][c];
        if (std::isnan(centre)) {
            slope_degrees[c] = std::nan("");
            continue;
        }
        double z[3][3];
        for (int r = 0; r < 3; r++)
            for (int k = 0; k < 3; k++) {
                const int32_t column = c + k - 1;
                const bool on_grid = row_on_grid[r] && column >= 0 && column < columns;
                const double value = on_grid ? rows[r][column] : centre;
                z[r][k] = std::isnan(value) ? centre : value;
            }
        // Row 0 is to the north, column 0 to the west.
        const double east = ((z[0][2] + 2.0 * z[1][2] + z[2][2]) - (z[0][0] + 2.0 * z[1][0] + z[2][0])) / (8.0 * dx_m);
        const double north = ((z[0][0] + 2.0 * z[0][1] + z[0][2]) - (z[2][0] + 2.0 * z[2][1] + z[2][2])) / (8.0 * dy_m);
        slope_degrees[c] = std::atan(std::hypot(east, north)) * degrees_per_radian;
    }
}

std::vector<double> horn_slope_grid(const double *const *dem, const frame_geometry &frame)
{
    const size_t lines = frame.lines > 0 ? static_cast<size_t>(frame.lines) : 0;
    const size_t columns = frame.columns > 0 ? static_cast<size_t>(frame.columns) : 0;
    const line_spacing spacing = ground_line_spacing(frame);
    std::vector<double> slopes(lines * columns);
    for (size_t i = 0; i < lines; i++)
        horn_slope_line(dem, frame.lines, frame.columns, static_cast<int32_t>(i), spacing.east[i], spacing.north[i],
                        slopes.data() + i * columns);
    return slopes;
}
