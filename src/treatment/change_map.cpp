#include "treatment/change_map.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <csetjmp>
#include <functional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/wider_vectors.h"
#include "platform/worker_thread.h"
#include "treatment/change_test.h"

namespace {

void set_bin_width(change_histogram *h)
{
    h->width = h->width_digit * std::pow(10.0, h->width_exponent);
    h->inverse_width = 1.0 / h->width;
    h->coverage = h->width * static_cast<double>(CHANGE_BINS);
}

// The widths a bin takes, in order: each step groups 2, then 5, bins into one.
void widen_once(change_histogram *h)
{
    const size_t group = h->width_digit == 1 ? 2 : 5;
    if (h->width_digit == 1) {
        h->width_digit = 2;
    } else {
        h->width_digit = 1;
        h->width_exponent++;
    }
    set_bin_width(h);
    for (size_t first = 0; first < HISTOGRAM_SLOTS; first += CHANGE_BINS)
        for (std::vector<double> *values : {&h->area, &h->volume}) {
            double *bins = values->data() + first;
            // Ascending, a bin is regrouped before its place is written over.
            for (size_t k = 0; k < CHANGE_BINS; k++) {
                double sum = 0.0;
                for (size_t m = group * k; m < group * k + group && m < CHANGE_BINS; m++)
                    sum += bins[m];
                bins[k] = sum;
            }
        }
}

// Rows [0, rows) in two halves, the second on another thread when there is one:
// work(0, 0, half) here and work(1, half, rows) there, or work(0, 0, rows) alone.
void on_two_threads(size_t rows, const std::function<void(size_t, size_t, size_t)> &work)
{
    const size_t half = rows / 2;
    worker_thread worker;
    const bool shared = half > 0 && worker_start(&worker);
    if (shared)
        worker_post(&worker, [&] { work(1, half, rows); });
    work(0, 0, shared ? half : rows);
    if (shared) {
        worker_wait(&worker);
        worker_stop(&worker);
    }
}

bool narrower(const change_histogram &a, const change_histogram &b)
{
    return a.width_exponent < b.width_exponent ||
           (a.width_exponent == b.width_exponent && a.width_digit < b.width_digit);
}

double detected_area_of_bin(const change_histogram &h, size_t k)
{
    return h.area[histogram_slot(FIRST_ABOVE, true, k)] + h.area[histogram_slot(FIRST_BELOW, true, k)];
}

// The cells of one line: the sums of its columns for the map, its changes into the
// histogram. A cell adds its area and volume to its slot of one of several copies of
// the bins, each slot's two sums side by side (one addition of a pair), neighbouring
// cells in different copies so that neighbouring cells of one bin do not wait for each
// other; the copies are added into the histogram when it widens and at the end.
const size_t COPIES = 2;
struct line_gathering {
    std::vector<double> change, height;                  // per column, over a row of pixels
    std::vector<double> change_missing, height_missing;  // cells without a change, an elevation
    std::vector<int32_t> slots;                          // of each cell of the line
    std::vector<double> volumes;
    change_histogram histogram;
    std::vector<double> pending[COPIES];  // area, volume of each slot, since the last adding
    std::vector<double> second;           // the second grid's line as the test sees it
};

// A cell where either grid has no error has no change the test can judge: it has no data,
// in the pass as here. The grid itself is left as it was read.
const double *second_line_with_errors(const double *b, const double *s1, const double *s2, size_t columns,
                                      std::vector<double> *line)
{
    line->resize(columns);
    for (size_t j = 0; j < columns; j++)
        (*line)[j] = (s1[j] != s1[j]) | (s2[j] != s2[j]) ? NAN : b[j];
    return line->data();
}

void add_pending(line_gathering *g)
{
    change_histogram &h = g->histogram;
    for (std::vector<double> &sums : g->pending) {
        for (size_t slot = 0; slot < h.area.size(); slot++) {
            h.area[slot] += sums[2 * slot];
            h.volume[slot] += sums[2 * slot + 1];
        }
        std::fill(sums.begin(), sums.end(), 0.0);
    }
}

// The slot of a change of that magnitude; beyond the histogram's when it is not a
// finite number (the fix of such a line sees to it).
inline double slot_of(double d, double magnitude, double inverse_width, double limit)
{
    double at = magnitude * inverse_width;
    at = at < static_cast<double>(CHANGE_BINS - 1) ? at : static_cast<double>(CHANGE_BINS - 1);
    const double part = (d < 0.0 ? 2.0 : 0.0) + (change_detected(magnitude, limit) ? 1.0 : 0.0);
    return part * static_cast<double>(CHANGE_BINS) + at;
}

#if defined(__GNUC__)
#define LINE_INLINE inline __attribute__((always_inline))
#else
#define LINE_INLINE inline
#endif

// A cell's limit: the uniform one, or t times the root sum of squares of its errors.
template <bool ERRORS>
LINE_INLINE double cell_limit(double limit, const double *s1, const double *s2, double t, size_t j)
{
    if (!ERRORS)
        return limit;
    return confidence_limit(t, s1[j], s2[j]);
}

// One line in one pass, several cells at once: the sums of its columns for the map, the
// slot and the volume of each cell, the largest change each way. Returns the sum of the
// changes, which is not a finite number when a cell's change is not.
template <bool ERRORS>
LINE_INLINE double line_pass_of(const double *__restrict a, const double *__restrict b, const double *s1,
                                const double *s2, double t, size_t columns, double uniform_limit,
                                double inverse_width, double cell_area, line_gathering *g, double *above,
                                double *below)
{
    double *__restrict change = g->change.data();
    double *__restrict height = g->height.data();
    int32_t *__restrict slots = g->slots.data();
    double *__restrict volumes = g->volumes.data();
    double up = 0.0, down = 0.0, sum = 0.0;
#if defined(__GNUC__)
#pragma omp simd reduction(max : up) reduction(min : down) reduction(+ : sum)
#endif
    for (size_t j = 0; j < columns; j++) {
        const double x = a[j];
        const double d = x - b[j];
        const double magnitude = std::fabs(d);
        const double limit = cell_limit<ERRORS>(uniform_limit, s1, s2, t, j);
        // Not a number fails every test: a cell without data adds nothing.
        change[j] += change_detected(magnitude, limit) & (magnitude <= DBL_MAX) ? d : 0.0;
        height[j] += x == x ? x : 0.0;
        slots[j] = static_cast<int32_t>(slot_of(d, magnitude, inverse_width, limit));
        volumes[j] = magnitude * cell_area;
        sum += d;
        up = d > up ? d : up;
        down = d < down ? d : down;
    }
    *above = up;
    *below = -down;
    return sum;
}

ALSO_IN_WIDER_VECTORS double line_pass(const double *__restrict a, const double *__restrict b, size_t columns,
                                       double limit, double inverse_width, double cell_area, line_gathering *g,
                                       double *above, double *below)
{
    return line_pass_of<false>(a, b, nullptr, nullptr, 0.0, columns, limit, inverse_width, cell_area, g, above,
                               below);
}

// With each cell's own limit, from the errors of its two grids.
ALSO_IN_WIDER_VECTORS double line_pass_errors(const double *__restrict a, const double *__restrict b,
                                              const double *s1, const double *s2, double t, size_t columns,
                                              double inverse_width, double cell_area, line_gathering *g,
                                              double *above, double *below)
{
    return line_pass_of<true>(a, b, s1, s2, t, columns, 0.0, inverse_width, cell_area, g, above, below);
}

// The slots alone, once the bins have widened.
template <bool ERRORS>
void line_slots(const double *__restrict a, const double *__restrict b, const double *s1, const double *s2,
                double t, size_t columns, double uniform_limit, double inverse_width, int32_t *__restrict slots)
{
#if defined(__GNUC__)
#pragma omp simd
#endif
    for (size_t j = 0; j < columns; j++) {
        const double d = a[j] - b[j];
        const double limit = cell_limit<ERRORS>(uniform_limit, s1, s2, t, j);
        slots[j] = static_cast<int32_t>(slot_of(d, std::fabs(d), inverse_width, limit));
    }
}

// A line with cells without data, or with changes that are not finite numbers: those
// cells have no slot, and (when counting) are counted apart from the sums; the largest
// changes are those of the others.
void fix_line(const double *a, const double *b, size_t columns, bool counting, line_gathering *g, double *above,
              double *below)
{
    *above = *below = 0.0;
    for (size_t j = 0; j < columns; j++) {
        const double d = a[j] - b[j];
        if (!(std::fabs(d) <= DBL_MAX)) {
            g->slots[j] = static_cast<int32_t>(HISTOGRAM_SLOTS);
            g->change_missing[j] += counting ? 1.0 : 0.0;
        } else {
            *above = std::max(*above, d);
            *below = std::max(*below, -d);
        }
        if (counting && std::isnan(a[j]))
            g->height_missing[j] += 1.0;
    }
}

// s1 and s2, when not null, are the line's errors of the two grids, t the factor of the
// confidence level: each cell then has its own limit.
void gather_line(const double *a, const double *b, const double *s1, const double *s2, double t, size_t columns,
                 double cell_area, double limit, line_gathering *g)
{
    change_histogram &h = g->histogram;
    double above, below;
    const bool errors = s1 != nullptr;
    if (errors)
        b = second_line_with_errors(b, s1, s2, columns, &g->second);
    const double sum = errors ? line_pass_errors(a, b, s1, s2, t, columns, h.inverse_width, cell_area, g, &above,
                                                 &below)
                              : line_pass(a, b, columns, limit, h.inverse_width, cell_area, g, &above, &below);
    const bool whole = std::fabs(sum) <= DBL_MAX;
    if (!whole)
        fix_line(a, b, columns, true, g, &above, &below);
    const double largest = std::max(above, below);
    if (!(largest < h.coverage)) {
        add_pending(g);
        widen_histogram(&h, largest);
        if (errors)
            line_slots<true>(a, b, s1, s2, t, columns, 0.0, h.inverse_width, g->slots.data());
        else
            line_slots<false>(a, b, nullptr, nullptr, 0.0, columns, limit, h.inverse_width, g->slots.data());
        if (!whole)
            fix_line(a, b, columns, false, g, &above, &below);
    }
    h.largest[FIRST_ABOVE] = std::max(h.largest[FIRST_ABOVE], above);
    h.largest[FIRST_BELOW] = std::max(h.largest[FIRST_BELOW], below);
    double *pending[COPIES];
    for (size_t k = 0; k < COPIES; k++)
        pending[k] = g->pending[k].data();
    const int32_t *slots = g->slots.data();
    const double *volumes = g->volumes.data();
    auto add = [&](size_t k, size_t j) {
        double *sums = pending[k] + 2 * static_cast<size_t>(slots[j]);
#if defined(__SSE2__)
        _mm_storeu_pd(sums, _mm_add_pd(_mm_loadu_pd(sums), _mm_set_pd(volumes[j], cell_area)));
#else
        sums[0] += cell_area;
        sums[1] += volumes[j];
#endif
    };
    size_t j = 0;
    for (; j + COPIES <= columns; j += COPIES)
        for (size_t k = 0; k < COPIES; k++)
            add(k, j + k);
    for (; j < columns; j++)
        add(0, j);
}

// Pixel rows [first_row, end_row) of the map, and their cells into *histogram.
struct gather_input {
    double *const *first, *const *second;
    size_t lines, columns;
    const double *line_areas;
    double limit;
    line_work before_line;
    const cell_errors *errors;
};

void start_line_gathering(line_gathering *g, size_t columns)
{
    for (std::vector<double> *sums : {&g->change, &g->height, &g->change_missing, &g->height_missing, &g->volumes})
        sums->assign(columns, 0.0);
    g->slots.assign(columns, 0);
    g->histogram = empty_histogram();
    for (std::vector<double> &sums : g->pending)
        sums.assign(2 * g->histogram.area.size(), 0.0);
}

void gather_rows(const gather_input &in, change_pixels *pixels, size_t half, size_t first_row, size_t end_row,
                 line_gathering *g)
{
    const size_t f = pixels->factor;
    for (size_t row = first_row; row < end_row; row++) {
        const size_t end_line = std::min(row * f + f, in.lines);
        for (size_t i = row * f; i < end_line; i++) {
            if (in.before_line)
                in.before_line(half, i);
            const cell_errors *e = in.errors;
            gather_line(in.first[i], in.second[i], e != nullptr ? e->first[i] : nullptr,
                        e != nullptr ? e->second[i] : nullptr, e != nullptr ? e->t : 0.0, in.columns,
                        in.line_areas[i], in.limit, g);
        }
        const double lines = static_cast<double>(end_line - row * f);
        for (size_t p = 0; p < pixels->columns; p++) {
            double change = 0.0, changes = 0.0, height = 0.0, heights = 0.0;
            for (size_t j = p * f; j < std::min(p * f + f, in.columns); j++) {
                change += g->change[j];
                changes += lines - g->change_missing[j];
                height += g->height[j];
                heights += lines - g->height_missing[j];
            }
            const size_t at = row * pixels->columns + p;
            pixels->change[at] = changes > 0.0 ? static_cast<float>(change / changes) : NAN;
            pixels->elevation[at] = heights > 0.0 ? static_cast<float>(height / heights) : NAN;
        }
        for (std::vector<double> *sums : {&g->change, &g->height, &g->change_missing, &g->height_missing})
            std::fill(sums->begin(), sums->end(), 0.0);
    }
}

} // namespace

