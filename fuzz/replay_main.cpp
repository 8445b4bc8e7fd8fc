// Runs a harness over kept inputs without libFuzzer: every file of the folders (or the
// files) named on the command line, in name order. A broken promise aborts the run.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

std::vector<std::string> inputs_in(const std::string &path)
{
    std::vector<std::string> files;
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return files;
    if (!S_ISDIR(st.st_mode)) {
        files.push_back(path);
        return files;
    }
    DIR *dir = opendir(path.c_str());
    if (dir == nullptr)
        return files;
    while (dirent *entry = readdir(dir)) {
        std::string name = entry->d_name;
        // Dot files hold notes about the folder, not inputs.
        if (!name.empty() && name[0] != '.')
            files.push_back(path + "/" + name);
    }
    closedir(dir);
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

int main(int argc, char **argv)
{
    size_t replayed = 0;
    for (int i = 1; i < argc; i++) {
        for (const std::string &file : inputs_in(argv[i])) {
            std::ifstream in(file, std::ios::binary);
            if (!in) {
                std::fprintf(stderr, "cannot read %s\n", file.c_str());
                return 1;
            }
            std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
            std::fprintf(stderr, "%s\n", file.c_str());
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            replayed++;
        }
    }
    std::printf("%zu inputs replayed\n", replayed);
    return 0;
}
