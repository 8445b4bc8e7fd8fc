#include "gridfiles/block_rows.h"

#include <algorithm>

block_row_lines::block_row_lines(int32_t lines, int32_t block_lines)
    : lines_(lines), block_lines_(std::max<int32_t>(block_lines, 1))
{
}

bool block_row_lines::read_lines(int32_t first, int32_t end, double *const *rows, std::string *fault)
{
    first = std::max<int32_t>(first, 0);
    end = std::min(end, lines_);
    int32_t line = first;
    while (line < end) {
        const int32_t row = line / block_lines_;
        const int32_t top = row * block_lines_;
        const int32_t bottom = static_cast<int32_t>(std::min<int64_t>(static_cast<int64_t>(top) + block_lines_, lines_));
        if (row != held_ && line == top && bottom <= end) {
            // The rows the band covers whole from here, in one go (two threads may share them).
            const int32_t end_row = end == lines_ ? (lines_ - 1) / block_lines_ + 1 : end / block_lines_;
            if (!decode_rows(row, end_row, rows + (line - first), fault))
                return false;
            line = static_cast<int32_t>(std::min<int64_t>(static_cast<int64_t>(end_row) * block_lines_, lines_));
            continue;
        }
        if (row != held_) {
            held_ = -1;
            if (!hold_row(row, fault))
                return false;
            held_ = row;
        }
        const int32_t last = std::min(bottom, end);
        for (; line < last; line++)
            held_line(line - top, rows[line - first]);
    }
    return true;
}