// The map's rows fall in two halves, each gathered in order into its own sums, whatever
// the bands they come in: the sums, and so every figure, are those of one pass.
struct change_gatherer {
    gather_input in;
    change_gathering g;
    size_t split = 0;  // the first row of the second half
    line_gathering halves[2];
};

std::shared_ptr<change_gatherer> start_gathering(double *const *first, double *const *second, int32_t lines,
                                                 int32_t columns, const std::vector<double> &line_areas,
                                                 double limit, size_t longest_side, const line_work &before_line,
                                                 const cell_errors *errors)
{
    auto gatherer = std::make_shared<change_gatherer>();
    change_gathering &g = gatherer->g;
    g.histogram = empty_histogram();
    gatherer->in = {first, second, static_cast<size_t>(std::max(lines, 0)), static_cast<size_t>(std::max(columns, 0)),
                    line_areas.data(), limit, before_line, errors};
    if (lines <= 0 || columns <= 0)
        return gatherer;
    change_pixels &pixels = g.pixels;
    pixels.factor = downsampling_factor(lines, columns, longest_side);
    pixels.rows = (static_cast<size_t>(lines) + pixels.factor - 1) / pixels.factor;
    pixels.columns = (static_cast<size_t>(columns) + pixels.factor - 1) / pixels.factor;
    pixels.change.assign(pixels.rows * pixels.columns, 0.0f);
    pixels.elevation.assign(pixels.rows * pixels.columns, 0.0f);
    gatherer->split = pixels.rows / 2 > 0 ? pixels.rows / 2 : pixels.rows;
    for (line_gathering &half : gatherer->halves)
        start_line_gathering(&half, gatherer->in.columns);
    return gatherer;
}

