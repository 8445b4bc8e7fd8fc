#include "coordinates/carried_positions.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "coordinates/coordinate_system.h"

namespace {

const double NO_POSITION = std::numeric_limits<double>::quiet_NaN();

// Nodes every step cells and at the last cell.
std::vector<int32_t> node_places(int32_t count, int32_t step)
{
    std::vector<int32_t> places;
    for (int32_t at = 0; at < count - 1; at += step)
        places.push_back(at);
    places.push_back(std::max(count - 1, 0));
    if (places.size() == 1)
        places.push_back(places[0]);
    return places;
}

// Target cells given by fractional line and column, carried into the source's cells.
class carrier {
public:
    carrier(PJ *operation, const grid_frame &target, const grid_frame &source)
        : op(operation), t(target), s(source)
    {
    }
    void carry(const std::vector<double> &lines, const std::vector<double> &columns, std::vector<double> *out_columns,
               std::vector<double> *out_lines) const
    {
        const size_t n = lines.size();
        std::vector<double> x(n), y(n);
        const double top = t.yll + t.lines * t.dy;
        for (size_t k = 0; k < n; k++) {
            x[k] = t.xll + (columns[k] + 0.5) * t.dx;
            y[k] = top - (lines[k] + 0.5) * t.dy;
        }
        if (n > 0)
            proj_trans_generic(op, PJ_FWD, x.data(), sizeof(double), n, y.data(), sizeof(double), n, nullptr, 0, 0,
                               nullptr, 0, 0);
        const double source_top = s.yll + s.lines * s.dy;
        out_columns->resize(n);
        out_lines->resize(n);
        for (size_t k = 0; k < n; k++) {
            const bool carried = std::isfinite(x[k]) && std::isfinite(y[k]) && x[k] != HUGE_VAL;
            (*out_columns)[k] = carried ? (x[k] - s.xll) / s.dx - 0.5 : NO_POSITION;
            (*out_lines)[k] = carried ? (source_top - y[k]) / s.dy - 0.5 : NO_POSITION;
        }
    }

private:
    PJ *op;
    grid_frame t, s;
};

double between(double a, double b, double f)
{
    return a + (b - a) * f;
}

double fraction(int32_t at, int32_t from, int32_t to)
{
    return to > from ? static_cast<double>(at - from) / (to - from) : 0.0;
}

// A square whose nodes and probes all lie on one side of the source, beyond its outer
// cells: every position interpolated in it lies there too, with no value to take.
bool beside(const carried_positions &p, size_t a, size_t b, const double *probe_columns, const double *probe_lines,
            const grid_frame &source)
{
    const double columns[9] = {p.column_at[a], p.column_at[a + 1], p.column_at[b], p.column_at[b + 1],
                               probe_columns[0], probe_columns[1], probe_columns[2], probe_columns[3],
                               probe_columns[4]};
    const double lines[9] = {p.line_at[a], p.line_at[a + 1], p.line_at[b], p.line_at[b + 1], probe_lines[0],
                             probe_lines[1], probe_lines[2], probe_lines[3], probe_lines[4]};
    bool left = true, right = true, above = true, below = true;
    for (size_t k = 0; k < 9; k++) {
        left = left && columns[k] < -1.0;
        right = right && columns[k] > source.columns;
        above = above && lines[k] < -1.0;
        below = below && lines[k] > source.lines;
    }
    return left || right || above || below;
}

} // namespace

void carried_positions::line(int32_t line, int32_t first_column, int32_t count, double *columns, double *lines) const
{
    const size_t across = node_columns.size();
    const size_t row = std::min<size_t>(static_cast<size_t>(std::max(line, 0) / step), node_lines.size() - 2);
    const double down = fraction(line, node_lines[row], node_lines[row + 1]);
    for (int32_t k = 0; k < count;) {
        const int32_t j = first_column + k;
        const size_t square = std::min<size_t>(static_cast<size_t>(std::max(j, 0) / step), across - 2);
        const int32_t left = node_columns[square], right = node_columns[square + 1];
        const int32_t end = std::min(count, (square + 2 == across ? right + 1 : right) - first_column);
        const int64_t exact_at = exact_start[row * (across - 1) + square];
        if (exact_at >= 0) {
            const int32_t width = right - left + 1;
            for (; k < end; k++) {
                const size_t at = static_cast<size_t>(exact_at) +
                                  2 * (static_cast<size_t>(line - node_lines[row]) * width + (first_column + k - left));
                columns[k] = exact[at];
                lines[k] = exact[at + 1];
            }
            continue;
        }
        const size_t a = row * across + square, b = a + across;
        const double column_left = between(column_at[a], column_at[b], down);
        const double column_right = between(column_at[a + 1], column_at[b + 1], down);
        const double line_left = between(line_at[a], line_at[b], down);
        const double line_right = between(line_at[a + 1], line_at[b + 1], down);
        const double width = right > left ? right - left : 1.0;
        for (; k < end; k++) {
            const double f = (first_column + k - left) / width;
            columns[k] = between(column_left, column_right, f);
            lines[k] = between(line_left, line_right, f);
        }
    }
}

