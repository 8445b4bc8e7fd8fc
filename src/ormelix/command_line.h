// The second front door: `ormelix FIRST SECOND OUTPUT [options]` runs the treatment of
// the dialogue with every answer given on the command line, asking nothing.
#ifndef ORMELIX_COMMAND_LINE_H
#define ORMELIX_COMMAND_LINE_H

#include <string>
#include <vector>

#include "treatment/change_budget.h"

// Exit status of a usage error: unknown option, missing value, wrong paths.
constexpr int USAGE_ERROR = 2;

// Reads the arguments (after the program's name) into the run's description. Returns
// -1 when the run is to go on; otherwise the exit status: 0 after --help or --version
// (printed on standard output), USAGE_ERROR after a message and the usage on standard
// error, nothing read or written.
int read_command_line(const std::vector<std::string> &arguments);

// A size of memory as --memory takes it: bytes, or a number with K, M, G or T (powers of
// 1024; KB, KiB, ... alike, in either case), into *bytes; false for any other text or a
// size below 1 MiB.
bool read_memory_size(const std::string &text, double *bytes);
// What the dialogue's opening does, from the description: both grids read, the grids
// of --classes and --stable read, the output created. Standard output is silent from
// here until command_line_results.
void command_line_opening();

// Once the outputs are in place: the budget on standard output, as text or as JSON,
// or nothing with --quiet.
void command_line_results();

// The budget as one JSON object: the budget file's columns, its keys the names in their
// order (counts stay integers, reals the very doubles, an empty value or a real that is
// not a finite number null), then the objects of the other steps.
std::string budget_json(const budget_record &record);

#endif
