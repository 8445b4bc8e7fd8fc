#include "error_model/terrain_slope.h"

#include <cmath>
#include <cstddef>

#include "platform/wider_vectors.h"

namespace {

inline __attribute__((always_inline)) double slope_of_gradient(double squared)
{
    // atan(g), g = √squared ≥ 0: brought within [0, 0.66] by atan(g) = π/2 - atan(1/g)
    // above tan(3π/8), and π/4 + atan((g - 1)/(g + 1)) above 0.66, then a rational
    // function of the square good to about one unit in the last place. Sums and products
    // only, selected without a branch: a line of cells is worked four or eight at a time,
    // and every machine finds the same bits.
    const double pi_2 = 1.57079632679489661923, pi_4 = 0.785398163397448309616;
    const double tan_3pi_8 = 2.41421356237309504880;
    // The parts of π/2 and π/4 a double cannot hold.
    const double more_bits = 6.123233995736765886130e-17;
    const double g = std::sqrt(squared);
    const bool steep = g > tan_3pi_8, middle = g > 0.66;
    // One quotient for the three cases, so that nothing is computed on a condition.
    const double below = g - 1.0, above = g + 1.0;
    const double x = (steep ? -1.0 : middle ? below : g) / (steep ? g : middle ? above : 1.0);
    const double base = steep ? pi_2 : middle ? pi_4 : 0.0;
    const double extra = steep ? more_bits : middle ? 0.5 * more_bits : 0.0;
    const double z = x * x;
    const double p = (((-8.750608600031904122785e-1 * z - 1.615753718733365076637e1) * z - 7.500855792314704667340e1) * z -
                      1.228866684490136173410e2) * z - 6.485021904942025371773e1;
    const double q = ((((z + 2.485846490142306297962e1) * z + 1.650270098316988542046e2) * z + 4.328810604912902668951e2) * z +
                      4.853903996359136964868e2) * z + 1.945506571482613964425e2;
    const double radians = base + (x + (x * z * p / q + extra));
    return radians * (180.0 / 3.14159265358979323846);
}

} // namespace

double slope_degrees_of_gradient(double squared)
{
    return slope_of_gradient(squared);
}

double horn_slope_at(const double *const *dem, int32_t lines, int32_t columns, int32_t line, int32_t column,
                     double dx_m, double dy_m)
{
    const double centre = dem[line][column];
    if (std::isnan(centre))
        return centre;
    if (line > 0 && line + 1 < lines && column > 0 && column + 1 < columns) {
        // Inside the grid with all its neighbours, the kernel straight, as below.
        const double *n = dem[line - 1] + column, *m = dem[line] + column, *s = dem[line + 1] + column;
        const double east = ((n[1] + 2.0 * m[1] + s[1]) - (n[-1] + 2.0 * m[-1] + s[-1])) * (1.0 / (8.0 * dx_m));
        const double north = ((n[-1] + 2.0 * n[0] + n[1]) - (s[-1] + 2.0 * s[0] + s[1])) * (1.0 / (8.0 * dy_m));
        const double squared = east * east + north * north;
        if (squared == squared)
            return slope_of_gradient(squared);
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
    const double east = ((z[0][2] + 2.0 * z[1][2] + z[2][2]) - (z[0][0] + 2.0 * z[1][0] + z[2][0])) * (1.0 / (8.0 * dx_m));
    const double north = ((z[0][0] + 2.0 * z[0][1] + z[0][2]) - (z[2][0] + 2.0 * z[2][1] + z[2][2])) * (1.0 / (8.0 * dy_m));
    // Gradients of DEMs are far from overflowing: no need of hypot's care.
    return slope_of_gradient(east * east + north * north);
}

ALSO_IN_WIDER_VECTORS void horn_slope_line(const double *const *dem, int32_t lines, int32_t columns, int32_t line, double dx_m,
                     double dy_m, double *slope_degrees)
{
    if (line == 0 || line + 1 >= lines || columns < 3) {
        for (int32_t c = 0; c < columns; c++)
            slope_degrees[c] = horn_slope_at(dem, lines, columns, line, c, dx_m, dy_m);
        return;
    }
    // Inside the grid, the kernel straight on the three lines, its squared gradients first
    // and their slopes after, each loop worked a vector of cells at a time; a cell near a
    // hole then takes the holes' rule, horn_slope_at's, with the same sums.
    const double *n = dem[line - 1], *m = dem[line], *s = dem[line + 1];
    for (int32_t c = 1; c + 1 < columns; c++) {
        const double east = ((n[c + 1] + 2.0 * m[c + 1] + s[c + 1]) - (n[c - 1] + 2.0 * m[c - 1] + s[c - 1])) * (1.0 / (8.0 * dx_m));
        const double north = ((n[c - 1] + 2.0 * n[c] + n[c + 1]) - (s[c - 1] + 2.0 * s[c] + s[c + 1])) * (1.0 / (8.0 * dy_m));
        // The centre takes no part in the kernel: a cell without data must be caught apart.
        slope_degrees[c] = east * east + north * north + 0.0 * m[c];
    }
    for (int32_t c = 1; c + 1 < columns; c++)
        slope_degrees[c] = slope_of_gradient(slope_degrees[c]);
    for (int32_t c = 1; c + 1 < columns; c++)
        if (slope_degrees[c] != slope_degrees[c])
            slope_degrees[c] = horn_slope_at(dem, lines, columns, line, c, dx_m, dy_m);
    slope_degrees[0] = horn_slope_at(dem, lines, columns, line, 0, dx_m, dy_m);
    slope_degrees[columns - 1] = horn_slope_at(dem, lines, columns, line, columns - 1, dx_m, dy_m);
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
