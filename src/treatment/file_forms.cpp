#include "treatment/file_forms.h"

#include <cctype>

#include "gridfiles/ascii_grid.h"
#include "gridfiles/gdal_grid.h"
#include "gridfiles/geotiff_reader.h"
#include "gridfiles/raster_reader.h"
#include "treatment/ascii_writer.h"
#include "treatment/geotiff_writer.h"
#include "treatment/raster_writer.h"

// The order is the menus' and the number of each form in every script of answers.
const file_form FILE_FORMS[] = {
    {"ascii", false, {".asc", nullptr}, open_ascii_input, nullptr, ascii_output_paths, create_ascii_output, ascii_output,
     ascii_start_output, ascii_output_lines, ascii_finish_output, nullptr},
    {"raster", true, {"_m2.raw", "_m4.raw"}, open_raster_input, ask_raster_output_options, raster_output_paths,
     create_raster_output, raster_output, raster_start_output, raster_output_lines, raster_finish_output,
     raster_output_refusal},
    {"geotiff", false, {".tif", ".tiff"}, open_geotiff_input, nullptr, geotiff_output_paths, create_geotiff_output,
     geotiff_output, geotiff_start_output, geotiff_output_lines, geotiff_finish_output, nullptr},
    {"other (any raster GDAL reads)", false, {nullptr, nullptr}, open_gdal_input, nullptr, nullptr, nullptr, nullptr,
     nullptr, nullptr, nullptr, nullptr},
};
const int32_t FILE_FORM_COUNT = sizeof FILE_FORMS / sizeof FILE_FORMS[0];
const int32_t GDAL_FILE_FORM = FILE_FORM_COUNT - 1;

namespace {

bool ends_with_letters(const std::string &path, const char *ending)
{
    const std::string end(ending);
    if (path.size() <= end.size())
        return false;
    for (size_t k = 0; k < end.size(); k++)
        if (std::tolower(static_cast<unsigned char>(path[path.size() - end.size() + k])) != end[k])
            return false;
    return true;
}

} // namespace

bool form_of_path(const std::string &path, int32_t *form, int32_t *itype, std::string *stem)
{
    for (int32_t f = 0; f < FILE_FORM_COUNT; f++)
        for (int32_t k = 0; k < 2; k++) {
            const char *ending = FILE_FORMS[f].endings[k];
            if (ending == nullptr || !ends_with_letters(path, ending))
                continue;
            *form = f;
            *itype = FILE_FORMS[f].raster ? k : 0;
            *stem = path.substr(0, path.size() - std::string(ending).size());
            return true;
        }
    return false;
}

void input_form_of_path(const std::string &path, bool gdal, int32_t *form, int32_t *itype, std::string *stem)
{
    if (gdal || path.compare(0, 4, "/vsi") == 0 || !form_of_path(path, form, itype, stem)) {
        *form = GDAL_FILE_FORM;
        *itype = 0;
        *stem = path;
    }
}

int32_t last_file_form(bool input)
{
    int32_t last = FILE_FORM_COUNT - 1;
    while (!input && FILE_FORMS[last].write_output == nullptr)
        last--;
    return last;
}

const char *file_form_menu(bool input)
{
    static const auto menu = [](int32_t last) {
        std::string text = "\n\tFormat Type :";
        for (int32_t k = 0; k <= last; k++)
            text += "\n\t\t" + std::to_string(k) + " ====> " + FILE_FORMS[k].menu_name;
        return text + "\n\t\t";
    };
    static const std::string inputs = menu(last_file_form(true)), output = menu(last_file_form(false));
    return input ? inputs.c_str() : output.c_str();
}
