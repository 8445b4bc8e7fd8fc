// The progress of a command-line run on standard error while a terminal shows it: a
// line a phase (reading each grid, the difference, writing), its bar and percentage
// redrawn in place. Scripts and pipes see nothing: it is shown only on a terminal.
// A caller that parses it (a GIS running the program) asks for plain lines instead.
#ifndef ORMELIX_PROGRESS_H
#define ORMELIX_PROGRESS_H

#include <cstddef>
#include <string>

// Turns the progress on (standard error a terminal) or off; off until then, as in the
// dialogue, whose console is its questions.
void progress_show(bool shown);
// Turns on (or off) the progress as plain lines, whatever standard error is, in place of
// the bar: "progress: PERCENT PHASE" at the start of each phase (0), at each whole
// percentage it grows by and at its end (100). The phase is the rest of the line.
void progress_lines(bool on);
// Ends the phase before (at 100 %) and starts this one at 0 %.
void progress_phase(const std::string &name);
// The share of the phase done, 0 to 1: redrawn when its whole percentage grows. Any
// thread may tell it.
void progress_to(double done);
// Ends the last phase.
void progress_end();
// Leaves the phase's line as it stands, for a message after it: the run stops.
void progress_break();

// The line of a phase: its name, cut to its end when longer than a column of
// PROGRESS_NAME_WIDTH characters, the bar of PROGRESS_BAR_WIDTH marks, the percentage.
constexpr size_t PROGRESS_NAME_WIDTH = 28;
constexpr size_t PROGRESS_BAR_WIDTH = 30;
std::string progress_line(const std::string &name, int percent);
// A phase's plain line, its line break included.
std::string progress_plain_line(const std::string &name, int percent);

#endif
