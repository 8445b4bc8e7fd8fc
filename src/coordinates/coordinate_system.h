// The coordinate systems of the grids, understood through PROJ: read from a GeoTIFF's
// GeoKeys or an ASCII grid's NAME.prj, compared, named, and written with the result.
// A system travels between the steps of a run as its WKT2 text (geo_keys::crs).
#ifndef ORMELIX_COORDINATE_SYSTEM_H
#define ORMELIX_COORDINATE_SYSTEM_H

#include <memory>
#include <string>

#include <proj.h>

#include "globals/globals.h"

// The run's PROJ context. Its messages are kept for the program's own, never printed;
// on Windows it looks for proj.db in the folder of the program.
PJ_CONTEXT *coordinates_context();
// The last message PROJ gave through it, "" when none.
std::string last_proj_message();

struct pj_destroyer {
    void operator()(PJ *pj) const { proj_destroy(pj); }
};
using pj_object = std::unique_ptr<PJ, pj_destroyer>;

// The system of a WKT2 text made by crs_from_text or crs_from_geokeys; null for "".
pj_object crs_object(const std::string &crs);
// A system's WKT2 text, as the program keeps it.
std::string crs_text(const PJ *crs);

// A coordinate system from WKT (WKT1 as GDAL writes it, ESRI's, WKT2), "EPSG:n" or a
// PROJ string. Its horizontal part: a datum shift bound to it and the heights of a
// compound system are left aside. Empty with *problem when PROJ cannot read it.
std::string crs_from_text(const std::string &text, std::string *problem);

// True when PROJ finds the two systems equivalent, the axis order of a geographic system
// left aside (GIS tools write longitude first whatever the registry says).
bool same_coordinate_system(const std::string &a, const std::string &b);
// True when the system's coordinates are geographic degrees (or another angle).
bool crs_is_geographic(const std::string &crs);
// Its EPSG code: the one it carries, or the one PROJ identifies it as with full
// confidence; 0 when none.
int crs_epsg_code(const std::string &crs);
// "WGS 84 / UTM zone 32N (EPSG 32632)", "unknown (no EPSG code)".
std::string crs_display_name(const std::string &crs);
// The text of NAME.prj for an ASCII grid in it: ESRI's WKT on one line, as GDAL writes it.
std::string crs_prj_text(const std::string &crs);

struct input_grid;
// Reads the system the grid's files declare into grid.geokeys.crs, and whether it is
// in degrees; prints a warning naming the file when PROJ cannot read it.
void read_coordinate_system(input_grid &grid);

// The result's system: the first DEM's, the second's when only it declares one.
const geo_keys &result_coordinate_system();

#endif
