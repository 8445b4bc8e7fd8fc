// What the tests share: scratch folders and files, samples as sample files hold
// them, and the real program run in a scratch folder that stands for the drive root,
// with the answers of a session on its standard input. On Windows the root is the real
// c:\images\ (the tests' own, in the Wine prefix of the cross build), so the sessions
// run one after another.
#ifndef ORMELIX_TESTS_E2E_SUPPORT_H
#define ORMELIX_TESTS_E2E_SUPPORT_H

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <unistd.h>
#endif
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

namespace e2e {

struct run_result {
    std::string console;  // everything written on standard output
    std::string errors;   // standard error (the program writes nothing there)
    int status;           // exit status, or 128 + signal
};

#ifdef _WIN32
const char NULL_DEVICE[] = "NUL";
#else
const char NULL_DEVICE[] = "/dev/null";
#endif

constexpr uint64_t NO_LIMIT = UINT64_MAX;

// Resource limits and users are POSIX's: on Windows a run that asks for them is refused
// (the tests that need them are left out there by name).
struct run_limits {
    uint64_t file_size = NO_LIMIT;        // largest file the run may write
    uint64_t address_space = NO_LIMIT;    // memory the run may map
    std::vector<std::string> environment; // "NAME=value" set for the run only
    int user = -1;                        // run as this user and group (root only); -1 keeps
    bool closed_input = false;            // no standard input at all, not even an empty one
    std::vector<std::string> arguments;   // the program's arguments (none: the dialogue)
};

// Status of a run that could not take the user or the limits it was given.
constexpr int USER_REFUSED = 125;

// The words of an ASCII grid after its header lines.
inline std::vector<std::string> body_words(const std::string &grid, int header_lines)
{
    std::istringstream text(grid);
    std::string line, word;
    for (int i = 0; i < header_lines; i++)
        std::getline(text, line);
    std::vector<std::string> words;
    while (text >> word)
        words.push_back(word);
    return words;
}

inline std::string read_file(const std::string &path)
{
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A copy of an ASCII grid whose lower-left corner is moved by fractions of a cell, as
// gdal_translate -a_ullr moves it, and whose heights are raised by `up`.
inline std::string moved_grid(const std::string &grid, double east_cells, double north_cells, double up)
{
    std::istringstream in(grid);
    std::string out, key, line;
    double value = 0.0, cell = 0.0, xll = 0.0, yll = 0.0;
    for (int k = 0; k < 6 && std::getline(in, line); k++) {
        std::istringstream words(line);
        words >> key >> value;
        if (key == "xllcorner")
            xll = value;
        else if (key == "yllcorner")
            yll = value;
        else if (key == "cellsize")
            cell = value;
        out += line + "\n";
    }
    char corner[128];
    std::snprintf(corner, sizeof corner, "xllcorner %.12f\nyllcorner %.12f\n", xll + east_cells * cell,
                  yll + north_cells * cell);
    const size_t x_at = out.find("xllcorner"), after_y = out.find('\n', out.find("yllcorner")) + 1;
    out.replace(x_at, after_y - x_at, corner);
    double height;
    while (in >> height)
        out += (height == -32768 ? std::string("-32768") : std::to_string(height + up)) + " ";
    return out + "\n";
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

// What a text file the program writes holds: on Windows every line break is CR LF.
inline std::string text_file(const std::string &text)
{
#ifdef _WIN32
    std::string crlf;
    for (char c : text) {
        if (c == '\n')
            crlf.push_back('\r');
        crlf.push_back(c);
    }
    return crlf;
#else
    return text;
#endif
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
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::u8path(path), ignored);
}

inline void write_file(const std::string &path, const std::string &bytes)
{
    std::ofstream out(std::filesystem::u8path(path), std::ios::binary);
    out << bytes;
}

// A little-endian classic TIFF (as GDAL writes them here) with one tag of its first
// directory given another whole value: how the tests make the files a tool never writes.
inline void set_tiff_tag(std::string *tiff, uint16_t tag, uint32_t value)
{
    auto at = [&](size_t offset, int width) {
        uint32_t v = 0;
        for (int k = width - 1; k >= 0; k--)
            v = (v << 8) | static_cast<unsigned char>((*tiff)[offset + k]);
        return v;
    };
    auto put = [&](size_t offset, uint32_t v, int width) {
        for (int k = 0; k < width; k++)
            (*tiff)[offset + k] = static_cast<char>((v >> (8 * k)) & 0xFF);
    };
    const size_t ifd = at(4, 4);
    for (size_t entry = ifd + 2; entry < ifd + 2 + 12 * at(ifd, 2); entry += 12)
        if (at(entry, 2) == tag) {
            // A value too large for a short is given as a long.
            if (at(entry + 2, 2) == 3 && value > 0xFFFF)
                put(entry + 2, 4, 2);
            put(entry + 8, value, at(entry + 2, 2) == 3 ? 2 : 4);
            return;
        }
    ADD_FAILURE() << "no tag " << tag << " in the first directory";
}

// A fresh folder of its own for one test, in the system's folder for temporary
// files; remove_tree takes it away. A death test on Windows runs its test again in a
// new process: the same name there (from the test's name and a mark the process hands
// down) finds the same folder.
inline std::string scratch_folder(const std::string &purpose)
{
    const char MARK[] = "ORMELIX_TEST_SCRATCH";
    if (std::getenv(MARK) == nullptr) {
        std::string mark = std::to_string(std::random_device()()) + "-" +
                           std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
#ifdef _WIN32
        _putenv_s(MARK, mark.c_str());
#else
        setenv(MARK, mark.c_str(), 1);
#endif
    }
    std::string name = "ormelix-" + purpose + "-" + std::getenv(MARK);
    if (const testing::TestInfo *test = testing::UnitTest::GetInstance()->current_test_info())
        name += std::string("-") + test->test_suite_name() + "." + test->name();
    std::error_code error;
    std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (const char *tmpdir = std::getenv("TMPDIR"))
        base = tmpdir;
    std::filesystem::path folder = base / name;
    std::filesystem::create_directories(folder, error);
    if (!std::filesystem::is_directory(folder, error)) {
        std::fprintf(stderr, "cannot make the scratch folder %s\n", folder.string().c_str());
        std::abort();
    }
    return folder.generic_string();
}

inline void make_folder(const std::string &path)
{
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::u8path(path), ignored);
}

inline void remove_tree(const std::string &path)
{
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::u8path(path), ignored);
}

