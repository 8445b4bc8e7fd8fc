// Any raster GDAL reads, for the forms the program has no reader of its own for: an
// Imagine NAME.img, a VRT mosaic of tiles, an SRTM .hgt, a BIL with its .hdr, a zipped
// ASCII grid (/vsizip/...), a URL (/vsicurl/...). Its first band, read through GDAL's C
// API block by block, on two threads. A build without GDAL keeps the form and refuses to read it.
#ifndef ORMELIX_GDAL_GRID_H
#define ORMELIX_GDAL_GRID_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gridfiles/grid_frame.h"
#include "gridfiles/line_reader.h"

enum gdal_fault_kind {
    gdal_fine,
    gdal_missing,           // the program was built without GDAL
    gdal_not_readable,      // GDAL opens no raster there
    gdal_no_band,           // a raster of no band (a container of subdatasets)
    gdal_bad_counts,        // no line or no column
    gdal_not_numeric,       // complex samples, or a type GDAL does not know
    gdal_no_georeference,   // no geotransform, or control points only
    gdal_not_north_up,      // a rotated, sheared or flipped grid
    gdal_block_unreadable,  // GDAL fails on a block
};
struct gdal_fault {
    gdal_fault_kind kind = gdal_fine;
    std::string what;       // what the file holds, or GDAL's own message
};
// The message that stops the run, naming the file and GDAL's reason.
std::string gdal_fault_message(const std::string &path, const gdal_fault &fault);

// True when this build reads the form through GDAL.
bool gdal_available();

// Where the cells lie from GDAL's geotransform (x0, dx, rotation, y0, rotation, -dy):
// the lower-left corner and both cell sizes into placement. False with the fault for a
// grid that is not north-up.
bool place_gdal_cells(const double transform[6], int32_t lines, grid_frame *placement, gdal_fault *fault);

// What the file's first band says of itself and of its cells' place.
struct gdal_layout {
    int32_t lines = 0, columns = 0;
    int32_t bands = 0;
    int32_t block_columns = 0, block_lines = 0;  // GDAL's natural block of the band
    std::string sample_type;                      // GDAL's name of it ("Float32")
    std::string driver;                           // GDAL's short name ("HFA")
    bool has_nodata = false;
    double nodata_value = 0.0;                    // as the band's samples hold it
    double scale = 1.0, offset = 0.0;             // metres = sample x scale + offset
    grid_frame placement;                         // its corner and cell sizes
    std::string wkt;                              // its coordinate system, "" when none
};

struct gdal_file {
    void *dataset = nullptr;  // GDALDatasetH
    void *band = nullptr;     // GDALRasterBandH
    int data_type = 0;        // GDALDataType
    gdal_layout layout;
};
// Opens path (a file, or a path of one of GDAL's virtual file systems) and reads what
// its first band says into file->layout; refuses what the program cannot read before
// any block is read. drivers, when not null, lists the only drivers tried (null ended).
// The file is to be closed by gdal_grid_close whatever the answer.
bool gdal_grid_open(const std::string &path, gdal_file *file, gdal_fault *fault,
                    const char *const *drivers = nullptr);
// Reads band 1 into grid, layout.lines x layout.columns, block by block on the band's own
// block boundaries: metres, cells without data (the no-data value, not a number) NaN.
// again, when open (not null), is the same file opened once more: a second thread reads
// the second half of the blocks' rows through it.
bool gdal_grid_read_cells(gdal_file *file, gdal_file *again, double *const *grid, gdal_fault *fault);
void gdal_grid_close(gdal_file *file);
// The file opened by gdal_grid_open, read a band of lines at a time: the cells of
// gdal_grid_read_cells, the faults of its messages naming the file path. again is as
// there (closed when not open). The reader takes both over and closes them. Null in a
// build without GDAL, which opens no file.
std::unique_ptr<line_reader> gdal_line_reader(std::unique_ptr<gdal_file> file, std::unique_ptr<gdal_file> again,
                                              const std::string &path);

// A piece of a VRT mosaic: a window of band 1 of a GeoTIFF tile, copied cell for cell
// into the mosaic's band.
struct mosaic_piece {
    std::string path;                    // the tile, as a program path
    int32_t tile_columns = 0;            // the tile's own width
    int32_t source_left = 0, source_top = 0;  // the window in the tile
    int32_t left = 0, top = 0;           // its place in the mosaic
    int32_t columns = 0, lines = 0;
    bool nodata_near = false;            // a <NODATA> of the source: GDAL leaves the samples
                                         // it finds equal to it (within its tolerance) as the
                                         // mosaic's no data
};
// True, with its pieces, when the VRT path (a program path), opened by GDAL as file, is a
// plain mosaic of GeoTIFF tiles the program's own reader reads to GDAL's values: band 1
// made only of simple sources (or complex ones that change no value), each the band 1 of
// a GeoTIFF of the mosaic's sample type, window for window (no resampling), none over
// another, the mosaic's no-data value (if any) a value of its type and each source's the
// same. False for any other file, which GDAL reads itself.
bool plain_mosaic(const std::string &path, const gdal_file &file, std::vector<mosaic_piece> *pieces);
// A plain mosaic's band read a band of lines at a time, its tiles through the program's
// own GeoTIFF reader, open only while a band crosses them; cells no piece covers are the
// mosaic's no data (0 as a sample when it has none), its scale and offset applied. A
// tile that fails has GDAL read the band in its place, for GDAL's values or its fault.
// whole: the grid is read at once, its progress shown, on two threads from fewer cells.
std::unique_ptr<line_reader> mosaic_line_reader(std::unique_ptr<gdal_file> file, std::vector<mosaic_piece> pieces,
                                                const std::string &path, bool whole);

struct input_grid;
// The input grid.nomim read through GDAL, its coordinate system as WKT in grid.geokeys.
void open_gdal_input(input_grid &grid);

#endif
