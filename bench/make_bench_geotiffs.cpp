// The GeoTIFF pair of the benchmarks: the two ASCII epochs of make_bench_grids written as
// GIS tools deliver elevation models (Float32, 256 x 256 tiles, Deflate with the
// floating-point predictor), in UTM zone 31N, by the program's own reader and writer.
// Beside them, south_half.tif: the second epoch's cells with its corner half a cell east
// and half a cell south, the pair that the program resamples; and south_utm32.tif, the
// second epoch's cells declared in UTM zone 32N, centred where the first's centre lies in
// that zone (the same values on cells turned by the meridians' convergence: the pair the
// program reprojects, to time it). And for the command line's budgets per class and on
// stable ground: classes.tif, the first epoch's altitude in bands of 50 m (runs of a
// class along each line, as landforms give), and stable.tif, 1 on the blocks of 100 x 100
// cells of one chequer colour, 0 on the others.
// Usage: make_bench_geotiffs FOLDER   (FOLDER holds north.asc and south.asc)
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <proj.h>

#include "gridfiles/ascii_grid.h"
#include "nrutil.h"
#include "treatment/geotiff_writer.h"

namespace {

[[noreturn]] void fail(const std::string &what)
{
    std::fprintf(stderr, "make_bench_geotiffs: %s\n", what.c_str());
    std::exit(1);
}

// The point of UTM zone 31N in zone 32N.
void to_zone_32(double *x, double *y)
{
    PJ_CONTEXT *ctx = proj_context_create();
    PJ *raw = proj_create_crs_to_crs(ctx, "EPSG:32631", "EPSG:32632", nullptr);
    PJ *op = raw != nullptr ? proj_normalize_for_visualization(ctx, raw) : nullptr;
    if (op == nullptr)
        fail("PROJ cannot carry UTM zone 31N into zone 32N");
    const PJ_COORD out = proj_trans(op, PJ_FWD, proj_coord(*x, *y, 0, 0));
    *x = out.xy.x;
    *y = out.xy.y;
    proj_destroy(op);
    proj_destroy(raw);
    proj_context_destroy(ctx);
}

enum grid_made { AS_READ, CLASSES, STABLE };

// The cells of an epoch turned into a class grid or a stable-ground mask.
void make_cells(double **grid, int32_t lines, int32_t columns, grid_made made)
{
    for (int32_t i = 0; i < lines && made != AS_READ; i++)
        for (int32_t j = 0; j < columns; j++)
            grid[i][j] = made == CLASSES ? std::floor(grid[i][j] / 50.0) : ((i / 100 + j / 100) % 2 == 0);
}

// shift: the corner moved by that part of a cell, east and south; zone_32: the grid
// centred where its centre in zone 31N lies in zone 32N.
void convert(const std::string &folder, const std::string &epoch, const geo_keys &keys, const std::string &name,
             double shift = 0.0, bool zone_32 = false, grid_made made = AS_READ)
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
    make_cells(grid, header.nrows, header.ncols, made);
    if (zone_32) {
        const double half_width = 0.5 * header.ncols * header.cellsize;
        const double half_height = 0.5 * header.nrows * header.cellsize_y;
        double x = header.xll + half_width, y = header.yll + half_height;
        to_zone_32(&x, &y);
        header.xll = x - half_width;
        header.yll = y - half_height;
    }
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
    geo_keys utm32 = utm31;
    utm32.directory.back() = 32632;
    convert(argv[1], "south", utm32, "south_utm32", 0.0, true);
    convert(argv[1], "north", utm31, "classes", 0.0, false, CLASSES);
    convert(argv[1], "north", utm31, "stable", 0.0, false, STABLE);
    return 0;
}
