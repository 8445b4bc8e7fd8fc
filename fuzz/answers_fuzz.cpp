// Arbitrary bytes as the answers typed to the dialogue. Every word must come out whole
// and in order; whole and real numbers must be what the C library reads from the whole
// word; and a name the dialogue lets through must keep every path built from it inside
// the root folder, as the system will see that path.
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "console/console.h"
#include "text/number_text.h"
#include "ormelix/confidence_dialogue.h"
#include "ormelix/opening.h"
#include "platform/platform.h"

namespace {

bool is_blank(uint8_t c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

std::vector<std::string> plain_words(const uint8_t *data, size_t size)
{
    std::vector<std::string> words;
    for (size_t i = 0; i < size;) {
        if (is_blank(data[i])) {
            i++;
            continue;
        }
        size_t start = i;
        while (i < size && !is_blank(data[i]))
            i++;
        words.emplace_back(data + start, data + i);
    }
    return words;
}

void check_whole_number(const std::string &word)
{
    int32_t value = 12345;
    const bool taken = parse_whole_number(word, &value);
    // strtol on the whole word (words never start with a blank, which strtol would skip).
    errno = 0;
    char *end = nullptr;
    const long parsed = std::strtol(word.c_str(), &end, 10);
    const bool whole = !word.empty() && end == word.c_str() + word.size() && errno == 0 &&
                       parsed >= INT32_MIN && parsed <= INT32_MAX;
    FUZZ_CHECK(taken == whole);
    if (taken)
        FUZZ_CHECK(value == parsed);
    else
        FUZZ_CHECK(value == 12345);
}

void check_real_number(const std::string &word)
{
    double value = 0.5;
    const bool taken = parse_real_number(word, &value);
    char *end = nullptr;
    const double parsed = std::strtod(word.c_str(), &end);
    const bool whole = !word.empty() && end == word.c_str() + word.size();
    FUZZ_CHECK(taken == whole);
    if (taken)
        FUZZ_CHECK(fuzz::same_double(value, parsed));
    else
        FUZZ_CHECK(value == 0.5);
}

// Walks the path as the system will: it stops at the first NUL character, "." stays,
// ".." climbs. False when the walk climbs above the folder it starts in.
bool stays_below_start(const std::string &path)
{
    const std::string seen = path.c_str();
    std::vector<std::string> steps;
    size_t start = 0;
    while (start <= seen.size()) {
        size_t end = seen.find('/', start);
        if (end == std::string::npos)
            end = seen.size();
        const std::string step = seen.substr(start, end - start);
        if (step == "..") {
            if (steps.empty())
                return false;
            steps.pop_back();
        } else if (!step.empty() && step != ".") {
            steps.push_back(step);
        }
        start = end + 1;
    }
    return true;
}

void check_name(const std::string &word)
{
    if (!name_stays_inside(word))
        return;
    // The folder answer, then a grid name in it: both must stay below "images".
    const std::string folder = "c:\\images\\" + word + "\\";
    const std::string grid = folder + word + ".asc";
    for (const std::string &program_path : {folder + "north.asc", grid}) {
        const std::string local = local_path(program_path);
#ifdef _WIN32
        // Windows opens the program's own path: both separators count there.
        FUZZ_CHECK(local.compare(0, 10, "c:\\images\\") == 0);
        std::string below = local.substr(10);
        for (char &c : below)
            if (c == '\\')
                c = '/';
        FUZZ_CHECK(stays_below_start(below));
#else
        FUZZ_CHECK(local.compare(0, 7, "images/") == 0);
        FUZZ_CHECK(stays_below_start(local.substr(7)));
#endif
    }
}

// The questions of the test at a confidence level: an error is a number of 0 or more, or
// else a name that stays inside the root folder; a level lies strictly between 0 and 100.
void check_confidence_answers(const std::string &word)
{
    char *end = nullptr;
    const double parsed = std::strtod(word.c_str(), &end);
    const bool number = !word.empty() && end == word.c_str() + word.size();
    double sigma = -1.0;
    const error_answer answer = read_error_answer(word, &sigma);
    if (number) {
        FUZZ_CHECK(answer == (parsed >= 0.0 && parsed <= DBL_MAX ? ERROR_NUMBER : ERROR_NOT_AN_ERROR));
        if (answer == ERROR_NUMBER)
            FUZZ_CHECK(fuzz::same_double(sigma, parsed));
    } else {
        FUZZ_CHECK(answer == (name_stays_inside(word) ? ERROR_GRID_NAME : ERROR_BAD_NAME));
    }
    if (answer != ERROR_NUMBER)
        FUZZ_CHECK(sigma == -1.0);
    double level = -1.0;
    const bool taken = read_confidence_level(word, &level);
    FUZZ_CHECK(taken == (number && parsed > 0.0 && parsed < 100.0));
    FUZZ_CHECK(taken ? fuzz::same_double(level, parsed) : level == -1.0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FILE *in = fuzz::memory_file(data, size);
    std::vector<std::string> words;
    std::string word;
    while (read_word(in, &word)) {
        FUZZ_CHECK(!word.empty());
        words.push_back(word);
    }
    // The end of the answers stays the end.
    FUZZ_CHECK(!read_word(in, &word));
    std::fclose(in);
    FUZZ_CHECK(words == plain_words(data, size));

    for (const std::string &w : words) {
        check_whole_number(w);
        check_real_number(w);
        check_name(w);
        check_confidence_answers(w);
    }
    return 0;
}
