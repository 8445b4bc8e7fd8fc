#include "console/progress.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "platform/platform.h"

namespace {

bool shown = false;
std::string phase;
std::atomic<int> drawn{-1};  // the percentage on the screen, -1 between phases
std::mutex drawing;

void draw(int percent)
{
    const std::string line = "\r" + progress_line(phase, percent);
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

} // namespace

std::string progress_line(const std::string &name, int percent)
{
    std::string shown_name = name;
    if (shown_name.size() > PROGRESS_NAME_WIDTH)
        shown_name = "..." + shown_name.substr(shown_name.size() - (PROGRESS_NAME_WIDTH - 3));
    shown_name.resize(PROGRESS_NAME_WIDTH, ' ');
    percent = percent < 0 ? 0 : percent > 100 ? 100 : percent;
    const size_t marks = static_cast<size_t>(percent) * PROGRESS_BAR_WIDTH / 100;
    std::string number = std::to_string(percent);
    number = std::string(3 - number.size(), ' ') + number + " %";
    return shown_name + " [" + std::string(marks, '#') + std::string(PROGRESS_BAR_WIDTH - marks, '.') + "] " + number;
}

void progress_show(bool on)
{
    shown = on && standard_error_is_terminal();
}

void progress_phase(const std::string &name)
{
    if (!shown)
        return;
    progress_end();
    std::lock_guard<std::mutex> hold(drawing);
    phase = name;
    drawn = 0;
    draw(0);
}

void progress_to(double done)
{
    if (!shown)
        return;
    const int percent = done >= 1.0 ? 100 : done > 0.0 ? static_cast<int>(done * 100.0) : 0;
    int before = drawn.load(std::memory_order_relaxed);
    // Only the thread that moves the percentage up draws it.
    while (before >= 0 && percent > before)
        if (drawn.compare_exchange_weak(before, percent)) {
            std::lock_guard<std::mutex> hold(drawing);
            if (drawn.load() == percent)
                draw(percent);
            return;
        }
}

void progress_break()
{
    if (!shown)
        return;
    std::lock_guard<std::mutex> hold(drawing);
    if (drawn.exchange(-1) >= 0)
        std::fputs("\n", stderr);
}

void progress_end()
{
    if (!shown)
        return;
    std::lock_guard<std::mutex> hold(drawing);
    if (drawn.exchange(-1) < 0)
        return;
    draw(100);
    std::fputs("\n", stderr);
    std::fflush(stderr);
}