bool carry_cell_centres(const std::string &target_crs, const std::string &source_crs, const grid_frame &target,
                        const grid_frame &source, carried_positions *out)
{
    PJ_CONTEXT *ctx = coordinates_context();
    const pj_object from = crs_object(target_crs), to = crs_object(source_crs);
    if (!from || !to)
        return false;
    const pj_object raw(proj_create_crs_to_crs_from_pj(ctx, from.get(), to.get(), nullptr, nullptr));
    // Easting then northing, longitude then latitude, whatever the registry's axis order.
    const pj_object op(raw ? proj_normalize_for_visualization(ctx, raw.get()) : nullptr);
    if (!op)
        return false;
    const carrier carry(op.get(), target, source);

    carried_positions &p = *out;
    p = carried_positions();
    p.node_lines = node_places(target.lines, p.step);
    p.node_columns = node_places(target.columns, p.step);
    const size_t down = p.node_lines.size(), across = p.node_columns.size();
    std::vector<double> lines, columns;
    for (size_t r = 0; r < down; r++)
        for (size_t c = 0; c < across; c++) {
            lines.push_back(p.node_lines[r]);
            columns.push_back(p.node_columns[c]);
        }
    carry.carry(lines, columns, &p.column_at, &p.line_at);

    // Each square checked at its centre and the middles of its four sides.
    const size_t squares = (down - 1) * (across - 1);
    const double probe_down[] = {0.5, 0.0, 1.0, 0.5, 0.5}, probe_across[] = {0.5, 0.5, 0.5, 0.0, 1.0};
    lines.clear();
    columns.clear();
    for (size_t r = 0; r + 1 < down; r++)
        for (size_t c = 0; c + 1 < across; c++)
            for (size_t k = 0; k < 5; k++) {
                lines.push_back(between(p.node_lines[r], p.node_lines[r + 1], probe_down[k]));
                columns.push_back(between(p.node_columns[c], p.node_columns[c + 1], probe_across[k]));
            }
    std::vector<double> probe_columns, probe_lines;
    carry.carry(lines, columns, &probe_columns, &probe_lines);
    p.exact_start.assign(squares, -1);
    for (size_t r = 0; r + 1 < down; r++)
        for (size_t c = 0; c + 1 < across; c++) {
            const size_t square = r * (across - 1) + c;
            const size_t a = r * across + c, b = a + across;
            bool close = true;
            for (size_t k = 0; k < 5 && close; k++) {
                const double f = probe_down[k], g = probe_across[k];
                const double column = between(between(p.column_at[a], p.column_at[a + 1], g),
                                              between(p.column_at[b], p.column_at[b + 1], g), f);
                const double line = between(between(p.line_at[a], p.line_at[a + 1], g),
                                            between(p.line_at[b], p.line_at[b + 1], g), f);
                // A NaN anywhere fails the test too.
                close = std::fabs(column - probe_columns[5 * square + k]) < CARRY_TOLERANCE &&
                        std::fabs(line - probe_lines[5 * square + k]) < CARRY_TOLERANCE;
            }
            if (close || beside(p, a, b, &probe_columns[5 * square], &probe_lines[5 * square], source))
                continue;
            // Every centre of the square, its edges included, carried one by one.
            lines.clear();
            columns.clear();
            for (int32_t i = p.node_lines[r]; i <= p.node_lines[r + 1]; i++)
                for (int32_t j = p.node_columns[c]; j <= p.node_columns[c + 1]; j++) {
                    lines.push_back(i);
                    columns.push_back(j);
                }
            std::vector<double> exact_columns, exact_lines;
            carry.carry(lines, columns, &exact_columns, &exact_lines);
            p.exact_start[square] = static_cast<int64_t>(p.exact.size());
            for (size_t k = 0; k < exact_columns.size(); k++) {
                p.exact.push_back(exact_columns[k]);
                p.exact.push_back(exact_lines[k]);
            }
            p.carried_squares++;
        }
    return true;
}
