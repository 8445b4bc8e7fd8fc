// A second thread for the reading and writing of ASCII grids, kept for the length of
// one grid and handed one task at a time. Starting a thread per task costs a millisecond
// or two on virtual machines, as long as parsing a few megabytes of text: a kept thread
// that waits for its next task by spinning a little while gets it at once.
#ifndef ORMELIX_WORKER_THREAD_H
#define ORMELIX_WORKER_THREAD_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

enum worker_state { worker_idle, worker_posted, worker_done, worker_stopping };

struct worker_thread {
    std::thread thread;
    std::mutex lock;
    std::condition_variable changed;
    std::atomic<int> state{worker_idle};
    std::function<void()> task;
    bool running = false;
    bool on_caller = false;  // started while workers run on the caller's thread
};

// Off, every worker started from then on runs each task it is handed on the thread that
// hands it over, at once: the work is shared out and put together as with two threads,
// on one. The fuzzing harnesses turn it off: thousands of small grids a second, each
// of which would otherwise start a thread and hand it every block.
void set_worker_threads(bool on);

// Starts the thread; false when no thread can be had (the caller then works alone).
bool worker_start(worker_thread *worker);
// Hands a task to the started thread; the task before it must be finished.
void worker_post(worker_thread *worker, std::function<void()> task);
// Waits until the task handed over is finished; its results are then visible here.
void worker_wait(worker_thread *worker);
// Ends the thread, if it was started, once its task is finished.
void worker_stop(worker_thread *worker);

// Seconds from a to b.
double seconds_between(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b);

// What a run of work shared between this thread and the worker took: this thread
// spent own_time on own_units of the work, and fixed_time on other work besides (such
// as writing); the worker spent other_time on other_units.
struct shared_run_times {
    double own_time, own_units;
    double other_time, other_units;
    double fixed_time;
};
// The part of the next run, of as many units, this thread takes so that both finish
// together, moved halfway there from share (one run slowed by other work on the
// machine must not swing it) and kept within [lowest, highest]. Unchanged when a
// time or a count is not above zero.
double rebalanced_share(double share, const shared_run_times &times, double lowest, double highest);

#endif
