// The GeoTIFF ("NAME.tif"), the form GIS tools deliver elevation models in: a TIFF image
// whose first band holds the altitudes, and the GeoTIFF tags that place its cells on the
// map. Read through libtiff, strips or tiles decoded by two threads, each with a handle
// of its own on the file.
#ifndef ORMELIX_GEOTIFF_READER_H
#define ORMELIX_GEOTIFF_READER_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "globals/globals.h"
#include "gridfiles/geokey_directory.h"
#include "gridfiles/grid_frame.h"
#include "gridfiles/line_reader.h"
#include "gridfiles/tiff_stream.h"

// What a file may hold that the program refuses, or what went wrong in reading it.
enum geotiff_fault_kind {
    geotiff_fine,
    geotiff_not_readable,      // libtiff refuses the file or its first directory
    geotiff_bad_counts,        // lines or columns 0, or beyond 2147483647
    geotiff_sample_type,       // samples other than 8/16/32-bit integers, 32/64-bit reals
    geotiff_codec_missing,     // a compression the libtiff in use was built without
    geotiff_no_georeference,
    geotiff_control_points,    // several tiepoints
    geotiff_not_north_up,      // a rotated, sheared or flipped grid
    geotiff_blocks_too_large,  // tiles beyond what the program decodes
    geotiff_block_unreadable,  // a strip or tile short, corrupt or missing
    geotiff_no_memory,
};
struct geotiff_fault {
    geotiff_fault_kind kind = geotiff_fine;
    std::string what;          // what the file holds, or libtiff's message
};
// The message that stops the run, naming the file and what it holds.
std::string geotiff_fault_message(const std::string &path, const geotiff_fault &fault);

// Where a file's cells lie (the lower-left corner of the grid and the width and height
// of a cell, in the unit of its coordinate system, into placement's xll, yll, dx, dy),
// from ModelPixelScale and one ModelTiepoint, or from a ModelTransformation without
// rotation (either may be empty). With PixelIsPoint the tiepoint is the centre of its
// cell, so the corner is half a cell away. False with the fault when the tags say
// nothing usable, place control points or turn the grid.
bool place_geotiff_cells(const std::vector<double> &pixel_scale, const std::vector<double> &tiepoints,
                         const std::vector<double> &transformation, bool pixel_is_point, int32_t lines,
                         grid_frame *placement, geotiff_fault *fault);


// The value a cell holds when it has no data, from GDAL_NODATA's text, in the band's
// type (a Float32 band compares its samples with the text made a float). False when no
// sample of the band can hold it ("nan" too: such cells have no data anyway).
bool band_nodata(const std::string &text, uint16_t sample_format, uint16_t bits, double *value);
// The first band's scale and offset from GDAL_METADATA: metres = sample x scale + offset.
// Left as they are when the text has none.
void band_scale_offset(const std::string &metadata, double *scale, double *offset);

// What a file's first directory says of its first band and of the cells' place.
struct geotiff_layout {
    int32_t lines = 0, columns = 0;
    uint16_t bits = 0, sample_format = 0, compression = 1;
    uint16_t bands = 1;
    bool interleaved = true;         // a pixel's bands side by side (else a plane each)
    bool tiled = false;
    uint32_t block_columns = 0, block_lines = 0;  // a tile, or a strip (its rows)
    uint32_t blocks = 0;             // tiles or strips of the first band
    uint64_t block_bytes = 0;        // one decoded tile or strip
    bool by_lines = false;           // strips too large to decode whole: read line by line
    bool float_predictor = false;    // the floating-point predictor, undone here (libtiff's
                                     // undoing goes a byte at a time through memory)
    bool has_nodata = false;
    double nodata_value = 0.0;
    bool nodata_near = false;        // samples GDAL's tolerance away from nodata_value are
                                     // no data too, as a VRT mosaic's source with <NODATA>
                                     // makes them (the file's own tags never set it)
    double scale = 1.0, offset = 0.0;
    grid_frame placement;            // its corner and cell sizes
    bool geographic = false;         // GTModelTypeGeoKey says degrees
    geo_keys keys;
};

// Samples of a band as metres into cells: count samples, every stride-th one from the
// start (stride is the number of interleaved bands), cells equal to the no-data value
// or not a number as NaN.
void samples_to_metres(const uint8_t *samples, size_t stride, size_t count, const geotiff_layout &layout,
                       double *cells);

struct geotiff_file {
    tiff_stream stream;
    geotiff_layout layout;
};
// Reads the first directory of the file open on fp into file->layout, and refuses what
// the program cannot read, before any sample is decoded. file must stay where it is
// until geotiff_close.
bool geotiff_open(FILE *fp, const std::string &name, geotiff_file *file, geotiff_fault *fault);
// Decodes the first band into grid, layout.lines x layout.columns. again, when not null,
// is the same file opened once more: a second thread decodes part of the blocks through it.
bool geotiff_read_cells(geotiff_file *file, FILE *again, double *const *grid, geotiff_fault *fault);
void geotiff_close(geotiff_file *file);
// The file opened by geotiff_open on fp, read a band of lines at a time: the cells of
// geotiff_read_cells, the faults of its messages naming the file path. again is as
// there. The reader takes over the file and both FILEs (again may be null), and
// closes them.
std::unique_ptr<line_reader> geotiff_line_reader(std::unique_ptr<geotiff_file> file, FILE *fp, FILE *again,
                                                 const std::string &path);

struct input_grid;
// The input GeoTIFF grid.nomim (NAME.tif), opened and read.
void open_geotiff_input(input_grid &grid);

#endif
