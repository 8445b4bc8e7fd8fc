#include "ormelix/coregistration_bands.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "console/console.h"
#include "console/progress.h"
#include "globals/globals.h"
#include "regrid/frame_step.h"
#include "treatment/band_pass.h"
#include "treatment/stable_ground.h"

namespace {

const double NO_DATA = std::numeric_limits<double>::quiet_NaN();
// A window's side in cells: the four neighbours of a position up to a cell either way of the
// one it was gathered for.
const int32_t SIDE = 4;
const size_t WINDOW = static_cast<size_t>(SIDE) * SIDE;

// What a pass over the bands reads: the epochs (and the --stable mask), the second epoch
// alone, or the mask alone.
enum band_reading { epochs_read, second_read, mask_read };

// Runs each(line) over the frame's lines, band by band, a phase of the progress: dtab_dem1
// and dtab_dem2 hold the line, on the result's frame, of the grids read.
template <typename Each>
void over_bands(const char *phase, band_reading reading, const Each &each)
{
    progress_phase(phase);
    start_run_bands();
    const int32_t band = run_band_lines(1);
    for (int32_t i = 0; i < nb_lig; i += band) {
        const int32_t end = std::min(i + band, nb_lig);
        if (reading == second_read)
            load_run_second_band(i, end);
        else if (reading == mask_read)
            load_run_stable_band(i, end);
        else
            load_run_band(i, end, false);
        for (int32_t line = i; line < end; line++)
            each(line);
        progress_to(static_cast<double>(end) / nb_lig);
    }
    end_run_bands();
}

// The --stable mask's line of the result's frame as the whole run holds it (1 on stable
// cells, NaN being none); null without a mask.
struct mask_line {
    std::vector<uint8_t> cells;
    int32_t first_line = 0, first_column = 0;

    mask_line()
    {
        first_grid_window(&first_line, &first_column);
        cells.resize(static_cast<size_t>(nb_col));
    }
    const uint8_t *of(int32_t i)
    {
        double *const *values = run_band_stable_values();
        if (values == nullptr)
            return nullptr;
        const double *line = values[first_line + i] + first_column;
        for (int32_t j = 0; j < nb_col; j++)
            cells[static_cast<size_t>(j)] = line[j] != 0.0 && !std::isnan(line[j]);
        return cells.data();
    }
};

// The windows of the second grid around each sample cell: cell (r, c) of cell k's window
// is the frame's line + origin_line + r, column + origin_column + c (NaN off the frame). Held
// as floats while every value put in is one (a grid of Float32 on the frame's cells), which
// halves their room; as doubles from the first that is not.
struct second_windows {
    const coregister_sample *sample = nullptr;
    int32_t origin_line = -1, origin_column = -1;
    bool narrow = true;
    std::vector<float> floats;
    std::vector<double> doubles;

    void resize(size_t cells_fitted)
    {
        if (narrow)
            floats.resize(cells_fitted * WINDOW, static_cast<float>(NO_DATA));
        else
            doubles.resize(cells_fitted * WINDOW, NO_DATA);
    }
    void widen()
    {
        doubles.assign(floats.begin(), floats.end());
        floats = std::vector<float>();
        narrow = false;
    }

    // Puts line `line` of the second grid into the windows that hold it.
    void add_line(int32_t line, const double *values)
    {
        const std::vector<int32_t> &lines = sample->line;
        const auto lo = std::lower_bound(lines.begin(), lines.end(), line - origin_line - (SIDE - 1));
        const auto hi = std::upper_bound(lo, lines.end(), line - origin_line);
        for (auto at = lo; at != hi; ++at) {
            const size_t k = static_cast<size_t>(at - lines.begin());
            const int32_t r = line - (*at + origin_line);
            const size_t cell = k * WINDOW + static_cast<size_t>(r) * SIDE;
            for (int32_t c = 0; c < SIDE; c++) {
                const int32_t column = sample->column[k] + origin_column + c;
                const double value = column >= 0 && column < nb_col ? values[column] : NO_DATA;
                if (narrow && static_cast<double>(static_cast<float>(value)) != value && !std::isnan(value))
                    widen();
                if (narrow)
                    floats[cell + static_cast<size_t>(c)] = static_cast<float>(value);
                else
                    doubles[cell + static_cast<size_t>(c)] = value;
            }
        }
    }

    // The bilinear value, as the kernel takes it on the whole grid, at sample cell k moved;
    // false when its neighbours are not all in its window.
    bool value_at(size_t k, double east, double north, double *value) const
    {
        *value = NO_DATA;
        if (nb_lig < 2 || nb_col < 2)
            return true;  // no four neighbours anywhere
        const bilinear_corner at =
            bilinear_corner_at(nb_lig, nb_col, sample->column[k] + east, sample->line[k] - north);
        if (!at.inside)
            return true;
        const int32_t r = at.line - (sample->line[k] + origin_line);
        const int32_t c = at.column - (sample->column[k] + origin_column);
        if (r < 0 || r > SIDE - 2 || c < 0 || c > SIDE - 2)
            return false;
        const size_t cell = k * WINDOW + static_cast<size_t>(r) * SIDE + static_cast<size_t>(c);
        double top[2], bottom[2];
        for (size_t d = 0; d < 2; d++) {
            top[d] = narrow ? floats[cell + d] : doubles[cell + d];
            bottom[d] = narrow ? floats[cell + SIDE + d] : doubles[cell + SIDE + d];
        }
        *value = bilinear_weighed(at, top, bottom);
        return true;
    }