#ifdef _WIN32
// Left in c:\images\ while it belongs to the tests; a c:\images\ with other files and
// without it is a user's, and the tests refuse to touch it.
const char TEST_ROOT_MARK[] = "c:/images/.ormelix-tests";
#endif

// A fresh root folder holding images/site/.
inline std::string make_root()
{
#ifdef _WIN32
    std::error_code error;
    const std::filesystem::path images = "c:/images";
    if (std::filesystem::exists(images, error) && !std::filesystem::is_empty(images, error) &&
        !std::filesystem::exists(TEST_ROOT_MARK, error)) {
        std::fprintf(stderr, "c:\\images\\ holds files that are not the tests': run the tests "
                             "where it is free (make test-windows gives them a Wine prefix).\n");
        std::exit(2);
    }
    make_folder("c:/images/site");
    std::ofstream(TEST_ROOT_MARK) << "whole-session tests of ORMELIX\n";
    return "c:";
#else
    std::string root = scratch_folder("e2e");
    make_folder(root + "/images/site");
    return root;
#endif
}

// Removes a root folder of make_root and everything in it; on Windows, what the tests
// put in c:\images\.
inline void remove_root(const std::string &root)
{
#ifdef _WIN32
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator("c:/images", error))
        if (entry.path().filename() != ".ormelix-tests")
            remove_tree(entry.path().u8string());
    (void)root;
#else
    remove_tree(root);
#endif
}

// Names of the files in a folder, sorted.
inline std::vector<std::string> list_folder(const std::string &path)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(std::filesystem::u8path(path), error))
        names.push_back(entry.path().filename().u8string());
    std::sort(names.begin(), names.end());
    return names;
}

// What the system's messages call an error (strerror), as the program shows it.
inline std::string reason(int error)
{
    return std::strerror(error);
}

