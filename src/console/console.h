// The console dialogue: questions printed exactly as they stand, answers read as
// white-space-separated words from standard input, and the early stop.
#ifndef ORMELIX_CONSOLE_H
#define ORMELIX_CONSOLE_H

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>

#include "text/number_text.h"

// Reads the next white-space-separated word; false at end of input.
bool read_word(FILE *in, std::string *word);
// True when the whole word is what "%lf" reads (signs, exponents, inf, nan included).
bool parse_real_number(const std::string &word, double *value);

// Each prints its question (flushed), then reads one answer from standard input.
// A word that is not a number is refused with a short message and the question comes
// back; end of input stops the run.
std::string ask_word(const char *question);
int32_t ask_int(const char *question);
double ask_real(const char *question);
// Prints the menu's pieces and reads a whole number until it is 0..last_choice.
int32_t ask_menu(std::initializer_list<const char *> pieces, int32_t last_choice);

// How a run stops, as its front door sets it before the run: the message on the console,
// then a key waited for (the default), or the message alone on one line, "ormelix: ...",
// on standard error, with no key to wait for.
enum stop_style { stop_on_console, stop_on_standard_error };
void set_stop_style(stop_style style);
// From now on a question is not asked: the run stops with message. A front door whose
// answers are all given says so, rather than wait on a terminal that never answers.
void refuse_questions(const char *message);

// Prints the message as the stop style has it, removes unfinished outputs, exits with 1.
[[noreturn]] void stop_with_message(const char *format, ...) __attribute__((format(ORMELIX_PRINTF, 1, 2)));
// Stops the run when a grid could not be allocated (grid is null).
void require_grid(const void *grid, int32_t NbCol, int32_t NbLig);
// Creates an output file (under its temporary name until the run's outputs are put in
// place); one that cannot be created stops the run naming it.
FILE *create_output_file(const std::string &path, const char *mode);
// Closes an output file; a failed write or close stops the run naming the file.
void finish_output(FILE *fp);
// Stops the run after a failed write to an output file (errno tells why).
[[noreturn]] void stop_output_failed(FILE *fp);
// The same, for a reason the library that wrote the file gave.
[[noreturn]] void stop_output_failed_because(FILE *fp, const std::string &reason);
// Stops the run when the second grid's frame (or another grid's: `which` names it,
// "second DEM") is not the first grid's, naming both.
[[noreturn]] void stop_frame_differs(const char *which, const std::string &second_path, int32_t second_lines,
                                     int32_t second_columns, int32_t first_lines,
                                     int32_t first_columns);

#endif
