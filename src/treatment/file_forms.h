// The file forms a grid is stored in, input or output: one entry each, which the
// dialogue, the readers and the writers consult. A new form is a new entry.
#ifndef ORMELIX_FILE_FORMS_H
#define ORMELIX_FILE_FORMS_H

#include <cstdint>
#include <string>

struct input_grid;

struct file_form {
    const char *menu_name;  // as the form menus list it
    // An input-only form has no output functions (null) and comes after every form
    // that can be written, so that the output's menu is the first choices of the
    // inputs'.
    // A raster pair: a sample file and its descriptor, integers in a unit, no map
    // coordinates.
    bool raster;
    // How a path given on the command line ends in this form; for a raster pair the
    // ending's place is its sample type (null: no second ending).
    const char *endings[2];
    // Input: from the whole path in grid.nomim (for a raster pair also grid.nomdescr and
    // grid.itype), opens the grid's files, has grid.ask answer what they do not say,
    // reads the grid's cells and returns where they lie in grid.frame.
    void (*open_input)(input_grid &grid);
    // Output, in the dialogue's order: the form's questions after the kind of
    // difference (null: none); the files of an output stem (second empty when the form
    // has one file); their creation; and, once the difference is computed, the writer.
    void (*ask_output_options)();
    void (*output_paths)(const std::string &stem, std::string *main, std::string *second);
    void (*create_output)(const std::string &main, const std::string &second);
    void (*write_output)(double d_min, double d_max);
    // The same output a band of lines at a time, in order: start_output once the range is
    // known (what the form asks then, a raster pair's unit; the file's head), then
    // write_output_lines for lines [first, end) of the result in rows[0 .. end - first),
    // band after band, then finish_output. write_output is these three over dtab_out whole:
    // the bytes are the same whatever the bands.
    void (*start_output)(double d_min, double d_max);
    void (*write_output_lines)(int32_t first, int32_t end, double *const *rows);
    void (*finish_output)();
    // Why the form cannot hold the run's result, printed before the form menu comes back;
    // empty when it can (null: it always can).
    std::string (*output_refusal)();
};

extern const file_form FILE_FORMS[];
extern const int32_t FILE_FORM_COUNT;

// The form of every raster GDAL reads: input only, the last.
extern const int32_t GDAL_FILE_FORM;

// The form of a path given on the command line, from its ending (its letters in either
// case), with the raster sample type that ending says (0 for the other forms) and the
// path without it; false when no form ends so.
bool form_of_path(const std::string &path, int32_t *form, int32_t *itype, std::string *stem);
// The same for an input grid, which GDAL reads when asked to (gdal), when the path is
// one of GDAL's virtual file systems (/vsizip/, /vsicurl/, ...) whatever its ending, and
// when no form of the program's own ends so; the stem is then the whole path.
void input_form_of_path(const std::string &path, bool gdal, int32_t *form, int32_t *itype, std::string *stem);

// The menu of the forms, "\n\tFormat Type :\n\t\t0 ====> ascii...", of an input grid (every
// form) or of the output (the forms that can be written), and its last choice.
const char *file_form_menu(bool input);
int32_t last_file_form(bool input);

#endif
