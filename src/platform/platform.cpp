#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#ifdef _WIN32
#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#include <shellapi.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
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

// Paths from the command line are the user's own; the dialogue's start at "c:\".
bool paths_as_given = false;
// Where standard output went before it was silenced; -1 while it is not.
int saved_standard_output = -1;

#ifdef _WIN32
// The errno value a C library call would have set, so that messages read the same.
int errno_for(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY:
        return EINVAL;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    default:
        return EIO;
    }
}

// Windows reports a name too long for it as a path not found; say what it is.
int errno_for_path(DWORD error, const std::wstring &path)
{
    size_t longest_name = 0, name = 0;
    for (wchar_t c : path) {
        name = c == L'\\' || c == L'/' ? 0 : name + 1;
        longest_name = name > longest_name ? name : longest_name;
    }
    if (path.size() >= MAX_PATH || longest_name > 255)
        return ENAMETOOLONG;
    return errno_for(error);
}

// Answers are bytes: UTF-8 from a script written today, otherwise the code page the
// user typed them in (the console's) or the one files of this system are written in.
std::wstring windows_path(const std::string &path)
{
    if (path.empty())
        return std::wstring();
    const int size = static_cast<int>(path.size());
    UINT code_page = CP_UTF8;
    DWORD flags = MB_ERR_INVALID_CHARS;
    int wide_size = MultiByteToWideChar(code_page, flags, path.data(), size, nullptr, 0);
    if (wide_size <= 0) {
        DWORD console_mode;
        HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
        code_page = GetConsoleMode(input, &console_mode) && GetConsoleCP() != 0 ? GetConsoleCP()
                                                                                 : CP_ACP;
        flags = 0;
        wide_size = MultiByteToWideChar(code_page, flags, path.data(), size, nullptr, 0);
    }
    std::wstring wide(wide_size > 0 ? static_cast<size_t>(wide_size) : 0, L'\0');
    if (wide_size > 0)
        MultiByteToWideChar(code_page, flags, path.data(), size, &wide[0], wide_size);
    return wide;
}

std::wstring wide_mode(const char *mode)
{
    std::wstring wide;
    for (const char *c = mode; *c != '\0'; c++)
        wide.push_back(static_cast<wchar_t>(*c));
    return wide;
}

