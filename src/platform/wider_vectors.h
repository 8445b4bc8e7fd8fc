// Where the system chooses a function's version as the program loads (Linux), a loop over
// a line of cells comes also in the wider vectors of the machines that have them: four or
// eight cells at once. The wider versions may fuse a product into a sum (one rounding
// instead of two): a file whose bits must be the same on every machine is built with
// -ffp-contract=off.
#ifndef ORMELIX_WIDER_VECTORS_H
#define ORMELIX_WIDER_VECTORS_H

#if defined(__GNUC__) && !defined(__clang__) && defined(__linux__) && defined(__x86_64__)
#define ALSO_IN_WIDER_VECTORS __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define ALSO_IN_WIDER_VECTORS
#endif

#endif
