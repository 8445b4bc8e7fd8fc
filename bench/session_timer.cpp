// Runs one complete session of the program as a user would script it, and tells how
// long it took and how much memory it held at most, from the system's own accounting
// of the finished process (wait4). The best wall time of the repeats is reported, and
// the largest peak.
// Usage: session_timer ROOT ANSWERS REPEATS PROGRAM [ARGS...]
//   ROOT     the folder the program starts in (it holds images/)
//   ANSWERS  the answers, with \n written as the two characters backslash and n
// Prints: wall_s=... user_s=... sys_s=... maxrss_kib=... status=...
// A command that is not the program (a peer tool) is timed the same way, its standard
// output discarded.
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string unescape(const char *text)
{
    std::string out;
    for (const char *p = text; *p; p++) {
        if (p[0] == '\\' && p[1] == 'n') {
            out.push_back('\n');
            p++;
        } else {
            out.push_back(*p);
        }
    }
    return out;
}

double seconds(const timeval &t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

struct run_figures {
    double wall, user, sys;
    long maxrss_kib;
    int status;
};

run_figures run_once(const std::string &root, const std::string &answer_file, char **command)
{
    const auto start = std::chrono::steady_clock::now();
    pid_t child = fork();
    if (child < 0) {
        std::perror("session_timer: fork");
        std::exit(2);
    }
    if (child == 0) {
        int in = open(answer_file.c_str(), O_RDONLY);
        int out = open("/dev/null", O_WRONLY);
        if (in < 0 || out < 0 || chdir(root.c_str()) != 0)
            _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        close(in);
        close(out);
        execvp(command[0], command);
        _exit(127);
    }
    int status = 0;
    rusage usage;
    std::memset(&usage, 0, sizeof usage);
    while (wait4(child, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::perror("session_timer: wait4");
            std::exit(2);
        }
    }
    const auto stop = std::chrono::steady_clock::now();
    run_figures figures;
    figures.wall = std::chrono::duration<double>(stop - start).count();
    figures.user = seconds(usage.ru_utime);
    figures.sys = seconds(usage.ru_stime);
    figures.maxrss_kib = usage.ru_maxrss;
    figures.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return figures;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: session_timer ROOT ANSWERS REPEATS PROGRAM [ARGS...]\n");
        return 2;
    }
    const std::string root = argv[1];
    const std::string answers = unescape(argv[2]);
    const int repeats = std::max(1, std::atoi(argv[3]));

    char answer_file[] = "/tmp/session_timer_XXXXXX";
    int fd = mkstemp(answer_file);
    if (fd < 0 || write(fd, answers.data(), answers.size()) != static_cast<ssize_t>(answers.size())) {
        std::perror("session_timer: answers");
        return 2;
    }
    close(fd);

    run_figures best{0, 0, 0, 0, 0};
    for (int k = 0; k < repeats; k++) {
        run_figures f = run_once(root, answer_file, argv + 4);
        if (k == 0 || f.wall < best.wall) {
            const long rss = std::max(best.maxrss_kib, f.maxrss_kib);
            best = f;
            best.maxrss_kib = rss;
        } else if (f.maxrss_kib > best.maxrss_kib) {
            best.maxrss_kib = f.maxrss_kib;
        }
        if (f.status != 0) {
            best.status = f.status;
            break;
        }
    }
    unlink(answer_file);
    std::printf("wall_s=%.3f user_s=%.3f sys_s=%.3f maxrss_kib=%ld status=%d\n", best.wall, best.user, best.sys,
                best.maxrss_kib, best.status);
    return best.status == 0 ? 0 : 1;
}
