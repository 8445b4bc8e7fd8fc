#include "gridfiles/grid_frame.h"

#include <algorithm>
#include <cmath>

bool same_cell_size(double a, double b)
{
    return std::fabs(a - b) <= std::max(std::fabs(a), std::fabs(b)) * CELL_SIZE_TOLERANCE;
}

bool same_cell_sizes(const grid_frame &a, const grid_frame &b)
{
    return same_cell_size(a.dx, b.dx) && same_cell_size(a.dy, b.dy);
}

bool same_corner(const grid_frame &a, const grid_frame &b)
{
    return std::fabs(b.xll - a.xll) <= std::fabs(a.dx) * CORNER_TOLERANCE &&
           std::fabs(b.yll - a.yll) <= std::fabs(a.dy) * CORNER_TOLERANCE;
}

bool same_cells(const grid_frame &a, const grid_frame &b)
{
    if (a.lines != b.lines || a.columns != b.columns)
        return false;
    if (!a.has_corner || !b.has_corner)
        return true;
    return same_cell_sizes(a, b) && same_corner(a, b);
}
