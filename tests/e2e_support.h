// What the tests share: scratch folders and files, samples as sample files hold
// them, and the real program run in a scratch folder that stands for the drive root,
// with the answers of a session on its standard input.
#ifndef ORMELIX_TESTS_E2E_SUPPORT_H
#define ORMELIX_TESTS_E2E_SUPPORT_H

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace e2e {

struct run_result {
    std::string console;  // everything written on standard output
    std::string errors;   // standard error (the program writes nothing there)
    int status;           // exit status, or 128 + signal
};

struct run_limits {
    rlim_t file_size = RLIM_INFINITY;     // largest file the run may write
    rlim_t address_space = RLIM_INFINITY; // memory the run may map
    std::vector<std::string> environment; // "NAME=value" set for the run only
    int user = -1;                        // run as this user and group (root only); -1 keeps
};

// Status of a run that could not take the user it was given.
constexpr int USER_REFUSED = 125;

inline std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Samples as a sample file holds them: width bytes each, low byte first.
inline std::string little_endian(const std::vector<int64_t> &samples, int width)
{
    std::string bytes;
    for (int64_t v : samples)
        for (int k = 0; k < width; ++k)
            bytes.push_back(static_cast<char>((static_cast<uint64_t>(v) >> (8 * k)) & 0xFF));
    return bytes;
}

inline std::string little_endian16(const std::vector<uint16_t> &samples)
{
    return little_endian(std::vector<int64_t>(samples.begin(), samples.end()), 2);
}

inline std::string little_endian32(const std::vector<int32_t> &samples)
{
    return little_endian(std::vector<int64_t>(samples.begin(), samples.end()), 4);
}

inline size_t occurrences(const std::string &text, const std::string &piece)
{
    size_t count = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++count;
    return count;
}

// Everything an open file holds, from its start.
inline std::string file_text(FILE *fp)
{
    std::string text;
    std::rewind(fp);
    int c;
    while ((c = std::fgetc(fp)) != EOF)
        text.push_back(static_cast<char>(c));
    return text;
}

inline bool file_exists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

inline void write_file(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

// A fresh, empty folder of its own for one test; remove_tree takes it away.
inline std::string scratch_folder(const std::string &purpose)
{
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/ormelix-" + purpose + "-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr)
        std::abort();
    return name.data();
}

// A fresh root folder holding images/site/.
inline std::string make_root()
{
    std::string root = scratch_folder("e2e");
    mkdir((root + "/images").c_str(), 0777);
    mkdir((root + "/images/site").c_str(), 0777);
    return root;
}

inline void remove_tree(const std::string &path)
{
    DIR *dir = opendir(path.c_str());
    if (dir != nullptr) {
        while (dirent *entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            remove_tree(path + "/" + name);
        }
        closedir(dir);
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

// Names of the files in a folder, sorted.
inline std::vector<std::string> list_folder(const std::string &path)
{
    std::vector<std::string> names;
    DIR *dir = opendir(path.c_str());
    if (dir == nullptr)
        return names;
    while (dirent *entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

inline run_result run_program(const std::string &root, const std::string &answers,
                              const run_limits &limits = run_limits())
{
    std::string in_path = root + "/.answers";
    std::string out_path = root + "/.console";
    std::string err_path = root + "/.errors";
    write_file(in_path, answers);
    // Another user may not reach the build folder: that run takes a copy in the root.
    std::string program = ORMELIX_BINARY;
    if (limits.user >= 0) {
        program = root + "/.ormelix";
        write_file(program, read_file(ORMELIX_BINARY));
        chmod(program.c_str(), 0755);
    }
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(root.c_str()) != 0)
            _exit(126);
        int in = open(in_path.c_str(), O_RDONLY);
        int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (limits.file_size != RLIM_INFINITY) {
            signal(SIGXFSZ, SIG_IGN);
            struct rlimit rl = {limits.file_size, limits.file_size};
            setrlimit(RLIMIT_FSIZE, &rl);
        }
        if (limits.address_space != RLIM_INFINITY) {
            struct rlimit rl = {limits.address_space, limits.address_space};
            setrlimit(RLIMIT_AS, &rl);
        }
        for (const std::string &setting : limits.environment) {
            size_t equals = setting.find('=');
            setenv(setting.substr(0, equals).c_str(),
                   equals == std::string::npos ? "" : setting.c_str() + equals + 1, 1);
        }
        if (limits.user >= 0) {
            gid_t group = static_cast<gid_t>(limits.user);
            if (setgroups(1, &group) != 0 || setgid(group) != 0 ||
                setuid(static_cast<uid_t>(limits.user)) != 0)
                _exit(USER_REFUSED);
        }
        execl(program.c_str(), program.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    run_result result;
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    result.console = read_file(out_path);
    result.errors = read_file(err_path);
    unlink(in_path.c_str());
    unlink(out_path.c_str());
    unlink(err_path.c_str());
    if (limits.user >= 0)
        unlink(program.c_str());
    return result;
}

// The machine's memory and swap as the program's messages show them, from the
// system's own account: "23.5 GiB of memory and 0.0 GiB of swap".
inline std::string machine_memory_shown()
{
    std::ifstream in("/proc/meminfo");
    std::string key;
    double kib = 0, memory_kib = 0, swap_kib = 0;
    while (in >> key >> kib) {
        if (key == "MemTotal:")
            memory_kib = kib;
        else if (key == "SwapTotal:")
            swap_kib = kib;
        in.ignore(1 << 16, '\n');
    }
    // What a machine has is rounded down.
    auto shown = [](double kib_total) {
        std::ostringstream text;
        text.setf(std::ios::fixed);
        text.precision(1);
        text << std::floor(kib_total / 1048576.0 * 10.0) / 10.0 << " GiB";
        return text.str();
    };
    return shown(memory_kib) + " of memory and " + shown(swap_kib) + " of swap";
}

// The box the program prints first.
inline std::string banner()
{
    return "\n\n\t**************************************************************"
           "\n\t*                                                            *"
           "\n\t*                        ORMELIX                             *"
           "\n\t*                                                            *"
           "\n\t*                                                            *"
           "\n\t*                                                            *"
           "\n\t*                                                            *"
           "\n\t*                        Difference of two elevation models  *"
           "\n\t*                              First version: December 2026  *"
           "\n\t*                                                            *"
           "\n\t*  Revision 1.0, 8 December 2026: checked answers and files  *"
           "\n\t*                                                            *"
           "\n\t**************************************************************";
}

} // namespace e2e

#endif
