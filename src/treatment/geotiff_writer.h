// Saves the result as a GeoTIFF, as GIS tools write elevation models and their
// differences: Float32 metres in tiles of 256 x 256, Deflate with the floating-point
// predictor, GDAL_NODATA -9999 for cells without data, PixelIsArea; placed as an ASCII
// output's header places it, in the result's coordinate system. The tiles
// are compressed by two threads, here rather than by libtiff, whose encoder belongs to
// one handle, and handed to libtiff whole.
#ifndef ORMELIX_GEOTIFF_WRITER_H
#define ORMELIX_GEOTIFF_WRITER_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "globals/globals.h"

constexpr int32_t GEOTIFF_TILE_SIDE = 256;
// Deflate's fastest level: on a 5000 x 5000 difference level 6 makes the file 3 % smaller
// and takes 2.5 times as long to compress it.
constexpr int GEOTIFF_DEFLATE_LEVEL = 1;
constexpr float GEOTIFF_OUTPUT_NODATA = -9999.0f;

// True when a file of this frame could pass 4 GB, its tiles incompressible: it is then
// a BigTIFF.
bool geotiff_needs_bigtiff(int32_t lines, int32_t columns);


// A grid written to fp, named name in messages, a band of lines at a time. Each row of
// tiles is compressed once its lines are all given, from the band when it holds them
// all, else from its lines gathered as samples (a row of tiles besides the band), and
// handed to libtiff: the file is the same whatever the bands.
// The tile of the grid whose top-left cell is (top, left), as Float32 (NaN as the no-data
// value, cells beyond the grid as 0) through the floating-point predictor, compressed
// with Deflate into *out. scratch holds the tile before compression. False only when
// Deflate finds no memory.
bool encode_geotiff_tile(double *const *grid, int32_t lines, int32_t columns, int32_t top, int32_t left,
                         std::vector<uint8_t> *scratch, std::vector<uint8_t> *out);

struct geotiff_grid_writer;
// Opens the file through libtiff and describes the image. The corner is the grid's
// lower-left one; cellsize and cellsize_y are a cell's width and height.
geotiff_grid_writer *start_geotiff(FILE *fp, const std::string &name, int32_t lines, int32_t columns, double xll,
                                   double yll, double cellsize, double cellsize_y, const geo_keys &keys);
// Once the first row of tiles is compressed, before any tile is handed to libtiff, room is
// told the file's estimated size; when it answers false the writing stops there.
void geotiff_before_first_tile(geotiff_grid_writer *writer, std::function<bool(double)> room);
// Writes lines [first, end), which are rows[0 .. end - first), after the lines before
// them; the rows are not used once it returns. False once the writing failed; the
// writer is then to be finished.
bool write_geotiff_lines(geotiff_grid_writer *writer, int32_t first, int32_t end, double *const *rows);
// Writes the last tiles and the directory and ends the writer. False when anything
// failed, with *failure saying why. fp is left open.
bool finish_geotiff(geotiff_grid_writer *writer, std::string *failure);

// The whole file at once.
bool write_geotiff(FILE *fp, const std::string &name, double *const *grid, int32_t lines, int32_t columns,
                   double xll, double yll, double cellsize, double cellsize_y, const geo_keys &keys,
                   std::string *failure);

// The GeoTIFF of the output stem, NAME.tif, and its creation.
void geotiff_output_paths(const std::string &stem, std::string *file, std::string *unused);
void create_geotiff_output(const std::string &file, const std::string &unused);

// Writes the result to the output opened by the dialogue; the range is not shown. Once
// the first row of tiles is compressed, the run stops when the file will not fit the disk.
void geotiff_start_output(double d_min, double d_max);
void geotiff_output_lines(int32_t first, int32_t end, double *const *rows);
void geotiff_finish_output();
// The three over the whole result.
void geotiff_output(double d_min, double d_max);

#endif