size_t gathering_row_lines(const change_gatherer &gatherer)
{
    return gatherer.g.pixels.factor;
}

void gather_band(change_gatherer *gatherer, int32_t first_line, int32_t end_line)
{
    change_pixels &pixels = gatherer->g.pixels;
    if (pixels.rows == 0)
        return;
    const size_t f = pixels.factor;
    const size_t first_row = static_cast<size_t>(first_line) / f;
    const size_t end_row = std::min(pixels.rows, (static_cast<size_t>(end_line) + f - 1) / f);
    const size_t split = std::clamp(gatherer->split, first_row, end_row);
    const auto work = [&](size_t half, size_t from, size_t to) {
        gather_rows(gatherer->in, &pixels, half, from, to, &gatherer->halves[half]);
    };
    worker_thread worker;
    const bool shared = first_row < split && split < end_row && worker_start(&worker);
    if (shared)
        worker_post(&worker, [&] { work(1, split, end_row); });
    if (first_row < split)
        work(0, first_row, split);
    if (shared) {
        worker_wait(&worker);
        worker_stop(&worker);
    } else if (split < end_row) {
        work(1, split, end_row);
    }
}

change_gathering finish_gathering(change_gatherer *gatherer)
{
    change_gathering g = std::move(gatherer->g);
    if (g.pixels.rows == 0)
        return g;
    change_histogram halves[2];
    for (size_t half = 0; half < 2; half++) {
        add_pending(&gatherer->halves[half]);
        halves[half] = std::move(gatherer->halves[half].histogram);
    }
    g.histogram = halves[0];
    if (gatherer->split < g.pixels.rows)
        merge_histograms(&g.histogram, halves[1]);
    return g;
}

