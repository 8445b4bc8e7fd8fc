#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#ifdef _WIN32
#include <conio.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

struct output_entry {
    FILE *fp;                // null once closed
    std::string shown_path;  // as the program prints it
    std::string final_path;  // where it goes once complete
    std::string temp_path;   // where it is written meanwhile
    bool closed;
    bool done;               // committed or discarded
};

std::vector<output_entry> outputs;

output_entry *find_output(FILE *fp)
{
    for (output_entry &entry : outputs)
        if (!entry.done && entry.fp == fp && fp != nullptr)
            return &entry;
    return nullptr;
}

} // namespace

std::string local_path(const std::string &program_path)
{
#ifdef _WIN32
    return program_path;
#else
    std::string path = program_path;
    // The drive root stands for the starting directory.
    if (path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/'))
        path.erase(0, 3);
    for (char &c : path)
        if (c == '\\')
            c = '/';
    return path;
#endif
}

FILE *open_program_file(const std::string &program_path, const char *mode)
{
    return std::fopen(local_path(program_path).c_str(), mode);
}

bool remove_program_file(const std::string &program_path)
{
    return std::remove(local_path(program_path).c_str()) == 0;
}

bool same_file(const std::string &program_path_a, const std::string &program_path_b)
{
    std::string a = local_path(program_path_a);
    std::string b = local_path(program_path_b);
    if (a == b)
        return true;
#ifdef _WIN32
    return false;
#else
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
#endif
}

bool open_file_size(FILE *fp, unsigned long long *size)
{
#ifdef _WIN32
    struct _stat64 status;
    if (_fstat64(_fileno(fp), &status) != 0 || (status.st_mode & _S_IFREG) == 0)
        return false;
#else
    struct stat status;
    if (fstat(fileno(fp), &status) != 0 || !S_ISREG(status.st_mode))
        return false;
#endif
    if (status.st_size < 0)
        return false;
    *size = static_cast<unsigned long long>(status.st_size);
    return true;
}

void wait_key_press()
{
    std::fflush(stdout);
#ifdef _WIN32
    _getch();
#else
    if (isatty(STDIN_FILENO)) {
        struct termios saved;
        if (tcgetattr(STDIN_FILENO, &saved) == 0) {
            struct termios raw = saved;
            raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
            raw.c_cc[VMIN] = 1;
            raw.c_cc[VTIME] = 0;
            tcsetattr(STDIN_FILENO, TCSANOW, &raw);
            char key;
            ssize_t got = read(STDIN_FILENO, &key, 1);
            (void)got;
            tcsetattr(STDIN_FILENO, TCSANOW, &saved);
            return;
        }
    }
    // A script's answers: take one character if any is left; end of input ends the wait.
    (void)std::getc(stdin);
#endif
}

FILE *output_create(const std::string &program_path, const char *mode)
{
    output_entry entry;
    entry.shown_path = program_path;
    entry.final_path = local_path(program_path);
    entry.closed = false;
    entry.done = false;
#ifdef _WIN32
    entry.temp_path = entry.final_path + ".part";
    entry.fp = std::fopen(entry.temp_path.c_str(), mode);
    if (entry.fp == nullptr)
        return nullptr;
#else
    // The temporary file sits beside the final one so that the rename stays on one disk.
    std::vector<char> name(entry.final_path.begin(), entry.final_path.end());
    const char pattern[] = ".part-XXXXXX";
    name.insert(name.end(), pattern, pattern + sizeof pattern);
    int fd = mkstemp(name.data());
    if (fd < 0)
        return nullptr;
    entry.temp_path = name.data();
    // mkstemp makes the file private; give it the permissions any new file would get.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    entry.fp = fdopen(fd, mode);
    if (entry.fp == nullptr) {
        int saved = errno;
        close(fd);
        std::remove(entry.temp_path.c_str());
        errno = saved;
        return nullptr;
    }
#endif
    outputs.push_back(entry);
    return outputs.back().fp;
}

std::string output_name(FILE *fp)
{
    output_entry *entry = find_output(fp);
    return entry != nullptr ? entry->shown_path : std::string();
}

bool output_close(FILE *fp)
{
    output_entry *entry = find_output(fp);
    if (entry == nullptr) {
        errno = EBADF;
        return false;
    }
    bool ok = std::fflush(fp) == 0 && !std::ferror(fp);
    int saved = errno;
    if (std::fclose(fp) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    entry->fp = nullptr;
    entry->closed = true;
    if (!ok) {
        std::remove(entry->temp_path.c_str());
        entry->done = true;
        errno = saved != 0 ? saved : EIO;
    }
    return ok;
}

bool output_commit_all(std::string *failed_name)
{
    // The outputs of a run go in place together or not at all: an earlier file that
    // a rename replaces is kept under a spare name (a second link, nothing copied)
    // until every rename has succeeded, and put back if one fails.
    struct placed_output {
        std::string final_path;
        std::string spare_path;  // the earlier file, or "" when there was none
        bool earlier_kept;       // false: an earlier file was replaced for good
    };
    std::vector<placed_output> placed;
    for (output_entry &entry : outputs) {
        if (entry.done || !entry.closed)
            continue;
        placed_output now = {entry.final_path, std::string(), true};
#ifdef _WIN32
        std::remove(entry.final_path.c_str());
#else
        struct stat earlier;
        if (lstat(entry.final_path.c_str(), &earlier) == 0 && !S_ISDIR(earlier.st_mode)) {
            now.spare_path = entry.temp_path + ".earlier";
            if (link(entry.final_path.c_str(), now.spare_path.c_str()) != 0) {
                now.spare_path.clear();
                now.earlier_kept = false;  // a disk without links: as a lone rename
            }
        }
#endif
        if (std::rename(entry.temp_path.c_str(), entry.final_path.c_str()) != 0) {
            int saved = errno;
            if (!now.spare_path.empty())
                std::remove(now.spare_path.c_str());
            for (size_t k = placed.size(); k-- > 0;) {
                if (!placed[k].spare_path.empty())
                    std::rename(placed[k].spare_path.c_str(), placed[k].final_path.c_str());
                else if (placed[k].earlier_kept)
                    std::remove(placed[k].final_path.c_str());
            }
            if (failed_name != nullptr)
                *failed_name = entry.shown_path;
            output_discard_all();
            errno = saved;
            return false;
        }
        entry.done = true;
        placed.push_back(now);
    }
    for (const placed_output &done : placed)
        if (!done.spare_path.empty())
            std::remove(done.spare_path.c_str());
    return true;
}

void output_discard_all()
{
    for (output_entry &entry : outputs) {
        if (entry.done)
            continue;
        if (entry.fp != nullptr)
            std::fclose(entry.fp);
        entry.fp = nullptr;
        std::remove(entry.temp_path.c_str());
        entry.done = true;
    }
}
