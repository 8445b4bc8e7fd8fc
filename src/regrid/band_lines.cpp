#include "regrid/band_lines.h"

#include <algorithm>
#include <cmath>

void start_held_lines(held_lines *held, line_reader *reader, int32_t lines, int32_t columns)
{
    *held = held_lines();
    held->reader = reader;
    held->lines = lines;
    held->columns = columns;
    held->table.assign(static_cast<size_t>(lines), nullptr);
    held->of_line.assign(static_cast<size_t>(lines), 0);
}

namespace {

void let_go(held_lines *held, int32_t line)
{
    const size_t i = static_cast<size_t>(line);
    if (held->table[i] == nullptr)
        return;
    held->table[i] = nullptr;
    held->spare.push_back(held->of_line[i]);
}

double *take_memory(held_lines *held, int32_t line)
{
    size_t k;
    if (!held->spare.empty()) {
        k = held->spare.back();
        held->spare.pop_back();
    } else {
        k = held->memory.size();
        held->memory.emplace_back(new double[static_cast<size_t>(std::max(held->columns, 1))]);
    }
    held->of_line[static_cast<size_t>(line)] = k;
    return held->memory[k].get();
}

// Reads lines [first, end) from the reader, which gives line first next.
bool read_into_table(held_lines *held, int32_t first, int32_t end, std::string *fault)
{
    if (first >= end)
        return true;
    std::vector<double *> rows;
    rows.reserve(static_cast<size_t>(end - first));
    for (int32_t i = first; i < end; i++)
        rows.push_back(take_memory(held, i));
    if (!held->reader->read_lines(first, end, rows.data(), fault))
        return false;
    for (int32_t i = first; i < end; i++)
        held->table[static_cast<size_t>(i)] = rows[static_cast<size_t>(i - first)];
    held->next = end;
    return true;
}

// Reads and drops lines [held->next, to): a reader gives its lines in order only.
bool pass_over(held_lines *held, int32_t to, std::string *fault)
{
    const int32_t step = 64;
    std::vector<double> scratch(static_cast<size_t>(held->columns) * step);
    std::vector<double *> rows(static_cast<size_t>(step));
    for (int32_t k = 0; k < step; k++)
        rows[static_cast<size_t>(k)] = scratch.data() + static_cast<size_t>(k) * static_cast<size_t>(held->columns);
    while (held->next < to) {
        const int32_t end = std::min(to, held->next + step);
        if (!held->reader->read_lines(held->next, end, rows.data(), fault))
            return false;
        held->next = end;
    }
    return true;
}

} // namespace

bool hold_lines(held_lines *held, int32_t first, int32_t end, std::string *fault)
{
    first = std::clamp(first, 0, held->lines);
    end = std::clamp(end, first, held->lines);
    // A line let go is read again from the grid's top.
    if (first < held->first) {
        for (int32_t i = held->first; i < held->end; i++)
            let_go(held, i);
        held->first = held->end = held->next = 0;
    }
    for (int32_t i = held->first; i < std::min(first, held->end); i++)
        let_go(held, i);
    held->first = first;
    held->end = std::max(held->end, first);
    if (held->next < first && !pass_over(held, first, fault))
        return false;
    if (!read_into_table(held, std::max(held->next, first), end, fault))
        return false;
    held->end = std::max(held->end, end);
    return true;
}

grid_view held_view(const held_lines &held)
{
    return {held.table.data(), held.lines, held.columns};
}

void second_lines_of_band(const frame_plan &plan, int32_t second_lines, int32_t first, int32_t end, int32_t *from,
                          int32_t *to)
{
    *from = *to = 0;
    if (first >= end || second_lines <= 0)
        return;
    int32_t lo = second_lines, hi = 0;
    const auto take = [&](double top, double bottom) {
        if (!(top <= bottom))
            return;
        lo = std::min(lo, static_cast<int32_t>(std::clamp(std::floor(top), 0.0, static_cast<double>(second_lines))));
        hi = std::max(hi, static_cast<int32_t>(std::clamp(std::ceil(bottom), 0.0, static_cast<double>(second_lines))));
    };
    const affine_positions &p = plan.positions;
    switch (plan.kind) {
    case frames_same:
        take(first, end);
        break;
    case frames_common_part:
        take(plan.second_line + first, plan.second_line + end);
        break;
    case frames_area_mean:
        // The spans of the band's lines, as the kernel cuts them.
        for (int32_t i = first; i < end; i++) {
            const double a = p.line0 + i * p.line_step;
            take(a, a + p.line_step);
        }
        break;
    case frames_reprojected: {
        // Where the band's cell centres fall: the four neighbours of each.
        std::vector<double> u(static_cast<size_t>(plan.columns)), v(static_cast<size_t>(plan.columns));
        for (int32_t i = first; i < end; i++) {
            plan.carried(i, plan.columns, u.data(), v.data());
            for (double line : v)
                if (std::isfinite(line))
                    take(line, std::floor(line) + 2.0);
        }
        break;
    }
    default:
        for (int32_t i = first; i < end; i++) {
            const double line = p.line0 + i * p.line_step;
            take(line, std::floor(line) + 2.0);
        }
        break;
    }
    // The kernels take the line before a position on the last line (weighed 0), and the
    // last two lines for one beyond it within the slack. A band of the second's own lines
    // (one frame, or its common part) takes those lines alone: no line is read before its
    // band, whose damage would stop the run before the first grid's of that band.
    if (lo < hi) {
        const bool own_lines = plan.kind == frames_same || plan.kind == frames_common_part;
        *from = own_lines ? lo : std::max(0, std::min(lo, second_lines - 2));
        *to = own_lines ? hi : std::min(second_lines, std::max(hi, *from + 2));
    }
}

void second_band_onto_frame(const frame_plan &plan, const grid_view &source, double **target, int32_t columns,
                            int32_t first, int32_t end)
{
    const grid_view onto{target, plan.kind == frames_same ? source.lines : plan.lines, columns};
    const target_lines band{first, end};
    switch (plan.kind) {
    case frames_same:
    case frames_common_part: {
        const int32_t line0 = plan.kind == frames_same ? 0 : plan.second_line;
        const int32_t column0 = plan.kind == frames_same ? 0 : plan.second_column;
        for (int32_t i = first; i < end; i++)
            target[i] = source.cells[line0 + i] + column0;
        return;
    }
    case frames_area_mean:
        area_mean_fill(source, onto, plan.positions, band);
        return;
    case frames_reprojected:
        bilinear_fill(source, onto, plan.carried, band);
        return;
    default:
        bilinear_fill_affine(source, onto, plan.positions, band);
        return;
    }
}