namespace {

} // namespace

change_histogram empty_histogram()
{
    change_histogram h;
    // The upper half takes the cells whose change is not a finite number, and is never read.
    h.area.assign(2 * HISTOGRAM_SLOTS, 0.0);
    h.volume.assign(2 * HISTOGRAM_SLOTS, 0.0);
    set_bin_width(&h);
    return h;
}

void widen_histogram(change_histogram *h, double magnitude)
{
    while (!(magnitude < h->coverage) && magnitude <= DBL_MAX)
        widen_once(h);
}

void merge_histograms(change_histogram *into, const change_histogram &part)
{
    change_histogram wider = part;
    while (narrower(*into, wider))
        widen_once(into);
    while (narrower(wider, *into))
        widen_once(&wider);
    for (size_t k = 0; k < HISTOGRAM_SLOTS; k++) {
        into->area[k] += wider.area[k];
        into->volume[k] += wider.volume[k];
    }
    for (size_t side = 0; side < 2; side++)
        into->largest[side] = std::max(into->largest[side], wider.largest[side]);
}

double detected_percentile(const change_histogram &h, double fraction)
{
    double total = 0.0;
    for (size_t k = 0; k < CHANGE_BINS; k++)
        total += detected_area_of_bin(h, k);
    if (!(total > 0.0))
        return 0.0;
    const double target = fraction * total;
    double below = 0.0;
    for (size_t k = 0; k < CHANGE_BINS; k++) {
        const double here = detected_area_of_bin(h, k);
        if (here > 0.0 && below + here >= target) {
            // Within the bin, the magnitudes are taken as spread evenly.
            const double value = (static_cast<double>(k) + (target - below) / here) * h.width;
            return std::min(value, std::max(h.largest[0], h.largest[1]));
        }
        below += here;
    }
    return std::max(h.largest[0], h.largest[1]);
}

