#include "error_model/correlated_error.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>

#include "error_model/ground_distance.h"
#include "platform/worker_thread.h"

void correlated_error_collector::merge(const correlated_error_collector &later)
{
    above.insert(above.end(), later.above.begin(), later.above.end());
    below.insert(below.end(), later.below.begin(), later.below.end());
}

namespace {

bool line_order(const detected_cell &a, const detected_cell &b)
{
    return a.line < b.line || (a.line == b.line && a.column < b.column);
}

// Cells gathered into square blocks of a side of some cells: their summed weight at
// their weighted middle. Blocks come by block line, then block column.
struct cell_block {
    int64_t block_line = 0, block_column = 0;
    double line = 0.0, column = 0.0;
    double weight = 0.0;
};

std::vector<cell_block> gather_blocks(const std::vector<detected_cell> &cells, int64_t side)
{
    std::vector<cell_block> blocks;
    int64_t widest = 0;
    for (const detected_cell &cell : cells)
        widest = std::max<int64_t>(widest, cell.column / side + 1);
    std::vector<cell_block> row(static_cast<size_t>(widest));
    std::vector<uint8_t> in_row(static_cast<size_t>(widest), 0);
    std::vector<int64_t> touched;
    size_t i = 0;
    while (i < cells.size()) {
        const int64_t block_line = cells[i].line / side;
        for (; i < cells.size() && cells[i].line / side == block_line; i++) {
            const detected_cell &cell = cells[i];
            const size_t c = static_cast<size_t>(cell.column / side);
            if (!in_row[c]) {
                in_row[c] = 1;
                touched.push_back(static_cast<int64_t>(c));
                row[c].block_line = block_line;
                row[c].block_column = static_cast<int64_t>(c);
            }
            row[c].weight += cell.weight;
            row[c].line += cell.weight * cell.line;
            row[c].column += cell.weight * cell.column;
        }
        std::sort(touched.begin(), touched.end());
        for (int64_t c : touched) {
            cell_block &block = row[static_cast<size_t>(c)];
            if (block.weight > 0.0) {
                block.line /= block.weight;
                block.column /= block.weight;
                blocks.push_back(block);
            }
            block = cell_block();
            in_row[static_cast<size_t>(c)] = 0;
        }
        touched.clear();
    }
    return blocks;
}

// Blocks of one cell each, read from the cells themselves where every cell has a place of
// its own and a weight above 0: what gather_blocks would make of them, without a copy.
struct single_cell_blocks {
    const std::vector<detected_cell> &cells;
    size_t size() const { return cells.size(); }
    cell_block operator[](size_t i) const
    {
        const detected_cell &cell = cells[i];
        cell_block block;
        block.block_line = cell.line;
        block.block_column = cell.column;
        block.line = cell.weight * cell.line / cell.weight;
        block.column = cell.weight * cell.column / cell.weight;
        block.weight = cell.weight;
        return block;
    }
    int64_t column_of(size_t i) const { return cells[i].column; }
    int64_t line_of(size_t i) const { return cells[i].line; }
};

struct gathered_blocks {
    std::vector<cell_block> blocks;
    size_t size() const { return blocks.size(); }
    const cell_block &operator[](size_t i) const { return blocks[i]; }
    int64_t column_of(size_t i) const { return blocks[i].block_column; }
    int64_t line_of(size_t i) const { return blocks[i].block_line; }
};

// Whether the cells, in the lines' order, each have a place of their own and a weight
// above 0.
bool single_cells(const std::vector<detected_cell> &cells)
{
    for (size_t i = 0; i < cells.size(); i++) {
        if (!(cells[i].weight > 0.0))
            return false;
        if (i > 0 && cells[i].line == cells[i - 1].line && cells[i].column == cells[i - 1].column)
            return false;
    }
    return true;
}

// Σᵢ Σⱼ wᵢ wⱼ (c / σ²) (1 - spherical(dᵢⱼ, a)) over the pairs closer than the range a,
// from a systematic sample of the blocks (all of them when there are few).
template <class Blocks>
double spherical_part_of(const Blocks &blocks, int64_t side, double sill_share, double range_m,
                         const ground_metric &metric)
{
    const double cell_m = metric.smallest_cell();
    if (blocks.size() == 0)
        return 0.0;
    // Where each block line starts in the blocks.
    const int64_t block_lines = blocks.line_of(blocks.size() - 1) + 1;
    std::vector<size_t> line_start(static_cast<size_t>(block_lines) + 1, blocks.size());
    for (size_t i = blocks.size(); i-- > 0;)
        line_start[static_cast<size_t>(blocks.line_of(i))] = i;
    for (size_t r = static_cast<size_t>(block_lines); r-- > 0;)
        line_start[r] = std::min(line_start[r], line_start[r + 1]);

    const line_spacing &spacing = metric.lines();
    const size_t last_line = spacing.north.size() - 1;
    // Cells of one block lie on average 0.52 of its side apart (two points of a square).
    const double within_block = side > 1 ? 0.5214 * static_cast<double>(side) * cell_m : 0.0;
    // Each block's weight times the weights within the range of it, by their correlation.
    auto local_sum = [&](size_t origin_index) {
        const cell_block origin = blocks[origin_index];
        // The window of blocks that can lie within the range, from the smallest cells
        // of the lines it spans.
        const double middle_line = std::clamp(origin.line, 0.0, static_cast<double>(last_line));
        const double reach_lines = range_m / spacing.north[static_cast<size_t>(middle_line)] + 2.0 * side;
        const size_t first_line = static_cast<size_t>(std::max(0.0, middle_line - reach_lines));
        const size_t end_line = static_cast<size_t>(std::min(static_cast<double>(last_line), middle_line + reach_lines));
        double east = spacing.east[first_line];
        for (size_t l = first_line; l <= end_line; l++)
            east = std::min(east, spacing.east[l]);
        const int64_t reach_rows = static_cast<int64_t>(std::ceil(reach_lines / static_cast<double>(side))) + 1;
        const int64_t reach_columns =
            static_cast<int64_t>(std::ceil((range_m / east + 2.0 * side) / static_cast<double>(side))) + 1;
        double local = 0.0;
        const int64_t row_from = std::max<int64_t>(0, origin.block_line - reach_rows);
        const int64_t row_to = std::min<int64_t>(block_lines - 1, origin.block_line + reach_rows);
        for (int64_t r = row_from; r <= row_to; r++) {
            // The first block of the line at or beyond the window's first column.
            size_t j = line_start[static_cast<size_t>(r)], end = line_start[static_cast<size_t>(r) + 1];
            for (size_t count = end - j; count > 0;) {
                const size_t step = count / 2;
                if (blocks.column_of(j + step) < origin.block_column - reach_columns) {
                    j += step + 1;
                    count -= step + 1;
                } else {
                    count = step;
                }
            }
            for (; j != end && blocks.column_of(j) <= origin.block_column + reach_columns; ++j) {
                const cell_block other = blocks[j];
                const double d = j == origin_index
                                     ? within_block
                                     : metric.distance(origin.line, origin.column, other.line, other.column);
                if (d < range_m)
                    local += (1.0 - spherical(d, range_m)) * other.weight;
            }
        }
        return origin.weight * local;
    };
    double total = 0.0;
    if (blocks.size() <= CORRELATED_SAMPLED_CELLS) {
        for (size_t i = 0; i < blocks.size(); i++)
            total += local_sum(i);
        return sill_share * total;
    }
    // Otherwise a systematic sample along the blocks' cumulated weight, so that a small
    // cluster of heavy cells (a landslide among wide flats) is sampled as much as it
    // weighs: each hit stands for a stride of weight.
    double total_weight = 0.0;
    for (size_t i = 0; i < blocks.size(); i++)
        total_weight += blocks[i].weight;
    const double stride = total_weight / static_cast<double>(CORRELATED_SAMPLED_CELLS);
    std::mt19937_64 random(CORRELATED_SEED);
    double next = static_cast<double>(random() >> 11) * (1.0 / 9007199254740992.0) * stride;
    double cumulated = 0.0;
    for (size_t i = 0; i < blocks.size(); i++) {
        const double weight = blocks[i].weight;
        cumulated += weight;
        size_t hits = 0;
        for (; next < cumulated; next += stride)
            hits++;
        if (hits > 0)
            total += static_cast<double>(hits) * local_sum(i) / weight;
    }
    return sill_share * total * stride;
}

double spherical_part(const std::vector<detected_cell> &cells, double sill_share, double range_m,
                      const ground_metric &metric)
{
    const int64_t side =
        std::max<int64_t>(1, static_cast<int64_t>(std::floor(range_m / (8.0 * metric.smallest_cell()))));
    if (side == 1 && single_cells(cells))
        return spherical_part_of(single_cell_blocks{cells}, side, sill_share, range_m, metric);
    return spherical_part_of(gathered_blocks{gather_blocks(cells, side)}, side, sill_share, range_m, metric);
}

} // namespace