bool is_directory(const std::string &path)
{
    DWORD attributes = GetFileAttributesW(windows_path(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
#endif

FILE *open_local(const std::string &path, const char *mode)
{
#ifdef _WIN32
    return _wfopen(windows_path(path).c_str(), wide_mode(mode).c_str());
#else
    return std::fopen(path.c_str(), mode);
#endif
}

bool remove_local(const std::string &path)
{
#ifdef _WIN32
    return DeleteFileW(windows_path(path).c_str()) != 0;
#else
    return std::remove(path.c_str()) == 0;
#endif
}

// Puts a complete file in place of an earlier one in a single step: the name never
// shows a half-written file, nor, with a power cut, nothing at all.
bool replace_local(const std::string &from, const std::string &to)
{
#ifdef _WIN32
    if (MoveFileExW(windows_path(from).c_str(), windows_path(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    errno = is_directory(to) ? EISDIR : errno_for(GetLastError());
    return false;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

// An earlier file, not a folder, stands where an output goes.
bool earlier_file_at(const std::string &path)
{
#ifdef _WIN32
    DWORD attributes = GetFileAttributesW(windows_path(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
#else
    struct stat earlier;
    return lstat(path.c_str(), &earlier) == 0 && !S_ISDIR(earlier.st_mode);
#endif
}

// A second name for the same data, nothing copied.
bool link_local(const std::string &existing, const std::string &new_name)
{
#ifdef _WIN32
    return CreateHardLinkW(windows_path(new_name).c_str(), windows_path(existing).c_str(),
                           nullptr) != 0;
#else
    return link(existing.c_str(), new_name.c_str()) == 0;
#endif
}

#ifdef _WIN32
// A new file of a name no other file has, beside the final one; "w" or "wb".
FILE *create_temporary(const std::string &final_path, const char *mode, std::string *temp_path)
{
    static unsigned attempt = 0;
    for (;;) {
        *temp_path = final_path + ".part-" + std::to_string(GetCurrentProcessId()) + "-" +
                     std::to_string(attempt++);
        HANDLE handle = CreateFileW(windows_path(*temp_path).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
                continue;
            errno = errno_for_path(error, windows_path(*temp_path));
            return nullptr;
        }
        const bool binary = std::string(mode).find('b') != std::string::npos;
        int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), binary ? _O_BINARY : _O_TEXT);
        FILE *fp = fd >= 0 ? _fdopen(fd, mode) : nullptr;
        if (fp == nullptr) {
            int saved = errno;
            if (fd >= 0)
                _close(fd);
            else
                CloseHandle(handle);
            remove_local(*temp_path);
            errno = saved;
        }
        return fp;
    }
}
#endif

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
    if (paths_as_given)
        return program_path;
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

void take_paths_as_given()
{
    paths_as_given = true;
}

std::vector<std::string> command_line_arguments(int argc, char **argv)
{
    std::vector<std::string> arguments;
#ifdef _WIN32
    // argv is in the system's code page, which cannot hold every name: the wide command
    // line can.
    (void)argc;
    (void)argv;
    int count = 0;
    LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int k = 1; wide != nullptr && k < count; k++) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, wide[k], -1, nullptr, 0, nullptr, nullptr);
        std::string text(size > 0 ? static_cast<size_t>(size) : 1, '\0');
        if (size > 0)
            WideCharToMultiByte(CP_UTF8, 0, wide[k], -1, &text[0], size, nullptr, nullptr);
        text.resize(text.size() - 1);
        arguments.push_back(text);
    }
    LocalFree(wide);
#else
    for (int k = 1; k < argc; k++)
        arguments.push_back(argv[k]);
#endif
    return arguments;
}

bool silence_standard_output()
{
    std::fflush(stdout);
#ifdef _WIN32
    const int nowhere = _open("NUL", _O_WRONLY);
    saved_standard_output = nowhere >= 0 ? _dup(1) : -1;
    const bool silenced = saved_standard_output >= 0 && _dup2(nowhere, 1) == 0;
    if (nowhere >= 0)
        _close(nowhere);
#else
    const int nowhere = open("/dev/null", O_WRONLY);
    saved_standard_output = nowhere >= 0 ? dup(1) : -1;
    const bool silenced = saved_standard_output >= 0 && dup2(nowhere, 1) == 1;
    if (nowhere >= 0)
        close(nowhere);
#endif
    return silenced;
}

void restore_standard_output()
{
    if (saved_standard_output < 0)
        return;
    std::fflush(stdout);
#ifdef _WIN32
    _dup2(saved_standard_output, 1);
    _close(saved_standard_output);
#else
    dup2(saved_standard_output, 1);
    close(saved_standard_output);
#endif
    saved_standard_output = -1;
}

bool standard_error_is_terminal()
{
#ifdef _WIN32
    DWORD mode;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

FILE *open_program_file(const std::string &program_path, const char *mode)
{
    return open_local(local_path(program_path), mode);
}

bool remove_program_file(const std::string &program_path)
{
    return remove_local(local_path(program_path));
}

bool same_file(const std::string &program_path_a, const std::string &program_path_b)
{
    std::string a = local_path(program_path_a);
    std::string b = local_path(program_path_b);
    if (a == b)
        return true;
#ifdef _WIN32
    // The volume and the file's index identify a file however its path is spelt.
    BY_HANDLE_FILE_INFORMATION info[2];
    const std::string *paths[2] = {&a, &b};
    for (int k = 0; k < 2; k++) {
        HANDLE handle = CreateFileW(windows_path(*paths[k]).c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return false;
        BOOL known = GetFileInformationByHandle(handle, &info[k]);
        CloseHandle(handle);
        if (!known)
            return false;
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
           info[0].nFileIndexHigh == info[1].nFileIndexHigh &&
           info[0].nFileIndexLow == info[1].nFileIndexLow;
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

bool seek_open_file(FILE *fp, int64_t offset, int whence)
{
#ifdef _WIN32
    return _fseeki64(fp, offset, whence) == 0;
#else
    return fseeko(fp, static_cast<off_t>(offset), whence) == 0;
#endif
}

int64_t tell_open_file(FILE *fp)
{
#ifdef _WIN32
    return _ftelli64(fp);
#else
    return static_cast<int64_t>(ftello(fp));
#endif
}

std::string program_folder()
{
#ifdef _WIN32
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (size == 0)
            return "";
        if (size < path.size()) {
            path.resize(size);
            break;
        }
        path.resize(path.size() * 2);
    }
    const size_t cut = path.find_last_of(L"\\/");
    path.resize(cut == std::wstring::npos ? 0 : cut);
    const int wide_size = static_cast<int>(path.size());
    const int size = WideCharToMultiByte(CP_UTF8, 0, path.data(), wide_size, nullptr, 0, nullptr, nullptr);
    std::string folder(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, path.data(), wide_size, &folder[0], size, nullptr, nullptr);
    return folder;
#else
    return "";
#endif
}

void wait_key_press()
{
    std::fflush(stdout);
#ifdef _WIN32
    // The console's own single-key read; a script's input or a pipe is read below.
    DWORD console_mode;
    if (GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &console_mode)) {
        (void)_getch();
        return;
    }
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
#endif
    // A script's answers: take one character if any is left; end of input ends the wait.
    (void)std::getc(stdin);
}

FILE *output_create(const std::string &program_path, const char *mode)
{
    output_entry entry;
    entry.shown_path = program_path;
    entry.final_path = local_path(program_path);
    entry.closed = false;
    entry.done = false;
#ifdef _WIN32
    entry.fp = create_temporary(entry.final_path, mode, &entry.temp_path);
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
        remove_local(entry->temp_path);
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
        if (earlier_file_at(entry.final_path)) {
            now.spare_path = entry.temp_path + ".earlier";
            if (!link_local(entry.final_path, now.spare_path)) {
                now.spare_path.clear();
                now.earlier_kept = false;  // a disk without links: as a lone rename
            }
        }
        if (!replace_local(entry.temp_path, entry.final_path)) {
            int saved = errno;
            if (!now.spare_path.empty())
                remove_local(now.spare_path);
            for (size_t k = placed.size(); k-- > 0;) {
                if (!placed[k].spare_path.empty())
                    replace_local(placed[k].spare_path, placed[k].final_path);
                else if (placed[k].earlier_kept)
                    remove_local(placed[k].final_path);
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
            remove_local(done.spare_path);
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
        remove_local(entry.temp_path);
        entry.done = true;
    }
}

bool free_disk_space(const std::string &program_path, unsigned long long *bytes)
{
    const std::string path = local_path(program_path);
#ifdef _WIN32
    // The folder with its last separator, as a share's name must end; none: the current
    // folder's disk.
    const size_t cut = path.find_last_of("\\/");
    const std::wstring folder = cut == std::string::npos ? std::wstring() : windows_path(path.substr(0, cut + 1));
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(folder.empty() ? nullptr : folder.c_str(), &available, nullptr, nullptr))
        return false;
    *bytes = available.QuadPart;
    return true;
#else
    const size_t cut = path.find_last_of('/');
    const std::string folder = cut == std::string::npos ? "." : cut == 0 ? "/" : path.substr(0, cut);
    struct statvfs disk;
    if (statvfs(folder.c_str(), &disk) != 0)
        return false;
    *bytes = static_cast<unsigned long long>(disk.f_bavail) * static_cast<unsigned long long>(disk.f_frsize);
    return true;
#endif
}
