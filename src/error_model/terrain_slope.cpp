#include "error_model/terrain_slope.h"

#include <cmath>
#include <cstddef>

double horn_slope_at(const double *const *dem, int32_t lines, int32_t columns, int32_t line, int32_t column,
                     double dx_m, double dy_m)
{
    const double degrees_per_radian = 180.0 / 3.14159265358979323846;
    const double centre = dem[line][column];
    if (std::isnan(centre))
        return centre;
    if (line > 0 && line + 1 < lines && column > 0 && column + 1 < columns) {
        // Inside the grid with all its neighbours, the kernel straight, as below.
        const double *n = dem[line - 1] + column, *m = dem[line] + column, *s = dem[line + 1] + column;
        const double east = ((n[1] + 2.0 * m[1] + s[1]) - (n[-1] + 2.0 * m[-1] + s[-1])) / (8.0 * dx_m);
        const double north = ((n[-1] + 2.0 * n[0] + n[1]) - (s[-1] + 2.0 * s[0] + s[1])) / (8.0 * dy_m);
        const double squared = east * east + north * north;
        if (squared == squared)
            return std::atan(std::sqrt(squared)) * degrees_per_radian;
    }
    const double *rows[3] = {dem[line > 0 ? line - 1 : line], dem[line], dem[line + 1 < lines ? line + 1 : line]};
    const bool row_on_grid[3] = {line > 0, true, line + 1 < lines};
    double z[3][3];
    for (int r = 0; r < 3; r++)
        for (int k = 0; k < 3; k++) {
            const int32_t c = column + k - 1;
            const bool on_grid = row_on_grid[r] && c >= 0 && c < columns;
            const double value = on_grid ? rows[r][c] : centre;
            z[r][k] = std::isnan(value) ? centre : value;
        }
    // Row 0 is to the north, column 0 to the west.
    const double east = ((z[0][2] + 2.0 * z[1][2] + z[2][2]) - (z[0][0] + 2.0 * z[1][0] + z[2][0])) / (8.0 * dx_m);
    const double north = ((z[0][0] + 2.0 * z[0][1] + z[0][2]) - (z[2][0] + 2.0 * z[2][1] + z[2][2])) / (8.0 * dy_m);
    // Gradients of DEMs are far from overflowing: no need of hypot's care.
    return std::atan(std::sqrt(east * east + north * north)) * degrees_per_radian;
}

void horn_slope_line(const double *const *dem, int32_t lines, int32_t columns, int32_t line, double dx_m,
                     double dy_m, double *slope_degrees)
{
    if (line == 0 || line + 1 >= lines || columns < 3) {
        for (int32_t c = 0; c < columns; c++)
            slope_degrees[c] = horn_slope_at(dem, lines, columns, line, c, dx_m, dy_m);
        return;
    }
    // Inside the grid, the kernel straight on the three lines; a cell near a hole takes
    // the holes' rule, horn_slope_at's, with the same sums.
    const double degrees_per_radian = 180.0 / 3.14159265358979323846;
    const double *n = dem[line - 1], *m = dem[line], *s = dem[line + 1];
    slope_degrees[0] = horn_slope_at(dem, lines, columns, line, 0, dx_m, dy_m);
    slope_degrees[columns - 1] = horn_slope_at(dem, lines, columns, line, columns - 1, dx_m, dy_m);
    for (int32_t c = 1; c + 1 < columns; c++) {
        const double east = ((n[c + 1] + 2.0 * m[c + 1] + s[c + 1]) - (n[c - 1] + 2.0 * m[c - 1] + s[c - 1])) / (8.0 * dx_m);
        const double north = ((n[c - 1] + 2.0 * n[c] + n[c + 1]) - (s[c - 1] + 2.0 * s[c] + s[c + 1])) / (8.0 * dy_m);
        // The centre takes no part in the kernel: a cell without data must be caught apart.
        const double squared = east * east + north * north + 0.0 * m[c];
        slope_degrees[c] = squared == squared ? std::atan(std::sqrt(squared)) * degrees_per_radian
                                              : horn_slope_at(dem, lines, columns, line, c, dx_m, dy_m);
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
