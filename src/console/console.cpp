#include "console/console.h"
#include "console/progress.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "text/number_text.h"
#include "platform/platform.h"

namespace {

stop_style how_runs_stop = stop_on_console;
const char *questions_refused = nullptr;

// An answer that never comes: the script or the terminal has closed.
std::string next_answer()
{
    std::fflush(stdout);
    if (questions_refused != nullptr)
        stop_with_message("%s", questions_refused);
    std::string word;
    if (!read_word(stdin, &word))
        stop_with_message("\n\tNo more answers on the input: the run stops.\n");
    return word;
}

// Asks until the answer is a number of the kind parse takes.
template <typename Number>
Number ask_number(const char *question, bool (*parse)(const std::string &, Number *), const char *kind)
{
    for (;;) {
        std::fputs(question, stdout);
        std::string word = next_answer();
        Number value;
        if (parse(word, &value))
            return value;
        std::printf("\n\t%s is not a %s: please answer again.\n", word.c_str(), kind);
    }
}

[[noreturn]] void stop_output_named(const std::string &name, const char *reason)
{
    stop_with_message("\n\tThe file %s could not be written: %s.\n", name.c_str(), reason);
}

[[noreturn]] void stop_output_named(const std::string &name)
{
    const int error = errno;
    stop_output_named(name, std::strerror(error));
}

} // namespace

void set_stop_style(stop_style style)
{
    how_runs_stop = style;
}

void refuse_questions(const char *message)
{
    questions_refused = message;
}

bool read_word(FILE *in, std::string *word)
{
    word->clear();
    int c;
    do {
        c = std::getc(in);
    } while (c != EOF && is_white(c));
    if (c == EOF)
        return false;
    do {
        word->push_back(static_cast<char>(c));
        c = std::getc(in);
    } while (c != EOF && !is_white(c));
    // The blank that ended the word is left unread, as formatted input leaves it.
    if (c != EOF)
        std::ungetc(c, in);
    return true;
}

bool parse_real_number(const std::string &word, double *value)
{
    return parse_real_word(word.data(), word.data() + word.size(), value);
}

std::string ask_word(const char *question)
{
    std::fputs(question, stdout);
    return next_answer();
}

int32_t ask_int(const char *question)
{
    return ask_number<int32_t>(question, parse_whole_number, "whole number");
}

double ask_real(const char *question)
{
    return ask_number<double>(question, parse_real_number, "number");
}

int32_t ask_menu(std::initializer_list<const char *> pieces, int32_t last_choice)
{
    for (;;) {
        for (const char *piece : pieces)
            std::fputs(piece, stdout);
        std::string word = next_answer();
        int32_t value;
        if (!parse_whole_number(word, &value))
            std::printf("\n\t%s is not a whole number: please answer again.\n", word.c_str());
        else if (value >= 0 && value <= last_choice)
            return value;
    }
}

void stop_with_message(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    if (how_runs_stop == stop_on_standard_error) {
        std::string message = text_vprintf(format, args);
        va_end(args);
        const size_t start = message.find_first_not_of(" \t\r\n");
        const size_t end = message.find_last_not_of(" \t\r\n");
        message = start == std::string::npos ? std::string() : message.substr(start, end - start + 1);
        std::fflush(stdout);
        progress_break();
        std::fprintf(stderr, "ormelix: %s\n", message.c_str());
        std::fflush(stderr);
        output_discard_all();
        std::exit(1);
    }
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
    // Nothing half-written is left behind, even if the key never comes.
    output_discard_all();
    wait_key_press();
    std::exit(1);
}

void require_grid(const void *grid, int32_t NbCol, int32_t NbLig)
{
    if (grid == nullptr)
        stop_with_message("\n\tNot enough memory for a grid of %d lines and %d columns.\n",
                          NbLig, NbCol);
}

void stop_output_failed(FILE *fp)
{
    stop_output_named(output_name(fp));
}

void stop_output_failed_because(FILE *fp, const std::string &reason)
{
    stop_output_named(output_name(fp), reason.c_str());
}

FILE *create_output_file(const std::string &path, const char *mode)
{
    FILE *fp = output_create(path, mode);
    if (fp == nullptr)
        stop_with_message("\n\tThe file %s cannot be created: %s.\n", path.c_str(),
                          std::strerror(errno));
    return fp;
}

void finish_output(FILE *fp)
{
    std::string name = output_name(fp);
    if (!output_close(fp))
        stop_output_named(name);
}

void stop_frame_differs(const char *which, const std::string &second_path, int32_t second_lines, int32_t second_columns,
                        int32_t first_lines, int32_t first_columns)
{
    stop_with_message("\n\n The size of the frame is different "
                      "\n\tthe %s %s has %d lines and %d columns; the first has %d lines "
                      "and %d columns\n",
                      which, second_path.c_str(), second_lines, second_columns, first_lines, first_columns);
}
