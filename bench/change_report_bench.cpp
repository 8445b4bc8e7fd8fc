// The report of a run on two 5000 x 5000 epochs of a hillside with a landslide: the
// run's pass (the difference, and the map's and the distribution's figures beside it),
// the map, its picture and the HTML text, as the run makes them, against the
// difference alone as a run without a report would take it. Beside the time, the
// memory the report takes beyond the grids: the peak of the process's resident memory
// during the report, less what it held before.
#include "treatment/change_report.h"
#include "treatment/difference.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <random>
#include <string>

#include "globals/globals.h"
#include "gridfiles/grid_memory.h"
#include "platform/memory.h"
#include "treatment/difference.h"
#include "treatment/treatment.h"
#include "nrutil.h"

namespace {

const int32_t SIDE = 5000;

// The resident memory figure of this process that /proc/self/status names, in KiB.
double status_kib(const std::string &name)
{
    std::ifstream status("/proc/self/status");
    std::string key;
    double kib = 0.0;
    while (status >> key) {
        if (key == name + ":") {
            status >> kib;
            return kib;
        }
        status.ignore(1 << 16, '\n');
    }
    return 0.0;
}

// The run's globals as a session of the ASCII grids of `make bench` leaves them:
// cells of 5 m, changes under 0.05 m eliminated.
void make_run()
{
    if (dtab_dem1 != nullptr)
        return;  // made once for both benchmarks
    nb_lig = nb_col = SIDE;
    // The heap as a run readies it: the grids in large pages.
    grid_memory_hint(static_cast<size_t>(run_heap_bytes(SIDE, SIDE)));
    dtab_dem1 = dmatrice(SIDE, SIDE);
    dtab_dem2 = dmatrice(SIDE, SIDE);
    dtab_out = dmatrice(SIDE, SIDE);
    std::mt19937_64 random(7);
    std::normal_distribution<double> noise(0.0, 0.02);
    for (int32_t i = 0; i < SIDE; i++)
        for (int32_t j = 0; j < SIDE; j++) {
            const double north = 1.0 - i / double(SIDE), east = j / double(SIDE);
            const double z = 100.0 + 500.0 * north + 30.0 * std::sin(9.0 * east) * std::cos(5.0 * north);
            const double di = (i - 2000) / 600.0, dj = (j - 2500) / 350.0, r = di * di + dj * dj;
            const double slide = r < 1.0 ? (di < 0 ? -9.0 : 5.0) * std::pow(1.0 - r, 1.5) : 0.0;
            dtab_dem1[i][j] = z;
            dtab_dem2[i][j] = z + slide + noise(random);
        }
    format_dem1 = format_dem2 = format_out = 0;
    Coord_UTM_dem1_OK = Coord_UTM_dem2_OK = 1;
    X_min = 512000.0;
    Y_min = 4800000.0;
    dpix_size = 5.0;
    type_treat = 0;
    basis = 0;
    hypso = 0.05;
    nomim1 = "c:\\images\\bench\\north.asc";
    nomim2 = "c:\\images\\bench\\south.asc";
    nomim3 = "c:\\images\\bench\\diff_val_abs.asc";
    nomstem3 = "c:\\images\\bench\\diff_val_abs";
}

// The run's pass and its report.
std::string difference_and_report()
{
    double d_min = 0.0, d_max = 0.0;
    change_budget budget;
    change_gathering gathering = run_difference(std::vector<double>(SIDE, 25.0), &d_min, &d_max, &budget);
    const change_picture picture = draw_change_map(&gathering, run_frame_geometry());
    return run_change_report_html(gathering, picture,
                                  make_budget_record(budget, type_treat, run_change_test()).lines);
}

// The memory the first report takes beyond what the run held before it (Linux: writing
// 5 to clear_refs resets the peak). Later ones reuse the heap the first has grown.
double first_report_extra_mib()
{
    make_run();
    std::ofstream("/proc/self/clear_refs") << "5";
    const double before = status_kib("VmRSS");
    const std::string html = difference_and_report();
    benchmark::DoNotOptimize(html.data());
    return (status_kib("VmHWM") - before) / 1024.0;
}

void BM_DifferenceAndReport(benchmark::State &state)
{
    static const double extra_mib = first_report_extra_mib();
    size_t bytes = 0;
    for (auto _ : state) {
        const std::string html = difference_and_report();
        bytes = html.size();
        benchmark::DoNotOptimize(html.data());
    }
    state.counters["report_MB"] = static_cast<double>(bytes) / 1e6;
    state.counters["extra_MiB"] = extra_mib;
}

void BM_DifferenceWithoutReport(benchmark::State &state)
{
    static const bool made = (make_run(), true);
    (void)made;
    const std::vector<double> areas(SIDE, 25.0);
    for (auto _ : state) {
        double d_min = 0.0, d_max = 0.0;
        change_budget budget;
        compute_difference(dtab_dem1, dtab_dem2, dtab_out, SIDE, SIDE, type_treat, basis, hypso, &d_min, &d_max,
                           &budget, areas.data());
        benchmark::DoNotOptimize(budget.cells);
    }
}

} // namespace

BENCHMARK(BM_DifferenceWithoutReport)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DifferenceAndReport)->Unit(benchmark::kMillisecond)->UseRealTime();
