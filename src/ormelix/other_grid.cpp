#include "ormelix/other_grid.h"

#include <cstdio>

#include "globals/globals.h"
#include "treatment/file_forms.h"

other_grid read_other_grid(const std::string &path, int32_t form, int32_t itype, const std::string &descriptor,
                           const grid_frame &dem, const input_questions &ask, bool by_bands)
{
    std::string nomim = path, nomdescr = descriptor;
    int32_t format = form, type = itype, lines = 0, columns = 0, pix_size = 0;
    int32_t descr_ok = 0, corner_ok = 0, geographic = 0;
    FILE *f = nullptr, *fd = nullptr;
    double dpix = 0.0;
    geo_keys keys;
    other_grid read;
    input_grid grid = {nomim, nomdescr, format, type, f, fd, lines, columns, pix_size, dpix, descr_ok,
                       corner_ok, geographic, keys, read.cells, true, &dem, &ask, grid_frame(), by_bands, nullptr};
    FILE_FORMS[form].open_input(grid);
    read.frame = grid.frame;
    read.reader = std::move(grid.reader);
    return read;
}
