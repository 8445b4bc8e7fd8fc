// What the program takes from its home system: the "c:\" root, the key press
// before an early stop, and output files that appear only once complete.
#ifndef ORMELIX_PLATFORM_H
#define ORMELIX_PLATFORM_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The path to open for a path the program builds and shows, such as
// "c:\images\site\north_m2.raw". Elsewhere than on Windows the drive root stands for
// the directory the program was started in: "images/site/north_m2.raw".
std::string local_path(const std::string &program_path);

// From now on every program path is a path as the user gave it on the command line,
// relative to the current folder or absolute, opened as it stands (no "c:\" root).
void take_paths_as_given();

// The program's arguments after its name, as UTF-8; on Windows from the wide command
// line, whatever the code page.
std::vector<std::string> command_line_arguments(int argc, char **argv);

// Standard output is sent nowhere (the dialogue's text of a run from the command line)
// until restore_standard_output; false when it could not be.
bool silence_standard_output();
void restore_standard_output();
// True when standard error shows on a terminal (a console on Windows).
bool standard_error_is_terminal();

// Opens an input file (or an input descriptor created in the run) by its program path.
// On Windows the path is read as UTF-8, or else in the code page the answers were
// typed in, and opened through the wide-character API.
FILE *open_program_file(const std::string &program_path, const char *mode);

// Removes a file by its program path; false when it could not be removed.
bool remove_program_file(const std::string &program_path);

// True when two program paths name the same file: the same local path, or, when
// both exist, the same file reached by two spellings.
bool same_file(const std::string &program_path_a, const std::string &program_path_b);

// Size in bytes of an open file; false when it cannot be known (a pipe, say).
bool open_file_size(FILE *fp, unsigned long long *size);

// Moves an open file's position as fseek does (SEEK_SET, SEEK_CUR, SEEK_END), with
// offsets of 64 bits on every system, so that files beyond 2 GB work on Windows too.
bool seek_open_file(FILE *fp, int64_t offset, int whence);
// The position of an open file, -1 when it cannot be known.
int64_t tell_open_file(FILE *fp);

// The folder the running program was started from, in UTF-8 and without its last
// separator; "" when the system cannot say. Only Windows builds need it (their data files
// sit beside the program).
std::string program_folder();

// Waits for one key: raw and without echo on a terminal (the console's single-key read
// on Windows); otherwise reads one character if there is one. Never hangs on a closed
// input.
void wait_key_press();

// Output files are written under a temporary name in their own folder. Returns null
// (errno set) when the temporary file cannot be created. Mode "w" or "wb".
FILE *output_create(const std::string &program_path, const char *mode);
// The program path an output file was created for ("" if fp is not one).
std::string output_name(FILE *fp);
// Flushes and closes an output file, checking every error. On failure the temporary
// file is removed and false is returned with errno set.
bool output_close(FILE *fp);
// Renames every closed output file over its final name. On failure returns false and
// sets *failed_name to the program path that could not be put in place.
bool output_commit_all(std::string *failed_name);
// Removes the temporary files of every output not yet committed (an early stop).
void output_discard_all();

// The bytes free to this user on the disk of the folder a file of this program path goes
// in (its temporary name sits beside it); false when the system cannot say.
bool free_disk_space(const std::string &program_path, unsigned long long *bytes);

#endif
