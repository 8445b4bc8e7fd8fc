// The memory a run's grids take, judged against the machine's before the first grid
// is allocated, and the heap made ready for them.
#ifndef ORMELIX_GRID_MEMORY_H
#define ORMELIX_GRID_MEMORY_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/memory.h"

// Bytes the heap gives a row-pointer grid of lines x columns elements: its line table
// and its lines, each with the allocator's header and rounding. Counted in a double,
// exact to the byte below 2^53: the counts of a header may reach 2^31 x 2^31 cells.
double grid_heap_bytes(int32_t lines, int32_t columns, size_t element_bytes);
// What a run of this frame certainly holds at once: its three grids of doubles.
double run_grid_bytes(int32_t nb_lig, int32_t nb_col);
// What the heap is readied for: those, the largest integer grid a raster reader or
// writer adds beside them, and room for the file buffers.
double run_heap_bytes(int32_t nb_lig, int32_t nb_col);

enum memory_verdict {
    memory_fits,       // within physical memory, or the machine does not tell
    memory_swaps,      // beyond physical memory, within memory and swap
    memory_too_small,  // beyond memory and swap: the system would kill the run
};
memory_verdict judge_memory(double need, const machine_memory &machine);

// Bytes as the messages show them: GiB with one decimal, rounded up (a need) or down
// (what a machine has), so that a need shown is never less than the need.
std::string gib_text(double bytes, bool round_up);

// The memory a run's grids may take (--memory; RUN_MEMORY_DEFAULT unless set): a frame
// whose grids of doubles pass it is worked in bands of lines. band_lines above 0 works
// every frame in bands of that many lines (a test of the bands' sameness).
constexpr double RUN_MEMORY_DEFAULT = 256.0 * 1024 * 1024;
void set_run_memory(double bytes, int32_t band_lines);
double run_memory();
int32_t forced_band_lines();
// Whether the epochs of a run whose first grid has these counts are read in bands.
bool run_in_bands(int32_t lines, int32_t columns);

// Before the first grid is allocated: stops the run on a frame the machine cannot
// hold, warns when it will swap, then readies the heap for the grids.
void prepare_grid_memory();
// Before a grid read after the first (the second epoch at its own frame, an error,
// class or mask grid): the heap readied for it as well, so that its cells too come
// from large pages.
void prepare_more_grid_memory(int32_t lines, int32_t columns);

#endif
