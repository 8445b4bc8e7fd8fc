// The kept second thread: tasks handed over one after another, each one's results seen
// by the thread that waits for it, and a stop at any point.
#include "gridfiles/worker_thread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

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
