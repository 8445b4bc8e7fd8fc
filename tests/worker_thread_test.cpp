// The kept second thread: tasks handed over one after another, each one's results seen
// by the thread that waits for it, and a stop at any point.
#include "platform/worker_thread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "geotiff_files.h"
#include "gridfiles/ascii_grid.h"

TEST(WorkerThread, RunsEachTaskOnceAndItsResultsAreSeenAfterTheWait)
{
    worker_thread worker;
    ASSERT_TRUE(worker_start(&worker));
    std::vector<long> sums;
    for (long n = 0; n < 2000; n++) {
        long sum = -1;
        const std::thread::id caller = std::this_thread::get_id();
        bool elsewhere = false;
        worker_post(&worker, [&sum, &elsewhere, caller, n] {
            sum = 0;
            for (long k = 1; k <= n; k++)
                sum += k;
            elsewhere = std::this_thread::get_id() != caller;
        });
        worker_wait(&worker);
        ASSERT_EQ(sum, n * (n + 1) / 2) << n;
        ASSERT_TRUE(elsewhere);
    }
    worker_stop(&worker);
    EXPECT_FALSE(worker.running);
}

TEST(WorkerThread, TasksAfterALongPauseStillRun)
{
    worker_thread worker;
    ASSERT_TRUE(worker_start(&worker));
    int runs = 0;
    for (int k = 0; k < 3; k++) {
        // Longer than the thread spins: it has gone to sleep and must be woken.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        worker_post(&worker, [&runs] { runs++; });
        worker_wait(&worker);
    }
    EXPECT_EQ(runs, 3);
    worker_stop(&worker);
}

TEST(WorkerThread, StopsWhetherItWasIdleBusyOrNeverStarted)
{
    worker_thread never;
    worker_stop(&never);
    EXPECT_FALSE(never.running);

    worker_thread idle;
    ASSERT_TRUE(worker_start(&idle));
    worker_stop(&idle);
    EXPECT_FALSE(idle.running);

    // A stop while a task runs lets it finish first.
    worker_thread busy;
    ASSERT_TRUE(worker_start(&busy));
    bool finished = false;
    worker_post(&busy, [&finished] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        finished = true;
    });
    worker_stop(&busy);
    EXPECT_TRUE(finished);
}

TEST(WorkerThread, ShareMovesHalfwayToWhereBothThreadsFinishTogether)
{
    struct share_case {
        double share;
        shared_run_times times;
        double lowest, highest, expected;
    };
    const share_case cases[] = {
        // Equal speeds: an even split, reached halfway from 0.3.
        {0.3, {1.0, 100, 1.0, 100, 0.0}, 0.1, 0.9, 0.4},
        // This thread three times slower per unit: a quarter is even, 0.375 halfway.
        {0.5, {3.0, 100, 1.0, 100, 0.0}, 0.1, 0.9, 0.375},
        // Equal speeds, but this thread also spent 1 s of the 2 s run writing: 0.25 is
        // even (0.25 * 2 + 1 = 0.75 * 2).
        {0.25, {1.0, 100, 1.0, 100, 1.0}, 0.1, 0.9, 0.25},
        // Kept within its bounds.
        {0.5, {100.0, 100, 1.0, 100, 0.0}, 0.3, 0.7, 0.3},
        {0.5, {1.0, 100, 100.0, 100, 0.0}, 0.3, 0.7, 0.7},
        {0.5, {1.0, 100, 1.0, 100, 50.0}, 1.0 / 11, 0.5, 1.0 / 11},
        // A run too short to time, or with nothing done, changes nothing.
        {0.4, {0.0, 100, 1.0, 100, 0.0}, 0.1, 0.9, 0.4},
        {0.4, {1.0, 100, 1.0, 0, 0.0}, 0.1, 0.9, 0.4},
    };
    for (const share_case &c : cases)
        EXPECT_DOUBLE_EQ(rebalanced_share(c.share, c.times, c.lowest, c.highest), c.expected)
            << c.share << " " << c.times.own_time << " " << c.times.fixed_time;
}

// Threads off (the fuzzing harnesses), a task runs on the caller before its hand-over
// returns, and a reader that shares its work gives the cells it gives on two threads.
TEST(WorkerThread, WithThreadsOffTasksRunOnTheCallerAndTheCellsStayTheSame)
{
    const std::string text = e2e::geotiff_fixture("elev.asc");
    auto read_in_small_blocks = [&text] {
        FILE *fp = e2e::file_of_bytes(text);
        text_source src;
        text_source_start(&src, fp, 64);  // runs of 32 bytes on are shared
        ascii_header header;
        EXPECT_TRUE(parse_ascii_header(&src, &header));
        double **grid = dmatrice(header.ncols, header.nrows);
        ascii_body_fault fault;
        EXPECT_TRUE(read_ascii_body(&src, header, grid, header.ncols, header.nrows, nullptr, &fault));
        std::vector<double> cells;
        for (int32_t i = 0; i < header.nrows; i++)
            cells.insert(cells.end(), grid[i], grid[i] + header.ncols);
        frdmatrice(grid, header.nrows);
        std::fclose(fp);
        return cells;
    };
    const std::vector<double> on_two = read_in_small_blocks();

    set_worker_threads(false);
    worker_thread worker;
    ASSERT_TRUE(worker_start(&worker));
    const std::thread::id caller = std::this_thread::get_id();
    bool here = false;
    worker_post(&worker, [&] { here = std::this_thread::get_id() == caller; });
    EXPECT_TRUE(here);
    worker_wait(&worker);
    worker_stop(&worker);
    EXPECT_FALSE(worker.running);
    const std::vector<double> on_one = read_in_small_blocks();
    set_worker_threads(true);

    ASSERT_EQ(on_two.size(), 95u * 90u);
    ASSERT_EQ(on_one.size(), on_two.size());
    for (size_t k = 0; k < on_two.size(); k++)
        ASSERT_TRUE(on_one[k] == on_two[k] || (std::isnan(on_one[k]) && std::isnan(on_two[k]))) << k;
}
