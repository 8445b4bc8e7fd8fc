// The difference pass over two 4000 x 4000 epochs of a hillside, for each kind of
// difference, with and without the elimination of small changes. Bytes are those the
// pass moves: two grids read, one written.
#include "treatment/difference.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>

#include "nrutil.h"

namespace {

const int32_t SIDE = 4000;

struct epochs {
    double **first = nullptr, **second = nullptr, **out = nullptr;
};

// Terrain in metres with centimetre noise, a sunken patch in the second epoch and a
// few cells without data in each.
epochs make_epochs()
{
    epochs e;
    e.first = dmatrice(SIDE, SIDE);
    e.second = dmatrice(SIDE, SIDE);
    e.out = dmatrice(SIDE, SIDE);
    std::mt19937_64 random(5);
    std::uniform_int_distribution<int> noise(-3, 3);
    for (int32_t i = 0; i < SIDE; i++) {
        for (int32_t j = 0; j < SIDE; j++) {
            const double z = 400.0 + 80.0 * std::sin(i * 0.002) * std::cos(j * 0.0015) + 0.01 * i;
            e.first[i][j] = std::round(z * 1000.0) / 1000.0;
            double change = noise(random) / 100.0;
            if (i > 1000 && i < 1600 && j > 2000 && j < 2400)
                change -= 6.0;
            e.second[i][j] = e.first[i][j] + change;
            if ((i * 31 + j * 17) % 9973 == 0)
                e.second[i][j] = NAN;
        }
    }
    return e;
}

void BM_Difference(benchmark::State &state)
{
    static epochs e = make_epochs();
    const int32_t type_treat = static_cast<int32_t>(state.range(0));
    const int32_t basis = static_cast<int32_t>(state.range(1));
    double d_min = 0.0, d_max = 0.0;
    for (auto _ : state) {
        compute_difference(e.first, e.second, e.out, SIDE, SIDE, type_treat, basis, 0.05, &d_min, &d_max);
        benchmark::DoNotOptimize(d_max);
        benchmark::ClobberMemory();
    }
    const double cells = static_cast<double>(SIDE) * SIDE;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * cells * 3 * sizeof(double)));
    state.counters["cells/s"] =
        benchmark::Counter(cells * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

} // namespace

// Kind of difference (0 absolute, 1 negative, 2 positive, 3 signed), elimination (0 yes, 1 no).
BENCHMARK(BM_Difference)
    ->Args({0, 1})
    ->Args({0, 0})
    ->Args({1, 1})
    ->Args({2, 0})
    ->Args({3, 0})
    ->Unit(benchmark::kMillisecond);