#ifdef _WIN32
inline std::wstring wide(const std::string &text)
{
    std::wstring out(text.size() + 1, L'\0');
    int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0],
                                   static_cast<int>(out.size()));
    out.resize(size > 0 ? static_cast<size_t>(size) : 0);
    return out;
}

// The program built beside the test program.
inline std::wstring tested_program()
{
    std::wstring self(32768, L'\0');
    DWORD size = GetModuleFileNameW(nullptr, &self[0], static_cast<DWORD>(self.size()));
    self.resize(size);
    return self.substr(0, self.find_last_of(L"\\/") + 1) + wide(ORMELIX_BINARY);
}

inline HANDLE inheritable_file(const std::string &path, bool for_writing)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileW(wide(path).c_str(), for_writing ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       for_writing ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}
#endif

// The console of a Windows program ends its lines with CR LF: shown as LF here, as the
// user sees them. A CR of its own (the progress lines) stays.
inline std::string console_text(const std::string &text)
{
#ifdef _WIN32
    std::string lines;
    for (size_t i = 0; i < text.size(); i++)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            lines.push_back(text[i]);
    return lines;
#else
    return text;
#endif
}

inline run_result run_program(const std::string &root, const std::string &answers,
                              const run_limits &limits = run_limits())
{
    // The run's own files stay out of the root folder, whose files the tests compare.
    std::string files = scratch_folder("run");
    std::string in_path = files + "/answers";
    std::string out_path = files + "/console";
    std::string err_path = files + "/errors";
    write_file(in_path, answers);
    run_result result;
#ifdef _WIN32
    if (limits.file_size != NO_LIMIT || limits.address_space != NO_LIMIT || limits.user >= 0) {
        remove_tree(files);
        result.status = USER_REFUSED;
        return result;
    }
    std::vector<std::pair<std::string, std::string>> saved;
    for (const std::string &setting : limits.environment) {
        size_t equals = setting.find('=');
        std::string name = setting.substr(0, equals);
        const char *before = std::getenv(name.c_str());
        saved.emplace_back(name, before != nullptr ? before : "");
        SetEnvironmentVariableA(name.c_str(),
                                equals == std::string::npos ? "" : setting.c_str() + equals + 1);
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = limits.closed_input ? nullptr : inheritable_file(in_path, false);
    startup.hStdOutput = inheritable_file(out_path, true);
    startup.hStdError = inheritable_file(err_path, true);
    std::wstring program = tested_program();
    std::wstring command = L"\"" + program + L"\"";
    for (const std::string &argument : limits.arguments)
        command += L" \"" + wide(argument) + L"\"";
    std::wstring folder = wide(root + "\\");
    PROCESS_INFORMATION process = {};
    result.status = 127;
    if (CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr,
                       folder.c_str(), &startup, &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 127;
        GetExitCodeProcess(process.hProcess, &code);
        result.status = static_cast<int>(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    if (startup.hStdInput != nullptr)
        CloseHandle(startup.hStdInput);
    CloseHandle(startup.hStdOutput);
    CloseHandle(startup.hStdError);
    for (const auto &setting : saved)
        SetEnvironmentVariableA(setting.first.c_str(),
                                setting.second.empty() ? nullptr : setting.second.c_str());
    result.console = console_text(read_file(out_path));
    result.errors = console_text(read_file(err_path));
#else
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
        if (limits.closed_input)
            close(0);
        else
            dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (limits.file_size != NO_LIMIT) {
            signal(SIGXFSZ, SIG_IGN);
            struct rlimit rl = {static_cast<rlim_t>(limits.file_size),
                                static_cast<rlim_t>(limits.file_size)};
            setrlimit(RLIMIT_FSIZE, &rl);
        }
        if (limits.address_space != NO_LIMIT) {
            struct rlimit rl = {static_cast<rlim_t>(limits.address_space),
                                static_cast<rlim_t>(limits.address_space)};
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
        std::vector<char *> argv = {const_cast<char *>(program.c_str())};
        for (const std::string &argument : limits.arguments)
            argv.push_back(const_cast<char *>(argument.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    result.console = read_file(out_path);
    result.errors = read_file(err_path);
    if (limits.user >= 0)
        unlink(program.c_str());
#endif
    remove_tree(files);
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
