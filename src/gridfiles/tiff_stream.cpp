#include "gridfiles/tiff_stream.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <mutex>

#include "platform/platform.h"
#include "text/number_text.h"

namespace {

// No single allocation of libtiff beyond this, whatever a damaged directory claims.
const tmsize_t LARGEST_LIBTIFF_BLOCK = tmsize_t(1) << 30;

const TIFFFieldInfo GEOTIFF_FIELDS[] = {
    {TAG_MODEL_PIXEL_SCALE, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1,
     const_cast<char *>("ModelPixelScaleTag")},
    {TAG_MODEL_TIEPOINT, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1,
     const_cast<char *>("ModelTiepointTag")},
    {TAG_MODEL_TRANSFORMATION, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1,
     const_cast<char *>("ModelTransformationTag")},
    {TAG_GEO_KEY_DIRECTORY, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_SHORT, FIELD_CUSTOM, 1, 1,
     const_cast<char *>("GeoKeyDirectoryTag")},
    {TAG_GEO_DOUBLE_PARAMS, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1,
     const_cast<char *>("GeoDoubleParamsTag")},
    // Texts are of any length, without a count of their own.
    {TAG_GEO_ASCII_PARAMS, TIFF_VARIABLE, TIFF_VARIABLE, TIFF_ASCII, FIELD_CUSTOM, 1, 0,
     const_cast<char *>("GeoASCIIParamsTag")},
    {TAG_GDAL_METADATA, TIFF_VARIABLE, TIFF_VARIABLE, TIFF_ASCII, FIELD_CUSTOM, 1, 0,
     const_cast<char *>("GDALMetadata")},
    {TAG_GDAL_NODATA, TIFF_VARIABLE, TIFF_VARIABLE, TIFF_ASCII, FIELD_CUSTOM, 1, 0,
     const_cast<char *>("GDALNoDataValue")},
};

TIFFExtendProc earlier_extender = nullptr;

void declare_geotiff_tags(TIFF *tif)
{
    TIFFMergeFieldInfo(tif, GEOTIFF_FIELDS, sizeof GEOTIFF_FIELDS / sizeof GEOTIFF_FIELDS[0]);
    if (earlier_extender != nullptr)
        earlier_extender(tif);
}

// Once for the whole program, before the first handle: libtiff's own handlers would
// print on the console; every handle has its own instead.
void prepare_libtiff()
{
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
        earlier_extender = TIFFSetTagExtender(declare_geotiff_tags);
    });
}

int keep_error(TIFF *, void *user_data, const char *module, const char *format, va_list args)
{
    tiff_stream *stream = static_cast<tiff_stream *>(user_data);
    // The first error says what went wrong; those after it say what could not be done.
    if (!stream->error.empty())
        return 1;
    const std::string text = text_vprintf(format, args);
    // The module is often the file's name, which the program's message already gives.
    if (module != nullptr && *module != '\0' && stream->name != module)
        stream->error = std::string(module) + ": ";
    stream->error += text;
    return 1;
}

// Warnings (unknown tags, a strip not ended as it should) change nothing the program
// reads: a real fault comes as an error.
int drop_warning(TIFF *, void *, const char *, const char *, va_list)
{
    return 1;
}

tiff_stream *stream_of(thandle_t handle)
{
    return static_cast<tiff_stream *>(handle);
}

void note_io_failure(tiff_stream *stream)
{
    if (!stream->io_failed) {
        stream->io_failed = true;
        stream->io_error = errno != 0 ? errno : EIO;
    }
}

tmsize_t read_proc(thandle_t handle, void *data, tmsize_t size)
{
    tiff_stream *stream = stream_of(handle);
    errno = 0;
    const size_t got = std::fread(data, 1, static_cast<size_t>(size), stream->fp);
    if (got < static_cast<size_t>(size) && std::ferror(stream->fp))
        note_io_failure(stream);
    return static_cast<tmsize_t>(got);
}

tmsize_t write_proc(thandle_t handle, void *data, tmsize_t size)
{
    tiff_stream *stream = stream_of(handle);
    errno = 0;
    const size_t put = std::fwrite(data, 1, static_cast<size_t>(size), stream->fp);
    if (put < static_cast<size_t>(size))
        note_io_failure(stream);
    return static_cast<tmsize_t>(put);
}

toff_t seek_proc(thandle_t handle, toff_t offset, int whence)
{
    tiff_stream *stream = stream_of(handle);
    errno = 0;
    // A seek writes out what the stream holds: on some C libraries a failure there
    // shows only in the stream's error flag.
    if (!seek_open_file(stream->fp, static_cast<int64_t>(offset), whence) || std::ferror(stream->fp)) {
        note_io_failure(stream);
        return static_cast<toff_t>(-1);
    }
    const int64_t at = tell_open_file(stream->fp);
    return at < 0 ? static_cast<toff_t>(-1) : static_cast<toff_t>(at);
}

int close_proc(thandle_t)
{
    return 0;
}

toff_t size_proc(thandle_t handle)
{
    tiff_stream *stream = stream_of(handle);
    const int64_t at = tell_open_file(stream->fp);
    if (at < 0 || !seek_open_file(stream->fp, 0, SEEK_END))
        return 0;
    const int64_t end = tell_open_file(stream->fp);
    seek_open_file(stream->fp, at, SEEK_SET);
    return end < 0 ? 0 : static_cast<toff_t>(end);
}

int map_proc(thandle_t, void **, toff_t *)
{
    return 0;
}

void unmap_proc(thandle_t, void *, toff_t) {}

} // namespace

bool tiff_open(tiff_stream *stream, FILE *fp, const std::string &name, const char *mode)
{
    prepare_libtiff();
    stream->fp = fp;
    stream->name = name;
    stream->error.clear();
    stream->io_failed = false;
    stream->io_error = 0;
    TIFFOpenOptions *options = TIFFOpenOptionsAlloc();
    if (options == nullptr) {
        stream->error = "no memory for the TIFF library";
        return false;
    }
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, LARGEST_LIBTIFF_BLOCK);
    TIFFOpenOptionsSetErrorHandlerExtR(options, keep_error, stream);
    TIFFOpenOptionsSetWarningHandlerExtR(options, drop_warning, stream);
    // "m": the file is read through fp, never mapped.
    const std::string open_mode = std::string(mode) + "m";
    stream->tif = TIFFClientOpenExt(name.c_str(), open_mode.c_str(), stream, read_proc, write_proc,
                                    seek_proc, close_proc, size_proc, map_proc, unmap_proc, options);
    TIFFOpenOptionsFree(options);
    if (stream->tif == nullptr && stream->error.empty())
        stream->error = "not a TIFF file";
    return stream->tif != nullptr;
}

void tiff_close(tiff_stream *stream)
{
    if (stream->tif != nullptr)
        TIFFClose(stream->tif);
    stream->tif = nullptr;
}

std::string tiff_failure_reason(const tiff_stream &stream)
{
    if (stream.io_failed)
        return std::strerror(stream.io_error);
    return stream.error.empty() ? "the TIFF library gave no reason" : stream.error;
}

std::string tiff_library_name()
{
    // "LIBTIFF, Version 4.5.0\nCopyright ..."
    const std::string full = TIFFGetVersion();
    const size_t at = full.find("Version ");
    if (at == std::string::npos)
        return "libtiff";
    const size_t from = at + 8;
    return "libtiff " + full.substr(from, full.find_first_of("\r\n", from) - from);
}
