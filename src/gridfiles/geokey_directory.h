// The GeoKey directory of a GeoTIFF (its three tags: the directory of shorts, the double
// and the ASCII parameters): decoded for the reader and the coordinate systems, packed
// for the writer, read from and written to a file's tags.
#ifndef ORMELIX_GEOKEY_DIRECTORY_H
#define ORMELIX_GEOKEY_DIRECTORY_H

#include <tiffio.h>

#include <cstdint>
#include <string>
#include <vector>

#include "globals/globals.h"

// GeoKeys the program reads and writes itself.
constexpr uint16_t GEOKEY_MODEL_TYPE = 1024;   // 1 projected, 2 geographic, 3 geocentric
constexpr uint16_t GEOKEY_RASTER_TYPE = 1025;  // 1 PixelIsArea, 2 PixelIsPoint
constexpr uint16_t GEOKEY_GEOGRAPHIC_TYPE = 2048;
constexpr uint16_t GEOKEY_PROJECTED_TYPE = 3072;
constexpr uint16_t GEOKEY_VERTICAL_TYPE = 4096;

// One GeoKey and its value, whichever tag holds it.
struct geokey {
    uint16_t id = 0;
    uint16_t location = 0;        // 0 a short in the directory, else the tag of the value
    std::vector<double> numbers;  // the short, or the doubles
    std::string text;             // from GeoAsciiParams, its '|' end left out
};
// The keys of a directory in its order; entries pointing outside the parameters, and a
// directory shorter than its header says, give what can be had.
std::vector<geokey> read_geokeys(const geo_keys &keys);
// The short value of a key held in the directory itself.
bool geokey_short(const geo_keys &keys, uint16_t id, uint16_t *value);
// Keys in any order packed into the three tags, sorted by key as GeoTIFF asks: shorts in
// the directory, one double or one text each.
geo_keys pack_geokeys(std::vector<geokey> keys);
// The GeoKeys of an output: the input's, with PixelIsArea; none when the input declares no
// coordinate system (PixelIsArea is then GeoTIFF's default).

geo_keys output_geo_keys(const geo_keys &input);

// The keys of a file's current directory (none when it has no GeoKey directory), and
// written into the directory being made; false when libtiff refuses one.
geo_keys read_geo_keys(TIFF *tif);
bool write_geo_keys(TIFF *tif, const geo_keys &keys);

#endif
