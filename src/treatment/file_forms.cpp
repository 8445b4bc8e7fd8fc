#include "treatment/file_forms.h"

#include "gridfiles/ascii_grid.h"
#include "gridfiles/geotiff_reader.h"
#include "gridfiles/raster_reader.h"
#include "treatment/ascii_writer.h"
#include "treatment/geotiff_writer.h"
#include "treatment/raster_writer.h"

// The order is the menus' and the number of each form in every script of answers.
const file_form FILE_FORMS[] = {
    {"ascii", open_ascii_input, nullptr, ascii_output_paths, create_ascii_output, ascii_output, nullptr},
    {"raster", open_raster_input, ask_raster_output_options, raster_output_paths, create_raster_output,
     raster_output, raster_output_refusal},
    {"geotiff", open_geotiff_input, nullptr, geotiff_output_paths, create_geotiff_output, geotiff_output,
     nullptr},
};
const int32_t FILE_FORM_COUNT = sizeof FILE_FORMS / sizeof FILE_FORMS[0];

const char *file_form_menu()
{
    static const std::string menu = [] {
        std::string text = "\n\tFormat Type :";
        for (int32_t k = 0; k < FILE_FORM_COUNT; k++)
            text += "\n\t\t" + std::to_string(k) + " ====> " + FILE_FORMS[k].menu_name;
        return text + "\n\t\t";
    }();
    return menu.c_str();
}