size_t downsampling_factor(int32_t lines, int32_t columns, size_t longest_side)
{
    const size_t side = static_cast<size_t>(std::max(std::max(lines, columns), 0));
    return std::max<size_t>(1, (side + longest_side - 1) / longest_side);
}

change_gathering gather_change(double *const *first, double *const *second, int32_t lines, int32_t columns,
                               const std::vector<double> &line_areas, double limit, size_t longest_side,
                               const line_work &before_line, const cell_errors *errors)
{
    const std::shared_ptr<change_gatherer> gatherer =
        start_gathering(first, second, lines, columns, line_areas, limit, longest_side, before_line, errors);
    gather_band(gatherer.get(), 0, lines);
    return finish_gathering(gatherer.get());
}

pixel_spacing ground_spacing(const frame_geometry &frame, size_t factor, size_t rows)
{
    pixel_spacing spacing;
    const double step_x = static_cast<double>(factor) * frame.cellsize;
    const double step_y = static_cast<double>(factor) * cell_height(frame);
    spacing.x.assign(rows, step_x);
    spacing.y.assign(rows, step_y);
    if (frame.degrees) {
        const double top = frame.yll + static_cast<double>(frame.lines) * cell_height(frame);
        for (size_t r = 0; r < rows; r++) {
            const double latitude = top - (static_cast<double>(r) + 0.5) * step_y;
            spacing.x[r] = step_x * metres_per_degree_east(latitude);
            spacing.y[r] = step_y * metres_per_degree_north(latitude);
        }
    }
    return spacing;
}

double ground_metres_per_unit(const frame_geometry &frame)
{
    if (!frame.degrees)
        return 1.0;
    return metres_per_degree_east(frame.yll + 0.5 * static_cast<double>(frame.lines) * cell_height(frame));
}