    // Gathered again around the shift, from one more reading of the second grid.
    void centre_on(double east, double north)
    {
        origin_column = static_cast<int32_t>(std::floor(east)) - 1;
        origin_line = static_cast<int32_t>(std::floor(-north)) - 1;
        std::fill(floats.begin(), floats.end(), static_cast<float>(NO_DATA));
        std::fill(doubles.begin(), doubles.end(), NO_DATA);
        over_bands("alignment: the second again", second_read,
                   [&](int32_t line) { add_line(line, dtab_dem2[line]); });
    }
};

// The sample's cells taken line by line, in order, among the stable cells of the ranks
// drawn, each described once the first grid's line below it has come, and its window filled
// as the second's lines come: a line is put in once the cells of the line below it are known.
struct sample_taker {
    const std::vector<size_t> *ranks;
    const coregister_frame &frame;
    coregister_sample sample;
    second_windows windows;
    line_spacing spacing;
    std::vector<double> first_held, second_before;
    std::vector<double *> first_lines;
    size_t next = 0, described = 0;

    sample_taker(const std::vector<size_t> *drawn, const coregister_frame &of_frame)
        : ranks(drawn), frame(of_frame), spacing(ground_spacing_of_lines(of_frame)),
          first_held(3 * static_cast<size_t>(nb_col)), second_before(static_cast<size_t>(nb_col)),
          first_lines(static_cast<size_t>(nb_lig), nullptr)
    {
        windows.sample = &sample;
    }

    void describe_to(int32_t line)
    {
        const grid_view first{first_lines.data(), nb_lig, nb_col};
        for (; described < sample.size() && sample.line[described] <= line; described++)
            describe_sample_cell(first, frame, spacing, &sample, described);
    }

    // Line i of the frame, whose stable cells are ranked from rank on.
    void take_line(int32_t i, size_t rank, const uint8_t *mask)
    {
        coregister_sample &s = sample;
        add_sample_of_line(dtab_dem1[i], dtab_dem2[i], mask, nb_col, i, rank, *ranks, &next, &s);
        const size_t n = s.size();
        for (std::vector<double> *v : {&s.first, &s.tan_slope, &s.east_m, &s.north_m})
            v->resize(n);
        s.bin.resize(n);
        windows.resize(n);
        double *held = first_held.data() + static_cast<size_t>(i % 3) * static_cast<size_t>(nb_col);
        std::copy(dtab_dem1[i], dtab_dem1[i] + nb_col, held);
        if (i >= 3)
            first_lines[static_cast<size_t>(i - 3)] = nullptr;
        first_lines[static_cast<size_t>(i)] = held;
        if (i >= 1) {
            describe_to(i - 1);
            windows.add_line(i - 1, second_before.data());
        }
        std::copy(dtab_dem2[i], dtab_dem2[i] + nb_col, second_before.data());
    }

    void finish()
    {
        describe_to(nb_lig - 1);
        if (nb_lig > 0)
            windows.add_line(nb_lig - 1, second_before.data());
    }
};

} // namespace

coregister_outcome coregister_epochs_in_bands(const coregister_frame &frame, const coregister_settings &settings)
{
    mask_line mask;
    // The mask's cells before each line (a pass over the mask alone; every cell without
    // one), the ranks drawn among them, then the cells of those ranks with data in both
    // epochs taken in one reading of them, the stable cells with data counted besides.
    std::vector<size_t> before(static_cast<size_t>(nb_lig) + 1, 0);
    if (run_stable_lines() != nullptr)
        over_bands("alignment: the stable mask", mask_read, [&](int32_t i) {
            const size_t li = static_cast<size_t>(i);
            before[li + 1] = before[li] + coregister_mask_in_line(mask.of(i), nb_col);
        });
    else
        for (size_t i = 0; i < static_cast<size_t>(nb_lig); i++)
            before[i + 1] = before[i] + static_cast<size_t>(nb_col);
    const std::vector<size_t> ranks = coregister_sample_ranks(before.back(), settings);
    auto taker = std::make_unique<sample_taker>(&ranks, frame);
    size_t total = 0;
    over_bands("alignment: the sample", epochs_read, [&](int32_t i) {
        const uint8_t *stable = mask.of(i);
        total += coregister_stable_in_line(dtab_dem1[i], dtab_dem2[i], stable, nb_col);
        taker->take_line(i, before[static_cast<size_t>(i)], stable);
    });
    taker->finish();
    const coregister_sample &s = taker->sample;
    second_windows &windows = taker->windows;

    const coregister_second_values second = [&](double east, double north, std::vector<double> *values) {
        values->assign(s.size(), NO_DATA);
        for (int attempt = 0; attempt < 2; attempt++) {
            bool all = true;
            for (size_t k = 0; k < s.size() && all; k++)
                all = windows.value_at(k, east, north, &(*values)[k]);
            if (all)
                return;
            windows.centre_on(east, north);
        }
        stop_with_message("\n\tThe alignment's windows of the second DEM do not hold its cells at the shift of "
                          "%lf, %lf cells.\n",
                          east, north);
    };
    return coregister_sample_fit(s, total, second, frame, settings);
}
