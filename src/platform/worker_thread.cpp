#include "platform/worker_thread.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <utility>

namespace {

std::atomic<bool> threads_on{true};

// Long enough to cover the gap between two tasks (reading the next block of a file),
// short enough not to matter when the thread is left waiting: a run of bands has several
// threads waiting at once, and on two cores each millisecond one of them spins is taken
// from those at work (5 ms spins cost a sixth of a banded GeoTIFF session's processor time).
const std::chrono::microseconds SPIN_TIME(200);

inline void cpu_relax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

void set_state(worker_thread *worker, int state)
{
    worker->state.store(state, std::memory_order_release);
    // Taking the lock orders this change with a waiter about to sleep: none is missed.
    { std::lock_guard<std::mutex> hold(worker->lock); }
    worker->changed.notify_all();
}

// Waits until the state is one of the two given, spinning first, then sleeping.
int wait_for_state(worker_thread *worker, int wanted, int other)
{
    auto reached = [&](int state) { return state == wanted || state == other; };
    const auto spin_end = std::chrono::steady_clock::now() + SPIN_TIME;
    for (unsigned k = 1;; k++) {
        const int state = worker->state.load(std::memory_order_acquire);
        if (reached(state))
            return state;
        cpu_relax();
        if (k % 256 == 0 && std::chrono::steady_clock::now() >= spin_end)
            break;
    }
    std::unique_lock<std::mutex> hold(worker->lock);
    int state;
    while (!reached(state = worker->state.load(std::memory_order_acquire)))
        worker->changed.wait(hold);
    return state;
}

void worker_loop(worker_thread *worker)
{
    for (;;) {
        if (wait_for_state(worker, worker_posted, worker_stopping) == worker_stopping)
            return;
        worker->task();
        set_state(worker, worker_done);
    }
}

} // namespace

void set_worker_threads(bool on)
{
    threads_on.store(on);
}

bool worker_start(worker_thread *worker)
{
    worker->state.store(worker_idle);
    worker->on_caller = !threads_on.load();
    if (worker->on_caller) {
        worker->running = true;
        return true;
    }
    try {
        worker->thread = std::thread(worker_loop, worker);
    } catch (const std::system_error &) {
        return false;
    }
    worker->running = true;
    return true;
}

void worker_post(worker_thread *worker, std::function<void()> task)
{
    if (worker->on_caller) {
        task();
        worker->state.store(worker_done);
        return;
    }
    worker->task = std::move(task);
    set_state(worker, worker_posted);
}

void worker_wait(worker_thread *worker)
{
    if (!worker->on_caller)
        wait_for_state(worker, worker_done, worker_done);
}

void worker_stop(worker_thread *worker)
{
    if (!worker->running)
        return;
    if (worker->on_caller) {
        worker->running = false;
        return;
    }
    if (worker->state.load(std::memory_order_acquire) == worker_posted)
        worker_wait(worker);
    set_state(worker, worker_stopping);
    worker->thread.join();
    worker->running = false;
}

double seconds_between(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

double rebalanced_share(double share, const shared_run_times &times, double lowest, double highest)
{
    if (!(times.own_time > 0.0 && times.own_units > 0.0 && times.other_time > 0.0 && times.other_units > 0.0))
        return share;
    const double own_rate = times.own_time / times.own_units;
    const double other_rate = times.other_time / times.other_units;
    const double units = times.own_units + times.other_units;
    // share * units * own_rate + fixed_time = (1 - share) * units * other_rate
    const double even = (units * other_rate - times.fixed_time) / (units * (own_rate + other_rate));
    return std::min(highest, std::max(lowest, (share + even) / 2));
}
