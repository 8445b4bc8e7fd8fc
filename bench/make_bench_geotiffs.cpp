// The GeoTIFF pair of the benchmarks: the two ASCII epochs of make_bench_grids written as
// GIS tools deliver elevation models (Float32, 256 x 256 tiles, Deflate with the
// floating-point predictor), in UTM zone 31N, by the program's own reader and writer.
// Beside them, south_half.tif: the second epoch's cells with its corner half a cell east
// and half a cell south, the pair that the program resamples.
// Usage: make_bench_geotiffs FOLDER   (FOLDER holds north.asc and south.asc)
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "gridfiles/ascii_grid.h"
#include "nrutil.h"
#include "treatment/geotiff_writer.h"

namespace {

[[noreturn]] void fail(const std::string &what)
{
    std::fprintf(stderr, "make_bench_geotiffs: %s\n", what.c_str());
    std::exit(1);
}

// shift: the corner moved by that part of a cell, east and south.
void convert(const std::string &folder, const std::string &epoch, const geo_keys &keys, const std::string &name,
             double shift = 0.0)
{
    const std::string asc = folder + "/" + epoch + ".asc", tif = folder + "/" + name + ".tif";
    FILE *in = std::fopen(asc.c_str(), "rb");
    if (in == nullptr)
        fail("cannot open " + asc + ": " + std::strerror(errno));
    text_source src;
    text_source_start(&src, in);
    ascii_header header;
    ascii_body_fault fault;
    if (!parse_ascii_header(&src, &header))
        fail("cannot read the header of " + asc);
    double **grid = dmatrice(header.ncols, header.nrows);
    if (grid == nullptr || !read_ascii_body(&src, header, grid, header.ncols, header.nrows, nullptr, &fault))
        fail("cannot read " + asc);
    std::fclose(in);
    FILE *out = std::fopen(tif.c_str(), "wb");
    std::string failure;
    if (out == nullptr || !write_geotiff(out, tif, grid, header.ncols, header.nrows, header.xll + shift * header.cellsize,
                                         header.yll - shift * header.cellsize_y,
                                         header.cellsize, header.cellsize_y, keys, &failure) ||
        std::fclose(out) != 0)
        fail("cannot write " + tif + ": " + failure);
    frdmatrice(grid, header.nrows);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_bench_geotiffs FOLDER\n");
        return 2;
    }
    geo_keys utm31;
    utm31.geotiff = true;
    // Projected, PixelIsArea, EPSG 32631.
    utm31.directory = {1, 1, 0, 3, 1024, 0, 1, 1, 1025, 0, 1, 1, 3072, 0, 1, 32631};
    convert(argv[1], "north", utm31, "north");
    convert(argv[1], "south", utm31, "south");
    convert(argv[1], "south", utm31, "south_half", 0.5);
    return 0;
}
