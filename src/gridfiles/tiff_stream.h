// TIFF files read and written by libtiff through a FILE the program opened itself, so
// that every path goes through the platform layer (Windows names included), with
// libtiff's messages kept for the program's own instead of printed in the middle of the
// dialogue. A stream belongs to one thread at a time: libtiff's handles are not shared.
#ifndef ORMELIX_TIFF_STREAM_H
#define ORMELIX_TIFF_STREAM_H

#include <cstdint>
#include <cstdio>
#include <string>

#include <tiffio.h>

// The GeoTIFF tags and GDAL's two, which libtiff reads and writes once declared to it.
constexpr uint32_t TAG_MODEL_PIXEL_SCALE = 33550;
constexpr uint32_t TAG_MODEL_TIEPOINT = 33922;
constexpr uint32_t TAG_MODEL_TRANSFORMATION = 34264;
constexpr uint32_t TAG_GEO_KEY_DIRECTORY = 34735;
constexpr uint32_t TAG_GEO_DOUBLE_PARAMS = 34736;
constexpr uint32_t TAG_GEO_ASCII_PARAMS = 34737;
constexpr uint32_t TAG_GDAL_METADATA = 42112;
constexpr uint32_t TAG_GDAL_NODATA = 42113;

struct tiff_stream {
    FILE *fp = nullptr;
    TIFF *tif = nullptr;
    std::string name;      // the program path, which the messages leave out
    std::string error;     // libtiff's first error message since the stream was opened
    bool io_failed = false;  // a read, write or seek of the file itself failed...
    int io_error = 0;        // ...with this errno
};

// Opens fp through libtiff: mode "r" to read the first directory, "w" or "w8" (BigTIFF)
// to write. fp stays the caller's: it is neither closed nor moved afterwards.
// False, with stream->error set, when libtiff refuses the file.
bool tiff_open(tiff_stream *stream, FILE *fp, const std::string &name, const char *mode);
// Ends libtiff's use of the file (a file being written is not completed here).
void tiff_close(tiff_stream *stream);

// Why an operation on the stream failed: the system's reason, else libtiff's message.
std::string tiff_failure_reason(const tiff_stream &stream);

// "libtiff 4.5.0": the library in use, as messages name it.
std::string tiff_library_name();

#endif
