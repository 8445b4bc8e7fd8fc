#include "treatment/ascii_writer.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "gridfiles/number_text.h"
#include "ormelix/console.h"
#include "ormelix/globals.h"
#include "platform/platform.h"

namespace {

// Size of one write to the output file.
const size_t OUTPUT_BLOCK_SIZE = size_t(1) << 20;

// The longest text of one cell: the number and its tab.
const size_t CELL_TEXT_MAX = FIXED6_MAX_CHARS + 1;

} // namespace

std::string format_ascii_header(int32_t ncols, int32_t nrows, double xll, double yll, double cellsize)
{
    char number[FIXED6_MAX_CHARS];
    std::string header = "ncols " + std::to_string(ncols) + "\nnrows " + std::to_string(nrows) + "\n";
    header += "xllcorner ";
    header.append(number, format_fixed6(number, xll));
    header += "\nyllcorner ";
    header.append(number, format_fixed6(number, yll));
    header += "\ncellsize ";
    header.append(number, format_fixed6(number, cellsize));
    header += "\nnodata_value -9999.9999\n";
    return header;
}

size_t format_ascii_cells(const double *cells, size_t count, char *out, const char *out_end,
                          char **text_end)
{
    size_t done = 0;
    while (done < count && static_cast<size_t>(out_end - out) >= CELL_TEXT_MAX) {
        const double value = cells[done];
        out = format_fixed6(out, value != value ? ASCII_OUTPUT_NODATA : value);
        *out++ = '\t';
        done++;
    }
    *text_end = out;
    return done;
}

bool write_ascii_grid(FILE *fp, double *const *grid, int32_t nb_col, int32_t nb_lig, double xll, double yll,
                      double cellsize, FILE *progress)
{
    const std::string header = format_ascii_header(nb_col, nb_lig, xll, yll, cellsize);
    if (std::fwrite(header.data(), 1, header.size(), fp) != header.size())
        return false;
    std::vector<char> block(OUTPUT_BLOCK_SIZE);
    char *const start = block.data();
    const char *const stop = start + block.size();
    char *fill = start;
    const size_t columns = nb_col > 0 ? static_cast<size_t>(nb_col) : 0;
    for (int32_t i = 0; i < nb_lig; i++) {
        if (i > 0 && i % 100 == 0 && progress) {
            std::fprintf(progress, "\tline %d              \r", i);
            std::fflush(progress);
        }
        size_t done = 0;
        for (;;) {
            done += format_ascii_cells(grid[i] + done, columns - done, fill, stop, &fill);
            if (done == columns)
                break;
            // A full disk is found at the first block, not after gigabytes of text.
            const size_t size = static_cast<size_t>(fill - start);
            if (std::fwrite(start, 1, size, fp) != size)
                return false;
            fill = start;
        }
    }
    const size_t size = static_cast<size_t>(fill - start);
    return std::fwrite(start, 1, size, fp) == size;
}

void ascii_output()
{
    // Two raster inputs: no header has given a corner.
    if (Coord_UTM_dem1_OK == 0 && Coord_UTM_dem2_OK == 0) {
        std::printf("\n\n\tUTM Coordinates : ");
        X_min = ask_real("\n\t\tX_min ? ");
        Y_min = ask_real("\t\tY_min ? ");
    }
    // Nor a cell size: the second raster's pixel size in metres stands for it.
    const double cellsize = (Coord_UTM_dem1_OK == 0 && Coord_UTM_dem2_OK == 0) ? dpix_size2 : dpix_size;
    std::printf("\n\n\tsaving \n\n");
    std::fflush(stdout);
    if (!write_ascii_grid(f3, dtab_out, nb_col, nb_lig, X_min, Y_min, cellsize, stdout)) {
        const int error = errno;
        stop_with_message("\n\tThe file %s could not be written: %s.\n", output_name(f3).c_str(),
                          std::strerror(error));
    }
    finish_output(f3);
    f3 = nullptr;
}
