// GDAL's C functions as the GDAL form's reader calls them. Where the program is built to
// load GDAL only when a file of that form is opened (ORMELIX_GDAL_LIBRARY, the name of
// its shared library), each name below stands for the function found in the library
// loaded then: a run on the program's own forms neither loads GDAL nor the hundred
// libraries GDAL brings, some 20 MiB of memory and a few hundredths of a second at every
// start. Elsewhere (the Windows build, linked with GDAL) they are GDAL's functions
// themselves. Included after everything else of GDAL, and only by the reader.
#ifndef ORMELIX_GDAL_LIBRARY_H
#define ORMELIX_GDAL_LIBRARY_H

#include <string>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_minixml.h>
#include <cpl_string.h>
#include <gdal.h>
#ifdef _WIN32
#include <ogr_srs_api.h>
#endif

// True when GDAL's functions can be called: loaded now or before, or linked with the
// program; otherwise false with the loader's reason in *why.
bool gdal_library_ready(std::string *why);

#ifdef ORMELIX_GDAL_LIBRARY

#define ORMELIX_GDAL_FUNCTIONS(X)                                                                                      \
    X(CPLDestroyXMLNode)                                                                                               \
    X(CPLErrorReset)                                                                                                   \
    X(CPLGetConfigOption)                                                                                              \
    X(CPLGetLastErrorMsg)                                                                                              \
    X(CPLParseXMLFile)                                                                                                 \
    X(CPLPopErrorHandler)                                                                                              \
    X(CPLPushErrorHandler)                                                                                             \
    X(CPLQuietErrorHandler)                                                                                            \
    X(CPLSetConfigOption)                                                                                              \
    X(CPLStrtod)                                                                                                       \
    X(CSLFetchNameValue)                                                                                               \
    X(GDALAllRegister)                                                                                                 \
    X(GDALClose)                                                                                                       \
    X(GDALCopyWords)                                                                                                   \
    X(GDALDataTypeIsComplex)                                                                                           \
    X(GDALGetBlockSize)                                                                                                \
    X(GDALGetDataTypeName)                                                                                             \
    X(GDALGetDataTypeSizeBytes)                                                                                        \
    X(GDALGetDatasetDriver)                                                                                            \
    X(GDALGetDriverShortName)                                                                                          \
    X(GDALGetGCPCount)                                                                                                 \
    X(GDALGetGeoTransform)                                                                                             \
    X(GDALGetMetadata)                                                                                                 \
    X(GDALGetProjectionRef)                                                                                            \
    X(GDALGetRasterBand)                                                                                               \
    X(GDALGetRasterCount)                                                                                              \
    X(GDALGetRasterDataType)                                                                                           \
    X(GDALGetRasterNoDataValue)                                                                                        \
    X(GDALGetRasterOffset)                                                                                             \
    X(GDALGetRasterScale)                                                                                              \
    X(GDALGetRasterXSize)                                                                                              \
    X(GDALGetRasterYSize)                                                                                              \
    X(GDALOpenEx)                                                                                                      \
    X(GDALRasterIO)                                                                                                    \
    X(GDALReadBlock)                                                                                                   \
    X(GDALSetCacheMax64)

struct gdal_functions {
#define ORMELIX_GDAL_POINTER(name) decltype(&::name) name = nullptr;
    ORMELIX_GDAL_FUNCTIONS(ORMELIX_GDAL_POINTER)
#undef ORMELIX_GDAL_POINTER
    // Overloaded in C++ by GDAL's header: its C function, named.
    CPLXMLNode *(*CPLGetXMLNode)(CPLXMLNode *, const char *) = nullptr;
};

// The functions found in the library loaded; every one is there once gdal_library_ready
// has said so.
const gdal_functions &gdal_library();

// The loader itself names the functions as GDAL does.
#ifndef ORMELIX_GDAL_LOADER
#define CPLDestroyXMLNode (gdal_library().CPLDestroyXMLNode)
#define CPLErrorReset (gdal_library().CPLErrorReset)
#define CPLGetConfigOption (gdal_library().CPLGetConfigOption)
#define CPLGetLastErrorMsg (gdal_library().CPLGetLastErrorMsg)
#define CPLGetXMLNode (gdal_library().CPLGetXMLNode)
#define CPLParseXMLFile (gdal_library().CPLParseXMLFile)
#define CPLPopErrorHandler (gdal_library().CPLPopErrorHandler)
#define CPLPushErrorHandler (gdal_library().CPLPushErrorHandler)
#define CPLQuietErrorHandler (gdal_library().CPLQuietErrorHandler)
#define CPLSetConfigOption (gdal_library().CPLSetConfigOption)
#define CPLStrtod (gdal_library().CPLStrtod)
#define CSLFetchNameValue (gdal_library().CSLFetchNameValue)
#define GDALAllRegister (gdal_library().GDALAllRegister)
#define GDALClose (gdal_library().GDALClose)
#define GDALCopyWords (gdal_library().GDALCopyWords)
#define GDALDataTypeIsComplex (gdal_library().GDALDataTypeIsComplex)
#define GDALGetBlockSize (gdal_library().GDALGetBlockSize)
#define GDALGetDataTypeName (gdal_library().GDALGetDataTypeName)
#define GDALGetDataTypeSizeBytes (gdal_library().GDALGetDataTypeSizeBytes)
#define GDALGetDatasetDriver (gdal_library().GDALGetDatasetDriver)
#define GDALGetDriverShortName (gdal_library().GDALGetDriverShortName)
#define GDALGetGCPCount (gdal_library().GDALGetGCPCount)
#define GDALGetGeoTransform (gdal_library().GDALGetGeoTransform)
#define GDALGetMetadata (gdal_library().GDALGetMetadata)
#define GDALGetProjectionRef (gdal_library().GDALGetProjectionRef)
#define GDALGetRasterBand (gdal_library().GDALGetRasterBand)
#define GDALGetRasterCount (gdal_library().GDALGetRasterCount)
#define GDALGetRasterDataType (gdal_library().GDALGetRasterDataType)
#define GDALGetRasterNoDataValue (gdal_library().GDALGetRasterNoDataValue)
#define GDALGetRasterOffset (gdal_library().GDALGetRasterOffset)
#define GDALGetRasterScale (gdal_library().GDALGetRasterScale)
#define GDALGetRasterXSize (gdal_library().GDALGetRasterXSize)
#define GDALGetRasterYSize (gdal_library().GDALGetRasterYSize)
#define GDALOpenEx (gdal_library().GDALOpenEx)
#define GDALRasterIO (gdal_library().GDALRasterIO)
#define GDALReadBlock (gdal_library().GDALReadBlock)
#define GDALSetCacheMax64 (gdal_library().GDALSetCacheMax64)
#endif

#endif
#endif
