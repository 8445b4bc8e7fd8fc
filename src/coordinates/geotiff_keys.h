// A GeoTIFF's coordinate system in its GeoKeys, to PROJ and back: an EPSG code where the
// file gives one, else the datum, ellipsoid and projection parameters GeoTIFF spells out
// (transverse Mercator, Mercator, Lambert conformal conic 1SP and 2SP, Lambert azimuthal
// equal-area, Albers, polar and oblique stereographic), or the WKT GDAL keeps in a
// citation ("ESRI PE String = ...") for what GeoTIFF cannot spell.
#ifndef ORMELIX_GEOTIFF_KEYS_H
#define ORMELIX_GEOTIFF_KEYS_H

#include <string>

#include "globals/globals.h"

// The system of the keys as WKT2, as crs_from_text gives it; empty with *problem when
// PROJ cannot make one of them, and empty with no problem when they declare none.
std::string crs_from_geokeys(const geo_keys &keys, std::string *problem);

// The GeoKeys of a GeoTIFF in the system, as GDAL writes them: model and raster type
// (PixelIsArea), its EPSG code where PROJ identifies one, else its parameters and its WKT
// in the projection's citation. None for "" or a system GeoTIFF has no model type for.
geo_keys crs_geokeys(const std::string &crs);

#endif
