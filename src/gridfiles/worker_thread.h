// A second thread for the reading and writing of ASCII grids, kept for the length of
// one grid and handed one task at a time. Starting a thread per task costs a millisecond
// or two on virtual machines, as long as parsing a few megabytes of text: a kept thread
// that waits for its next task by spinning a little while gets it at once.
#ifndef ORMELIX_WORKER_THREAD_H
#define ORMELIX_WORKER_THREAD_H

#include <atomic>
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
};

// Starts the thread; false when no thread can be had (the caller then works alone).
bool worker_start(worker_thread *worker);
// Hands a task to the started thread; the task before it must be finished.
void worker_post(worker_thread *worker, std::function<void()> task);
// Waits until the task handed over is finished; its results are then visible here.
void worker_wait(worker_thread *worker);
// Ends the thread, if it was started, once its task is finished.
void worker_stop(worker_thread *worker);

#endif
