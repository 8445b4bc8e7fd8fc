// GeoTIFF files in the tests: the real ones of tests/data/geotiff/, and any file read
// whole through the program's reader.
#ifndef ORMELIX_TESTS_GEOTIFF_FILES_H
#define ORMELIX_TESTS_GEOTIFF_FILES_H

#include <cstdio>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "gridfiles/geotiff_reader.h"
#include "nrutil.h"

namespace e2e {

inline std::string geotiff_fixture(const std::string &name)
{
    return read_file(std::string(ORMELIX_SOURCE_DIR) + "/tests/data/geotiff/" + name);
}

struct tiff_read {
    bool opened = false, read = false;
    geotiff_layout layout;
    geotiff_fault fault;
    std::vector<double> cells;  // line after line
};

inline FILE *file_of_bytes(const std::string &bytes)
{
    FILE *fp = std::tmpfile();
    std::fwrite(bytes.data(), 1, bytes.size(), fp);
    std::rewind(fp);
    return fp;
}

// The bytes of a file through the reader, on two threads.
inline tiff_read read_tiff(const std::string &bytes)
{
    tiff_read result;
    FILE *fp = file_of_bytes(bytes);
    FILE *again = file_of_bytes(bytes);
    geotiff_file file;
    result.opened = geotiff_open(fp, "c:\\images\\site\\elev.tif", &file, &result.fault);
    // What the directory told, even of a file refused.
    result.layout = file.layout;
    if (result.opened) {
        double **grid = dmatrice(file.layout.columns, file.layout.lines);
        result.read = geotiff_read_cells(&file, again, grid, &result.fault);
        for (int32_t i = 0; i < file.layout.lines; i++)
            result.cells.insert(result.cells.end(), grid[i], grid[i] + file.layout.columns);
        frdmatrice(grid, file.layout.lines);
    }
    geotiff_close(&file);
    std::fclose(fp);
    std::fclose(again);
    return result;
}

} // namespace e2e

#endif
