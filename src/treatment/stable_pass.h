// A run worked in bands whose test takes its errors from the stable ground: a first pass
// over the bands gathers the stable ground's figures and what the error model needs of
// it before the pass that writes the output, in memory of the stable cells' number, not
// of the frame's.
#ifndef ORMELIX_STABLE_PASS_H
#define ORMELIX_STABLE_PASS_H

#include <cstddef>
#include <cstdint>
#include <vector>

// The stable cells with data in both epochs, in the lines' order: line i's are
// [line_start[i], line_start[i + 1]) of the lists.
struct gathered_stable_cells {
    std::vector<size_t> line_start;  // a line of the frame and one more
    std::vector<int32_t> columns;
    std::vector<double> changes;     // first - second
    // The first DEM's slope in degrees (with slopes asked only). The error model takes the
    // stable cells' slopes as floats, held whole or in bands: a hundredth of an arc second
    // or better, in half the memory.
    std::vector<float> slopes;
    // With error grids: each change over its error of the change, √(σ₁² + σ₂²), as the
    // variogram takes it; NaN where that error is not above 0.
    std::vector<float> standardised;
};

// The first pass: each band of both epochs and of the --stable mask read, its stable
// cells' changes gathered into the run's stable ground figures and kept with their
// places (and the first DEM's slope there when slopes is true, each change standardised
// when the run has error grids); the mask is not read again. The bands after it hold the
// first DEM's neighbour lines when slopes is true.
void gather_stable_ground_in_bands(bool slopes);
// Whether the run's first pass gathered them; what it gathered (empty lists without it),
// and the same taken away, its memory with it.
bool stable_cells_gathered();
const gathered_stable_cells &run_gathered_stable_cells();
gathered_stable_cells take_gathered_stable_cells();

#endif
