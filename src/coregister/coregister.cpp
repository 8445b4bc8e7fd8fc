#include "coregister/coregister.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "coordinates/frame_geometry.h"
#include "text/number_text.h"

namespace {

const double PI = 3.14159265358979323846;
const double NO_DATA = std::numeric_limits<double>::quiet_NaN();
// Slopes outside these are left out of the shift's fit: on flat ground a shift shows
// nothing and dh / tan(slope) is noise over nearly 0; cliffs are mostly artefacts.
const double LEAST_SLOPE = 1.0, MOST_SLOPE = 70.0;
const double OUTLIER_NMADS = 3.0;
// The samples are laid out as lines of this many for the bilinear kernel.
const int32_t SAMPLE_LINE = 4096;

// A fixed-seed generator of our own: the sample must be the same on every platform and
// library, which std::uniform_int_distribution does not promise.
struct splitmix64 {
    uint64_t state;
    uint64_t next()
    {
        uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
};

using sample_cells = coregister_sample;

struct plane_fit {
    double height = 0.0, east = 0.0, north = 0.0;
    double at(const sample_cells &s, size_t k) const { return height + east * s.east_m[k] + north * s.north_m[k]; }
};

struct robust_figures {
    double median = 0.0, nmad = 0.0;
    size_t count = 0;
};

double median_in_place(std::vector<double> &values)
{
    const size_t n = values.size();
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(n / 2);
    std::nth_element(values.begin(), middle, values.end());
    const double upper = *middle;
    if (n % 2 == 1)
        return upper;
    const double lower = *std::max_element(values.begin(), middle);
    return lower + (upper - lower) / 2.0;
}

robust_figures robust_of(const std::vector<double> &values)
{
    std::vector<double> kept;
    kept.reserve(values.size());
    for (double v : values)
        if (!std::isnan(v))
            kept.push_back(v);
    robust_figures r;
    r.count = kept.size();
    if (kept.empty())
        return r;
    r.median = median_in_place(kept);
    for (double &v : kept)
        v = std::fabs(v - r.median);
    r.nmad = 1.4826 * median_in_place(kept);
    return r;
}

bool inlier(double value, const robust_figures &r)
{
    return !std::isnan(value) && std::fabs(value - r.median) <= OUTLIER_NMADS * r.nmad;
}

// Solves the 3 x 3 system a x = b by Cramer's rule; false when singular.
bool solve3(const double a[3][3], const double b[3], double x[3])
{
    const auto det = [](const double m[3][3]) {
        return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
               m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    };
    const double d = det(a);
    if (!(std::fabs(d) > 0.0))
        return false;
    for (int c = 0; c < 3; c++) {
        double m[3][3];
        for (int r = 0; r < 3; r++)
            for (int k = 0; k < 3; k++)
                m[r][k] = k == c ? b[r] : a[r][k];
        x[c] = det(m) / d;
    }
    return true;
}

// Least squares of y = x0 * f0 + x1 * f1 + x2 * f2 over the rows given.
struct normal_equations {
    double a[3][3] = {};
    double b[3] = {};
    void add(const double f[3], double y)
    {
        for (int r = 0; r < 3; r++) {
            for (int c = 0; c < 3; c++)
                a[r][c] += f[r] * f[c];
            b[r] += f[r] * y;
        }
    }
};

sample_cells draw_sample(const grid_view &first, const grid_view &second, const uint8_t *const *stable,
                         const coregister_frame &frame, const line_spacing &spacing,
                         const coregister_settings &settings, size_t *stable_count)
{
    const auto mask = [&](int32_t i) { return stable != nullptr ? stable[i] : nullptr; };
    // The mask's cells before each line, and the stable cells with data of each, counted on
    // two threads.
    const size_t lines = static_cast<size_t>(std::max(first.lines, 0));
    std::vector<size_t> before(lines + 1, 0), with_data(lines, 0);
    fill_on_two_threads(first.lines, first.columns, [&](int32_t from, int32_t to) {
        for (int32_t i = from; i < to; i++) {
            before[static_cast<size_t>(i) + 1] = coregister_mask_in_line(mask(i), first.columns);
            with_data[static_cast<size_t>(i)] =
                coregister_stable_in_line(first.cells[i], second.cells[i], mask(i), first.columns);
        }
    });
    *stable_count = 0;
    for (size_t i = 0; i < lines; i++) {
        before[i + 1] += before[i];
        *stable_count += with_data[i];
    }
    const std::vector<size_t> ranks = coregister_sample_ranks(before[lines], settings);
    // Each line finds its own samples among its mask's cells: two halves of the frame, each
    // its part of the sample, put together in the order of the lines.
    sample_cells halves[2];
    const int32_t middle = first.lines / 2;
    fill_on_two_threads(2, static_cast<int64_t>(first.lines) * first.columns, [&](int32_t from, int32_t to) {
        for (int32_t half = from; half < to; half++) {
            const int32_t top = half == 0 ? 0 : middle, bottom = half == 0 ? middle : first.lines;
            size_t next = static_cast<size_t>(std::lower_bound(ranks.begin(), ranks.end(),
                                                               before[static_cast<size_t>(top)]) -
                                              ranks.begin());
            for (int32_t i = top; i < bottom; i++)
                add_sample_of_line(first.cells[i], second.cells[i], mask(i), first.columns, i,
                                   before[static_cast<size_t>(i)], ranks, &next, &halves[half]);
        }
    });
    sample_cells s = std::move(halves[0]);
    s.line.insert(s.line.end(), halves[1].line.begin(), halves[1].line.end());
    s.column.insert(s.column.end(), halves[1].column.begin(), halves[1].column.end());
    const size_t n = s.size();
    s.first.resize(n);
    s.tan_slope.resize(n);
    s.bin.resize(n);
    s.east_m.resize(n);
    s.north_m.resize(n);
    const int32_t blocks = static_cast<int32_t>((n + SAMPLE_LINE - 1) / SAMPLE_LINE);
    fill_on_two_threads(blocks, SAMPLE_LINE, [&](int32_t from, int32_t to) {
        for (size_t k = static_cast<size_t>(from) * SAMPLE_LINE; k < std::min(n, static_cast<size_t>(to) * SAMPLE_LINE);
             k++)
            describe_sample_cell(first, frame, spacing, &s, k);
    });
    return s;
}

// The second grid's bilinear values at the sample's cells moved, laid out as lines for the
// kernel.
coregister_second_values second_values_of_grid(const grid_view &second, const sample_cells &s)
{
    return [&second, &s](double east_cells, double north_cells, std::vector<double> *out) {
        const size_t n = s.size();
        const int32_t lines = static_cast<int32_t>((n + SAMPLE_LINE - 1) / SAMPLE_LINE);
        out->assign(static_cast<size_t>(lines) * SAMPLE_LINE, NO_DATA);
        std::vector<double *> rows(static_cast<size_t>(lines));
        for (size_t r = 0; r < rows.size(); r++)
            rows[r] = out->data() + r * SAMPLE_LINE;
        const grid_view target{rows.data(), lines, SAMPLE_LINE};
        bilinear_fill(second, target, [&](int32_t line, int32_t count, double *columns, double *source_lines) {
            for (int32_t c = 0; c < count; c++) {
                const size_t k = static_cast<size_t>(line) * SAMPLE_LINE + static_cast<size_t>(c);
                columns[c] = k < n ? s.column[k] + east_cells : NO_DATA;
                source_lines[c] = k < n ? s.line[k] - north_cells : NO_DATA;
            }
        });
    };
}

// second - first - plane at the sample's cells, the second moved by the shift.
void differences_at(const coregister_second_values &second, const sample_cells &s, double east_cells,
                    double north_cells, const plane_fit &plane, std::vector<double> *dh)
{
    std::vector<double> values;
    second(east_cells, north_cells, &values);
    const size_t n = s.size();
    dh->resize(n);
    for (size_t k = 0; k < n; k++)
        (*dh)[k] = values[k] - s.first[k] - plane.at(s, k);
}

struct shift_state {
    double east = 0.0, north = 0.0;  // cells
    plane_fit plane;
    int32_t iterations = 0;
    bool converged = false;
};

// One run of the horizontal method from the state's shift: fits and moves it until the
// increment is small, the iterations are spent, or a fault.
coregister_fault shift_pass(const coregister_second_values &second, const sample_cells &s, const line_spacing &spacing,
                            size_t centre, const coregister_settings &settings, shift_state *state)
{
    coregister_fault fault;
    std::vector<double> dh;
    std::vector<std::vector<double>> bins(COREGISTER_ASPECT_BINS);
    state->converged = false;
    for (int32_t pass = 0; pass < settings.max_iterations; pass++) {
        differences_at(second, s, state->east, state->north, state->plane, &dh);
        const robust_figures r = robust_of(dh);
        for (auto &b : bins)
            b.clear();
        size_t fitted = 0;
        for (size_t k = 0; k < s.size(); k++)
            if (s.bin[k] >= 0 && inlier(dh[k], r)) {
                // The offset left aside: over bins of different mean slopes it would
                // lean the cosine.
                bins[static_cast<size_t>(s.bin[k])].push_back((dh[k] - r.median) / s.tan_slope[k]);
                fitted++;
            }
        normal_equations fit;
        size_t filled = 0;
        for (size_t b = 0; b < bins.size(); b++) {
            if (bins[b].size() < COREGISTER_BIN_CELLS)
                continue;
            filled++;
            const double psi = (static_cast<double>(b) + 0.5) * (2.0 * PI / COREGISTER_ASPECT_BINS);
            const double f[3] = {std::cos(psi), std::sin(psi), 1.0};
            fit.add(f, median_in_place(bins[b]));
        }
        double x[3];
        if (filled < COREGISTER_BINS || !solve3(fit.a, fit.b, x)) {
            fault.kind = coregister_too_few_cells;
            fault.cells = fitted;
            fault.cells_needed = COREGISTER_BINS * COREGISTER_BIN_CELLS;
            fault.bins = filled;
            fault.bins_needed = COREGISTER_BINS;
            return fault;
        }
        // dh = second(x + s) - first(x) ~ -grad(first) . s = tan(slope) (s_east sin(aspect)
        // + s_north cos(aspect)) with the aspect the downhill way: the cosine's terms are
        // what the shift still lacks, north and east, in metres.
        const double step_east = x[1] / spacing.east[centre], step_north = x[0] / spacing.north[centre];
        state->east += step_east;
        state->north += step_north;
        state->iterations++;
        if (std::hypot(step_east, step_north) < settings.converged_cells) {
            state->converged = true;
            return fault;
        }
        const double reach = std::hypot(state->east, state->north);
        if (reach > settings.diverged_cells) {
            fault.kind = coregister_diverged;
            fault.shift_cells = reach;
            return fault;
        }
    }
    return fault;
}

// The robust offset of second - first - plane over the inliers.
double vertical_offset(const std::vector<double> &dh)
{
    const robust_figures r = robust_of(dh);
    std::vector<double> kept;
    for (double v : dh)
        if (inlier(v, r))
            kept.push_back(v);
    return kept.empty() ? r.median : median_in_place(kept);
}

plane_fit fit_plane(const sample_cells &s, const std::vector<double> &dh)
{
    const robust_figures r = robust_of(dh);
    normal_equations fit;
    for (size_t k = 0; k < s.size(); k++)
        if (inlier(dh[k], r)) {
            const double f[3] = {1.0, s.east_m[k], s.north_m[k]};
            fit.add(f, dh[k]);
        }
    double x[3];
    plane_fit plane;
    if (solve3(fit.a, fit.b, x))
        plane = {x[0], x[1], x[2]};
    else
        plane.height = r.median;
    return plane;
}

// Both distributions on one axis, so that the narrowing shows: from the lower of their
// medians less 4 NMAD to the higher plus 4.
coregister_histogram histogram_of(const std::vector<double> &before, const robust_figures &b,
                                  const std::vector<double> &after, const robust_figures &a)
{
    coregister_histogram h;
    double low = std::min(b.median - 4.0 * b.nmad, a.median - 4.0 * a.nmad);
    double high = std::max(b.median + 4.0 * b.nmad, a.median + 4.0 * a.nmad);
    if (!(high - low > 1e-6)) {
        low -= 0.5;
        high += 0.5;
    }
    h.low = low;
    h.width = (high - low) / COREGISTER_HISTOGRAM_BINS;
    h.before.assign(COREGISTER_HISTOGRAM_BINS, 0);
    h.after.assign(COREGISTER_HISTOGRAM_BINS, 0);
    const auto count = [&](const std::vector<double> &values, std::vector<size_t> *bins) {
        for (double v : values) {
            const double at = (v - low) / h.width;
            if (at >= 0.0 && at < static_cast<double>(COREGISTER_HISTOGRAM_BINS))
                (*bins)[static_cast<size_t>(at)]++;
        }
    };
    count(before, &h.before);
    count(after, &h.after);
    return h;
}

} // namespace

bool coregister_method_named(const std::string &name, coregister_method *method)
{
    for (coregister_method m : {coregister_vertical, coregister_shift, coregister_tilt})
        if (name == coregister_method_name(m)) {
            *method = m;
            return true;
        }
    return false;
}

const char *coregister_method_name(coregister_method method)
{
    switch (method) {
    case coregister_vertical:
        return "vertical";
    case coregister_tilt:
        return "tilt";
    default:
        return "shift";
    }
}

line_spacing ground_spacing_of_lines(const coregister_frame &frame)
{
    const size_t lines = frame.lines > 0 ? static_cast<size_t>(frame.lines) : 0;
    line_spacing spacing;
    spacing.east.assign(lines, frame.dx);
    spacing.north.assign(lines, frame.dy);
    if (!frame.degrees)
        return spacing;
    for (size_t i = 0; i < lines; i++) {
        const double latitude = frame.yll + (static_cast<double>(lines - i) - 0.5) * frame.dy;
        spacing.east[i] = frame.dx * metres_per_degree_east(latitude);
        spacing.north[i] = frame.dy * metres_per_degree_north(latitude);
    }
    return spacing;
}

slope_aspect horn_slope_aspect(const grid_view &dem, int32_t i, int32_t j, double east_m, double north_m)
{
    if (i < 1 || j < 1 || i > dem.lines - 2 || j > dem.columns - 2)
        return {NO_DATA, NO_DATA};
    const double *up = dem.cells[i - 1] + j, *mid = dem.cells[i] + j, *down = dem.cells[i + 1] + j;
    // Line 0 is the top: north is up the lines.
    const double rise_east = ((up[1] + 2.0 * mid[1] + down[1]) - (up[-1] + 2.0 * mid[-1] + down[-1])) / (8.0 * east_m);
    const double rise_north = ((up[-1] + 2.0 * up[0] + up[1]) - (down[-1] + 2.0 * down[0] + down[1])) / (8.0 * north_m);
    if (std::isnan(rise_east) || std::isnan(rise_north))
        return {NO_DATA, NO_DATA};
    const double slope = std::atan(std::hypot(rise_east, rise_north)) * 180.0 / PI;
    double aspect = std::atan2(-rise_east, -rise_north) * 180.0 / PI;
    if (aspect < 0.0)
        aspect += 360.0;
    return {slope, aspect >= 360.0 ? 0.0 : aspect};
}

size_t coregister_mask_in_line(const uint8_t *m, int32_t columns)
{
    size_t count = 0;
    for (int32_t j = 0; m != nullptr && j < columns; j++)
        count += static_cast<size_t>(m[j] != 0);
    return m != nullptr ? count : static_cast<size_t>(std::max(columns, 0));
}

size_t coregister_stable_in_line(const double *a, const double *b, const uint8_t *m, int32_t columns)
{
    // Counted without a branch per cell.
    size_t count = 0;
    for (int32_t j = 0; j < columns; j++)
        count += static_cast<size_t>((m == nullptr || m[j] != 0) & (a[j] == a[j]) & (b[j] == b[j]));
    return count;
}

std::vector<size_t> coregister_sample_ranks(size_t total, const coregister_settings &settings)
{
    const size_t wanted = std::min(total, settings.sample_cells);
    // A stratified draw: the k-th sample is the stable cell of a random rank in the k-th of
    // `wanted` equal runs of ranks, so that it is spread over the whole stable ground and
    // costs one draw a sample rather than one a cell.
    std::vector<size_t> ranks(wanted);
    splitmix64 random{settings.seed};
    const double run = wanted > 0 ? static_cast<double>(total) / static_cast<double>(wanted) : 0.0;
    for (size_t k = 0; k < wanted; k++) {
        const double draw = static_cast<double>(random.next() >> 11) * 0x1.0p-53;
        size_t rank = static_cast<size_t>((static_cast<double>(k) + draw) * run);
        if (k > 0)
            rank = std::max(rank, ranks[k - 1] + 1);
        ranks[k] = std::min(rank, total - (wanted - k));
    }
    return ranks;
}

void add_sample_of_line(const double *a, const double *b, const uint8_t *m, int32_t columns, int32_t line,
                        size_t rank, const std::vector<size_t> &ranks, size_t *next, coregister_sample *s)
{
    size_t k = *next;
    for (int32_t j = 0; j < columns && k < ranks.size(); j++) {
        if (!(m == nullptr || m[j] != 0) || rank++ != ranks[k])
            continue;
        k++;
        // A cell drawn without data in either grid leaves its place in the sample empty.
        if (a[j] == a[j] && b[j] == b[j]) {
            s->line.push_back(line);
            s->column.push_back(j);
        }
    }
    *next = k;
}

void describe_sample_cell(const grid_view &first, const coregister_frame &frame, const line_spacing &spacing,
                          coregister_sample *s, size_t k)
{
    const size_t centre = static_cast<size_t>(frame.lines / 2);
    const double centre_column = 0.5 * (frame.columns - 1), centre_line = 0.5 * (frame.lines - 1);
    const int32_t i = s->line[k], j = s->column[k];
    const size_t li = static_cast<size_t>(i);
    s->first[k] = first.cells[i][j];
    const slope_aspect sa = horn_slope_aspect(first, i, j, spacing.east[li], spacing.north[li]);
    s->tan_slope[k] = std::tan(sa.slope * PI / 180.0);
    s->bin[k] = -1;
    if (sa.slope >= LEAST_SLOPE && sa.slope <= MOST_SLOPE)
        s->bin[k] = std::min(static_cast<int32_t>(sa.aspect / (360.0 / COREGISTER_ASPECT_BINS)),
                             static_cast<int32_t>(COREGISTER_ASPECT_BINS) - 1);
    s->east_m[k] = (j - centre_column) * spacing.east[centre];
    s->north_m[k] = (centre_line - i) * spacing.north[centre];
}

coregister_outcome coregister_grids(const grid_view &first, const grid_view &second, const uint8_t *const *stable,
                                    const coregister_frame &frame, const coregister_settings &settings)
{
    const line_spacing spacing = ground_spacing_of_lines(frame);
    size_t stable_count = 0;
    const sample_cells s = draw_sample(first, second, stable, frame, spacing, settings, &stable_count);
    return coregister_sample_fit(s, stable_count, second_values_of_grid(second, s), frame, settings);
}

coregister_outcome coregister_sample_fit(const coregister_sample &s, size_t stable_count,
                                         const coregister_second_values &second, const coregister_frame &frame,
                                         const coregister_settings &settings)
{
    coregister_outcome out;
    coregistration &found = out.found;
    found.method = settings.method;
    found.tilted = settings.method == coregister_tilt;
    const line_spacing spacing = ground_spacing_of_lines(frame);
    const size_t centre = static_cast<size_t>(frame.lines / 2);
    found.stable_cells = stable_count;
    found.fitted_cells = s.size();
    const size_t needed = settings.method == coregister_vertical ? 1 : COREGISTER_BINS * COREGISTER_BIN_CELLS;
    if (stable_count < needed) {
        out.fault.kind = coregister_too_few_cells;
        out.fault.cells = stable_count;
        out.fault.cells_needed = needed;
        return out;
    }
    std::vector<double> dh;
    shift_state state;
    differences_at(second, s, 0.0, 0.0, state.plane, &dh);
    std::vector<double> first_less_second_before(dh.size());
    for (size_t k = 0; k < dh.size(); k++)
        first_less_second_before[k] = -dh[k];
    const robust_figures before = robust_of(first_less_second_before);
    found.median_before_m = before.median;
    found.nmad_before_m = before.nmad;

    state.converged = true;
    if (settings.method != coregister_vertical) {
        out.fault = shift_pass(second, s, spacing, centre, settings, &state);
        if (out.fault.kind == coregister_fine && settings.method == coregister_tilt) {
            differences_at(second, s, state.east, state.north, state.plane, &dh);
            state.plane = fit_plane(s, dh);
            out.fault = shift_pass(second, s, spacing, centre, settings, &state);
        }
    }
    found.iterations = state.iterations;
    found.converged = state.converged;
    found.east_cells = state.east;
    found.north_cells = state.north;
    found.east_m = state.east * spacing.east[centre];
    found.north_m = state.north * spacing.north[centre];
    if (out.fault.kind != coregister_fine) {
        out.fault.iterations = state.iterations;
        return out;
    }
    differences_at(second, s, state.east, state.north, state.plane, &dh);
    const double offset = vertical_offset(dh);
    found.up_m = state.plane.height + offset;
    found.plane_east = state.plane.east;
    found.plane_north = state.plane.north;
    for (double &v : dh)
        v = offset - v;
    const robust_figures after = robust_of(dh);
    found.median_after_m = after.median;
    found.nmad_after_m = after.nmad;
    found.histogram = histogram_of(first_less_second_before, before, dh, after);
    return out;
}

void fill_coregistered(const grid_view &second, const grid_view &target, const coregistration &found,
                       const coregister_frame &frame, bool heights)
{
    if (found.east_cells == 0.0 && found.north_cells == 0.0) {
        // No shift: the values themselves, not a bilinear of weights 0 that a gap beside
        // would still spoil.
        for (int32_t i = 0; i < target.lines; i++)
            std::copy(second.cells[i], second.cells[i] + target.columns, target.cells[i]);
    } else {
        bilinear_fill_affine(second, target, {found.east_cells, 1.0, -found.north_cells, 1.0});
    }
    if (heights)
        remove_coregistered_heights(target, found, frame);
}

void remove_coregistered_heights(const grid_view &target, const coregistration &found, const coregister_frame &frame,
                                 target_lines band)
{
    if (band.end < 0)
        band = {0, target.lines};
    const line_spacing spacing = ground_spacing_of_lines(frame);
    const size_t centre = static_cast<size_t>(frame.lines / 2);
    const double centre_column = 0.5 * (frame.columns - 1), centre_line = 0.5 * (frame.lines - 1);
    for (int32_t i = band.first; i < band.end; i++) {
        const double line_height = found.up_m + found.plane_north * (centre_line - i) * spacing.north[centre];
        const double east_rise = found.plane_east * spacing.east[centre];
        double *out = target.cells[i];
        for (int32_t j = 0; j < target.columns; j++)
            out[j] -= line_height + east_rise * (j - centre_column);
    }
}

std::string coregistration_text(const coregistration &f)
{
    std::string text = text_printf("\n\tThe second DEM aligned on the first on stable ground (coregistration %s, "
                                   "%zu stable cells",
                                   coregister_method_name(f.method), f.stable_cells);
    if (f.fitted_cells < f.stable_cells)
        text += text_printf(", a sample of %zu fitted", f.fitted_cells);
    text += "):\n";
    text += text_printf("\t\tthe second DEM lies east %lf m (%lf cells), north %lf m (%lf cells), up %lf m of the "
                        "first\n",
                        f.east_m, f.east_cells, f.north_m, f.north_cells, f.up_m);
    if (f.tilted)
        text += text_printf("\t\tand tilts %lf m per km east, %lf m per km north (a plane, %lf m at the centre)\n",
                            f.plane_east * 1000.0, f.plane_north * 1000.0, f.up_m);
    if (f.method != coregister_vertical)
        text += text_printf("\t\t%d iterations, %s\n", f.iterations,
                            f.converged ? "converged" : "not converged: the last shift moved 0.01 cell or more");
    text += text_printf("\t\tstable differences (first - second): median %lf m, NMAD %lf m before; median %lf m, "
                        "NMAD %lf m after\n",
                        f.median_before_m, f.nmad_before_m, f.median_after_m, f.nmad_after_m);
    const double reach = std::hypot(f.east_cells, f.north_cells);
    if (f.converged && reach > COREGISTER_WARNING_CELLS)
        text += text_printf("\tWarning: the second DEM is shifted by %lf cells from the first: check that the "
                            "epochs are of one place and the stable ground is right.\n",
                            reach);
    return text;
}

std::string coregister_fault_text(const coregister_fault &fault, const std::string &first_path,
                                  const std::string &second_path)
{
    if (fault.kind == coregister_too_few_cells && fault.bins_needed == 0)
        return text_printf("\n\tToo few stable cells to align the second DEM %s on the first %s: %zu with data in "
                           "both, at least %zu needed. Give a larger stable-ground mask.\n",
                           second_path.c_str(), first_path.c_str(), fault.cells, fault.cells_needed);
    if (fault.kind == coregister_too_few_cells)
        return text_printf("\n\tToo few stable cells to find the shift of the second DEM %s on the first %s: %zu "
                           "cells of slopes between %g and %g degrees fill %zu of the %zu aspect bins with %zu "
                           "cells each, and at least %zu such bins (%zu cells) are needed. Give a larger "
                           "stable-ground mask, or --coregister vertical.\n",
                           second_path.c_str(), first_path.c_str(), fault.cells, LEAST_SLOPE, MOST_SLOPE, fault.bins,
                           COREGISTER_ASPECT_BINS, COREGISTER_BIN_CELLS, fault.bins_needed, fault.cells_needed);
    if (fault.kind == coregister_diverged)
        return text_printf("\n\tThe shift of the second DEM %s on the first %s does not converge: it grew to %lf "
                           "cells in %d iterations. The epochs are not of one place, or the stable-ground mask is "
                           "wrong: check them.\n",
                           second_path.c_str(), first_path.c_str(), fault.shift_cells, fault.iterations);
    return "";
}

