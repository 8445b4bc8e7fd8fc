#include "gridfiles/grid_memory.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "console/console.h"
#include "globals/globals.h"
#include "text/number_text.h"

namespace {

const double GIB = 1024.0 * 1024.0 * 1024.0;
// The readers' and writers' blocks of text and the stream buffers.
const double FILE_BUFFER_BYTES = 64.0 * 1024.0 * 1024.0;

// A block as the C library's heap holds it: an 8-byte header, 16-byte granules, 32
// bytes at least.
double heap_block_bytes(uint64_t payload)
{
    const uint64_t block = (payload + 8 + 15) & ~uint64_t(15);
    return static_cast<double>(block < 32 ? 32 : block);
}

} // namespace

double grid_heap_bytes(int32_t lines, int32_t columns, size_t element_bytes)
{
    if (lines <= 0 || columns <= 0)
        return 0.0;
    const uint64_t line_payload = static_cast<uint64_t>(columns) * element_bytes;
    return heap_block_bytes(static_cast<uint64_t>(lines) * sizeof(void *)) +
           static_cast<double>(lines) * heap_block_bytes(line_payload);
}

double run_grid_bytes(int32_t nb_lig, int32_t nb_col)
{
    return 3.0 * grid_heap_bytes(nb_lig, nb_col, sizeof(double));
}

double run_heap_bytes(int32_t nb_lig, int32_t nb_col)
{
    // The widest integer grid is 32-bit; a 16-bit reader's two grids come before the
    // result grid exists, and take less than it.
    return run_grid_bytes(nb_lig, nb_col) + grid_heap_bytes(nb_lig, nb_col, sizeof(int32_t)) +
           FILE_BUFFER_BYTES;
}

memory_verdict judge_memory(double need, const machine_memory &machine)
{
    if (machine.physical == 0 || need <= static_cast<double>(machine.physical))
        return memory_fits;
    if (need <= static_cast<double>(machine.physical) + static_cast<double>(machine.swap))
        return memory_swaps;
    return memory_too_small;
}

std::string gib_text(double bytes, bool round_up)
{
    const double tenths = bytes / GIB * 10.0;
    return text_printf("%.1f GiB", (round_up ? std::ceil(tenths) : std::floor(tenths)) / 10.0);
}

namespace {

double memory_of_run = RUN_MEMORY_DEFAULT;
int32_t band_lines_forced = 0;

} // namespace

void set_run_memory(double bytes, int32_t band_lines)
{
    memory_of_run = bytes;
    band_lines_forced = band_lines;
}

double run_memory()
{
    return memory_of_run;
}

int32_t forced_band_lines()
{
    return band_lines_forced;
}

bool run_in_bands(int32_t lines, int32_t columns)
{
    return band_lines_forced > 0 || run_grid_bytes(lines, columns) > memory_of_run;
}

void prepare_grid_memory()
{
    const double need = run_grid_bytes(nb_lig, nb_col);
    const machine_memory machine = read_machine_memory();
    const std::string need_text = gib_text(need, true);
    const std::string physical_text = gib_text(static_cast<double>(machine.physical), false);
    switch (judge_memory(need, machine)) {
    case memory_too_small:
        stop_with_message("\n\tA frame of %d lines and %d columns needs %s of memory for its grids, and "
                          "this machine has %s of memory and %s of swap: use a larger machine or "
                          "smaller tiles of the grids.\n",
                          nb_lig, nb_col, need_text.c_str(), physical_text.c_str(),
                          gib_text(static_cast<double>(machine.swap), false).c_str());
    case memory_swaps:
        std::printf("\n\tWarning: a frame of %d lines and %d columns needs %s of memory for its "
                    "grids, more than the %s this machine has: the run will use swap and be slow.\n",
                    nb_lig, nb_col, need_text.c_str(), physical_text.c_str());
        break;
    case memory_fits:
        break;
    }
    const double heap = run_heap_bytes(nb_lig, nb_col);
    if (heap < static_cast<double>(SIZE_MAX / 2))
        grid_memory_hint(static_cast<size_t>(heap));
}

void prepare_more_grid_memory(int32_t lines, int32_t columns)
{
    const double bytes = grid_heap_bytes(lines, columns, sizeof(double)) + FILE_BUFFER_BYTES;
    if (lines > 0 && columns > 0 && bytes < static_cast<double>(SIZE_MAX / 2))
        grid_memory_hint(static_cast<size_t>(bytes));
}
