// What the machine offers the grids of a run: how much memory it has, and a heap
// prepared so that the grids, allocated line by line, sit in large pages.
#ifndef ORMELIX_PLATFORM_MEMORY_H
#define ORMELIX_PLATFORM_MEMORY_H

#include <cstddef>
#include <cstdint>

struct machine_memory {
    uint64_t physical;  // bytes of memory; 0 when the system does not tell
    uint64_t swap;      // bytes of swap (on Windows, of page file) beyond it
};

// The machine's totals, as the system reports them.
machine_memory read_machine_memory();

// Readies the heap for `bytes` of grid lines about to be allocated, so that they land
// in large pages: each first touch of a small page costs a fault, and a grid has
// hundreds of thousands of them. True when done. False when it cannot be had (large
// pages off or unknown to the system, the block refused, an address-space limit, a
// build with the hint turned off): the allocator is then left as it was.
bool grid_memory_hint(size_t bytes);
// Asks that the whole large pages within [start, start + bytes), a block not yet
// written (a list's room before it is filled), be given as large pages when first
// touched; nothing where the system has none to give.
void advise_large_pages(const void *start, size_t bytes);


// Gives the system back the memory the heap holds free (a step's working memory, let go),
// and has the blocks of the steps after it given back as they are freed, so that what a
// run holds at its peak is what it uses then; nothing where the heap keeps its memory for
// the grids (grid_memory_hint) or the system has no such call.
void give_back_free_memory();

#endif
