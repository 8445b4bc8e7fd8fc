// A grid of the result's frame that holds one band of lines at a time, for a run worked in
// bands: a table of every line, whose band's lines point into memory reused from band to
// band and whose other lines are null.
#ifndef ORMELIX_BAND_TABLE_H
#define ORMELIX_BAND_TABLE_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

template <typename T>
struct band_table {
    std::vector<T *> lines;
    // Every cell of a band is written before it is read: the memory is not cleared first
    // (a pass over fresh memory, every page of it a fault, for nothing).
    std::unique_ptr<T[]> memory;
    size_t cells = 0;
    int32_t first = 0, end = 0;  // the band held

    // Lines [band_first, band_end) of columns cells each, in a table of frame_lines lines
    // (made once: its address stays); the band before is let go. Returns the table.
    T **hold(int32_t band_first, int32_t band_end, int32_t frame_lines, int32_t columns)
    {
        if (lines.size() != static_cast<size_t>(frame_lines))
            lines.assign(static_cast<size_t>(frame_lines), nullptr);
        for (int32_t i = first; i < end; i++)
            lines[static_cast<size_t>(i)] = nullptr;
        const size_t width = static_cast<size_t>(columns);
        const size_t band_cells = static_cast<size_t>(std::max(band_end - band_first, 0)) * width;
        if (cells < band_cells) {
            memory.reset(new T[band_cells]);
            cells = band_cells;
        }
        for (int32_t i = band_first; i < band_end; i++)
            lines[static_cast<size_t>(i)] = memory.get() + static_cast<size_t>(i - band_first) * width;
        first = band_first;
        end = band_end;
        return lines.data();
    }
};

#endif