namespace {

// The light on a pixel from the slope of its neighbours, z[line][column] with line 0 to
// the north, east_scale and north_scale being 1 / (8 x the pixels' spacing in metres):
// 0 to 1, or not a number when a neighbour is missing.
inline double light_from(const double z[3][3], double east_scale, double north_scale)
{
    const double sun_x = -0.5, sun_y = 0.5, sun_z = 0.70710678118654752;  // from 315 degrees, 45 high
    const double east = ((z[0][2] + 2.0 * z[1][2] + z[2][2]) - (z[0][0] + 2.0 * z[1][0] + z[2][0])) * east_scale;
    const double north = ((z[0][0] + 2.0 * z[0][1] + z[0][2]) - (z[2][0] + 2.0 * z[2][1] + z[2][2])) * north_scale;
    const double lit = (sun_z - east * sun_x - north * sun_y) / std::sqrt(1.0 + east * east + north * north);
    return lit < 0.0 ? 0.0 : lit > 1.0 ? 1.0 : lit;
}

// Row r's pixels [1, columns - 1) when it has a row on each side, several at once.
void inner_lights(const float *__restrict above, const float *__restrict here, const float *__restrict below,
                  size_t columns, double east_scale, double north_scale, double *__restrict lits)
{
    const size_t last = columns > 0 ? columns - 1 : 0;
#if defined(__GNUC__)
#pragma omp simd
#endif
    for (size_t c = 1; c < last; c++) {
        const double z[3][3] = {{above[c - 1], above[c], above[c + 1]},
                                {here[c - 1], here[c], here[c + 1]},
                                {below[c - 1], below[c], below[c + 1]}};
        lits[c] = light_from(z, east_scale, north_scale);
    }
}

} // namespace

std::vector<uint8_t> hillshade(const std::vector<float> &elevation, size_t rows, size_t columns,
                               const pixel_spacing &spacing)
{
    std::vector<uint8_t> light(rows * columns, 0);
    auto value = [&](size_t r, size_t c, long dr, long dc) {
        const long rr = static_cast<long>(r) + dr, cc = static_cast<long>(c) + dc;
        if (rr < 0 || cc < 0 || rr >= static_cast<long>(rows) || cc >= static_cast<long>(columns))
            return static_cast<double>(NAN);
        return static_cast<double>(elevation[static_cast<size_t>(rr) * columns + static_cast<size_t>(cc)]);
    };
    on_two_threads(rows, [&](size_t, size_t first_row, size_t end_row) {
        std::vector<double> lits(columns, NAN);
        for (size_t r = first_row; r < end_row; r++) {
            const double east_scale = 1.0 / (8.0 * spacing.x[r]), north_scale = 1.0 / (8.0 * spacing.y[r]);
            const float *here = &elevation[r * columns];
            std::fill(lits.begin(), lits.end(), NAN);
            if (r > 0 && r + 1 < rows)
                inner_lights(here - columns, here, here + columns, columns, east_scale, north_scale, lits.data());
            for (size_t c = 0; c < columns; c++) {
                if (std::isnan(here[c]))
                    continue;
                double lit = lits[c];
                // At the edges and beside cells without data, a missing neighbour continues
                // the slope through the pixel from the one opposite, or is level with the
                // pixel when that is missing too.
                if (std::isnan(lit)) {
                    double z[3][3];
                    for (long dr = -1; dr <= 1; dr++)
                        for (long dc = -1; dc <= 1; dc++) {
                            const double near = value(r, c, dr, dc), opposite = value(r, c, -dr, -dc);
                            z[dr + 1][dc + 1] = !std::isnan(near)       ? near
                                                : std::isnan(opposite) ? static_cast<double>(here[c])
                                                                       : 2.0 * here[c] - opposite;
                        }
                    lit = light_from(z, east_scale, north_scale);
                }
                light[r * columns + c] = static_cast<uint8_t>(255.0 * lit + 0.5);
            }
        }
    });
    return light;
}

rgb ramp_colour(double value)
{
    // Blue below, red above, white between: the eleven classes of the usual diverging
    // scheme of change maps, with pure white at the middle.
    static const rgb stops[] = {{5, 48, 97},    {33, 102, 172}, {67, 147, 195}, {146, 197, 222},
                                {209, 229, 240}, {255, 255, 255}, {253, 219, 199}, {244, 165, 130},
                                {214, 96, 77},   {178, 24, 43},   {103, 0, 31}};
    const double t = (std::clamp(std::isnan(value) ? 0.0 : value, -1.0, 1.0) + 1.0) * 5.0;
    const size_t k = std::min<size_t>(static_cast<size_t>(t), 9);
    const double u = t - static_cast<double>(k);
    auto mix = [u](uint8_t a, uint8_t b) { return static_cast<uint8_t>(std::lround(a + (b - a) * u)); };
    return {mix(stops[k].r, stops[k + 1].r), mix(stops[k].g, stops[k + 1].g), mix(stops[k].b, stops[k + 1].b)};
}