correlated_error correlated_volume_error(const std::vector<detected_cell> &cells, const variogram_model &model,
                                         const frame_geometry &frame, double_sum_method method)
{
    correlated_error result;
    result.cells = cells.size();
    if (cells.empty())
        return result;
    const ground_metric metric(frame);
    double sum = 0.0, sum_squares = 0.0;
    for (const detected_cell &cell : cells) {
        sum += cell.weight;
        sum_squares += cell.weight * cell.weight;
    }
    if (method == double_sum_method::automatic)
        method = cells.size() <= CORRELATED_EXACT_CELLS ? double_sum_method::exact : double_sum_method::sampled;
    double total = 0.0;
    if (method == double_sum_method::exact) {
        // Beyond the longer range the correlation is the part left at every distance.
        const double reach = std::max(model.ranges_m[0], model.ranges_m[1]);
        const double far = model.correlation(INFINITY);
        double off_diagonal = 0.0;
        for (size_t i = 0; i < cells.size(); i++) {
            const detected_cell &a = cells[i];
            double row = 0.0;
            for (size_t j = i + 1; j < cells.size(); j++) {
                const detected_cell &b = cells[j];
                const double d2 = metric.squared_distance(a.line, a.column, b.line, b.column);
                row += (d2 >= reach * reach ? far : model.correlation(std::sqrt(d2))) * b.weight;
            }
            off_diagonal += a.weight * row;
        }
        total = sum_squares + 2.0 * off_diagonal;
    } else {
        // The pass gives its cells in the lines' order; others are sorted in a copy.
        std::vector<detected_cell> sorted;
        if (!std::is_sorted(cells.begin(), cells.end(), line_order)) {
            sorted = cells;
            std::sort(sorted.begin(), sorted.end(), line_order);
        }
        const std::vector<detected_cell> &ordered = sorted.empty() ? cells : sorted;
        const double variance = model.variance > 0.0 ? model.variance : 1.0;
        const double everywhere = std::max(0.0, 1.0 - (model.nugget + model.sills[0] + model.sills[1]) / variance);
        total = model.nugget / variance * sum_squares + everywhere * sum * sum;
        for (size_t k = 0; k < 2; k++)
            if (model.sills[k] > 0.0 && model.ranges_m[k] > 0.0)
                total += spherical_part(ordered, model.sills[k] / variance, model.ranges_m[k], metric);
    }
    total = std::max(total, 0.0);
    result.error_m3 = std::sqrt(total);
    result.effective_cells = total > 0.0 ? sum * sum / total : 0.0;
    return result;
}

correlated_volume_errors finish_correlated_errors(const correlated_error_collector &collector,
                                                  const variogram_model &model, const frame_geometry &frame)
{
    correlated_volume_errors errors;
    // The net's sum, over both directions' cells, on a thread of its own beside the two
    // directions' (as long as both together).
    const auto net = [&] {
        std::vector<detected_cell> both(collector.above.size() + collector.below.size());
        std::merge(collector.above.begin(), collector.above.end(), collector.below.begin(), collector.below.end(),
                   both.begin(), line_order);
        errors.net = correlated_volume_error(both, model, frame);
    };
    worker_thread helper;
    const bool shared = worker_start(&helper);
    if (shared)
        worker_post(&helper, net);
    errors.above = correlated_volume_error(collector.above, model, frame);
    errors.below = correlated_volume_error(collector.below, model, frame);
    if (shared) {
        worker_wait(&helper);
        worker_stop(&helper);
    } else {
        net();
    }
    return errors;
}
