#include "console/progress.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "platform/platform.h"

namespace {

bool shown = false;  // the bar
bool plain = false;  // the plain lines
std::string phase;
std::atomic<int> drawn{-1};  // the percentage on the screen, -1 between phases
std::mutex drawing;

void draw(int percent)
{
    const std::string line = plain ? progress_plain_line(phase, percent) : "\r" + progress_line(phase, percent);
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

std::string progress_plain_line(const std::string &name, int percent)
{
    percent = percent < 0 ? 0 : percent > 100 ? 100 : percent;
    return "progress: " + std::to_string(percent) + " " + name + "\n";
}

void progress_show(bool on)
{
    shown = on && standard_error_is_terminal();
}

void progress_lines(bool on)
{
    plain = on;
}

void progress_phase(const std::string &name)
{
    if (!shown && !plain)
        return;
    progress_end();
    std::lock_guard<std::mutex> hold(drawing);
    phase = name;
    drawn = 0;
    draw(0);
}

void progress_to(double done)
{
    if (!shown && !plain)
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
    if (!shown && !plain)
        return;
    std::lock_guard<std::mutex> hold(drawing);
    // A plain line is complete already.
    if (drawn.exchange(-1) >= 0 && !plain)
        std::fputs("\n", stderr);
}

void progress_end()
{
    if (!shown && !plain)
        return;
    std::lock_guard<std::mutex> hold(drawing);
    const int before = drawn.exchange(-1);
    if (before < 0 || (plain && before == 100))
        return;
    draw(100);
    if (!plain)
        std::fputs("\n", stderr);
    std::fflush(stderr);
}