namespace {

// The share of its colour a pixel keeps under a light: flat ground and slopes facing the
// sun nearly all, slopes turned from it a part that still shows their colour.
double light_factor(uint8_t light)
{
    return std::min(1.0, 0.25 + light / 255.0);
}

uint8_t dimmed(uint8_t channel, double factor)
{
    return static_cast<uint8_t>(channel * factor + 0.5);
}

} // namespace

const rgb NO_DATA_COLOUR = {224, 224, 224};

std::vector<unsigned char> map_colours(const change_pixels &pixels, const std::vector<uint8_t> &light, double bound)
{
    // The ramp in 2048 steps and the lights, worked out once.
    const size_t STEPS = 2048;
    std::vector<rgb> ramp(STEPS + 1);
    for (size_t k = 0; k <= STEPS; k++)
        ramp[k] = ramp_colour(2.0 * static_cast<double>(k) / STEPS - 1.0);
    double factors[256];
    for (size_t k = 0; k < 256; k++)
        factors[k] = light_factor(static_cast<uint8_t>(k));
    const double scale = bound > 0.0 ? 1.0 / bound : 0.0;
    std::vector<unsigned char> image(3 * pixels.columns * pixels.rows);
    on_two_threads(pixels.rows, [&](size_t, size_t first_row, size_t end_row) {
        for (size_t at = first_row * pixels.columns; at < end_row * pixels.columns; at++) {
            const double change = pixels.change[at];
            rgb colour = NO_DATA_COLOUR;
            if (!std::isnan(change)) {
                const double v = std::clamp(change * scale, -1.0, 1.0);
                const rgb &c = ramp[static_cast<size_t>((v + 1.0) * (STEPS / 2) + 0.5)];
                const double f = factors[light[at]];
                colour = {dimmed(c.r, f), dimmed(c.g, f), dimmed(c.b, f)};
                // Only cells without data may be transparent.
                if (colour == NO_DATA_COLOUR)
                    colour.b--;
            }
            image[3 * at] = colour.r;
            image[3 * at + 1] = colour.g;
            image[3 * at + 2] = colour.b;
        }
    });
    return image;
}

namespace {

void append_png_bytes(png_structp png, png_bytep data, size_t size)
{
    auto *bytes = static_cast<std::vector<unsigned char> *>(png_get_io_ptr(png));
    bytes->insert(bytes->end(), data, data + size);
}

void no_flush(png_structp) {}

// libpng leaves by a long jump back to where it was called on any error; nothing is
// said, the caller tells the user.
void png_failed(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void png_warned(png_structp, png_const_charp) {}

// Between setjmp and the jump only libpng's own frames run: no destructor is skipped.
bool write_png(png_structp png, png_infop info, size_t width, size_t height, const unsigned char *pixels,
               const rgb *transparent)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (transparent != nullptr) {
        png_color_16 key = {0, transparent->r, transparent->g, transparent->b, 0};
        png_set_tRNS(png, info, nullptr, 0, &key);
    }
    // The fastest deflate, runs only, after each row is taken from the one above: maps
    // are mostly smooth, and a large one would otherwise take longer than the rest of
    // the report.
    png_set_compression_level(png, 1);
    png_set_compression_strategy(png, Z_RLE);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    png_write_info(png, info);
    for (size_t r = 0; r < height; r++)
        png_write_row(png, pixels + 3 * width * r);
    png_write_end(png, nullptr);
    return true;
}

} // namespace

std::vector<unsigned char> encode_png_rgb(size_t width, size_t height, const unsigned char *pixels,
                                          const rgb *transparent)
{
    std::vector<unsigned char> bytes;
    if (width == 0 || height == 0 || width > PNG_UINT_31_MAX || height > PNG_UINT_31_MAX)
        return bytes;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_failed, png_warned);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    bool written = false;
    if (info != nullptr) {
        png_set_write_fn(png, &bytes, append_png_bytes, no_flush);
        written = write_png(png, info, width, height, pixels, transparent);
    }
    png_destroy_write_struct(&png, &info);
    if (!written)
        bytes.clear();
    return bytes;
}
