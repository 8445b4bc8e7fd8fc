// The program's shared state: every step of the run reads and writes these.
// All start zeroed and live until the process ends.
#ifndef ORMELIX_GLOBALS_H
#define ORMELIX_GLOBALS_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The coordinate system an input grid's files declare, as they hold it (a GeoTIFF's
// GeoKey directory and its double and ASCII parameters, the text of NAME.prj beside an
// ASCII grid), and as PROJ reads it.
struct geo_keys {
    bool geotiff = false;              // the grid was read from a GeoTIFF
    std::vector<uint16_t> directory;   // empty: the file declares no coordinate system
    std::vector<double> doubles;
    std::string ascii;
    bool has_prj = false;              // an ASCII grid with NAME.prj beside it
    std::string prj;                   // its text
    bool prj_in_grid = false;          // that text is the grid file's own (a form GDAL reads)
    std::string crs;                   // the system PROJ read (WKT2), empty when none
};

extern int32_t nb_lig, nb_col;          // frame of the first grid, and of every grid
extern int32_t nb_lig2, nb_col2;        // counts declared for the second grid
extern int32_t format_dem1, format_dem2, format_out;       // 0 ASCII grid, 1 raster pair, 2 GeoTIFF
extern int32_t itype_dem1, itype_dem2, itype_dem_out;      // 0 16-bit unsigned, 1 32-bit signed
extern int32_t pix_size2;               // second grid's pixel size, whole metres
extern int32_t pix_size3;               // answer to the output pixel-size question
extern double dpix_size1, dpix_size2;   // raster pixel sizes in metres
extern double dpix_size;                // cell width, dx, of the last ASCII grid or GeoTIFF read
extern double dpix_size_y;              // its height, dy (dpix_size, or nearly, for square cells)
extern int32_t type_treat;              // 0 absolute, 1 negative, 2 positive, 3 signed values
extern int32_t basis;                   // elimination of low values: 0 yes, 1 no
extern double hypso;                    // elimination limit in metres
// The test at a confidence level (basis 2): each grid's error, a standard deviation in
// metres, uniform (sigma_dem) or cell by cell (dtab_sigma, null when uniform, NaN where
// the error grid has no data, named nomsigma, of mean sigma_dem), and the level in %.
extern double sigma_dem1, sigma_dem2;
extern double **dtab_sigma1, **dtab_sigma2;
extern std::string nomsigma1, nomsigma2;
extern double confidence_pct;
extern int32_t dyn_scale_dem1, dyn_scale_dem2;  // unit of raster integers: 0 m .. 3 mm
extern double coef_out;                 // metres to raster output unit
extern double X_min, Y_min;             // lower-left corner of the frame
extern double nodata;                   // no-data value of the last ASCII header read
extern int32_t descr_dem1_OK, descr_dem2_OK;          // descriptor existed and was read
extern int32_t Coord_UTM_dem1_OK, Coord_UTM_dem2_OK;  // grid's file gave map coordinates
extern int32_t geographic_dem1, geographic_dem2;      // its system is geographic (degrees)
extern geo_keys geokeys_dem1, geokeys_dem2;           // each input's coordinate system
extern double **dtab_dem1, **dtab_dem2, **dtab_out;   // altitudes and result, metres
extern std::string nomim1, nomdescr1, nomim2, nomdescr2;  // paths as the user sees them
extern std::string nomim3;              // the output's sample file or grid file, the same way
extern std::string nomstem3;            // the output's path before its form's suffix or extension
extern FILE *f1, *f1d, *f2, *f2d, *f3, *f3d;

#endif
