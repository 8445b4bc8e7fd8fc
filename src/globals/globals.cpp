#include "globals/globals.h"

int32_t nb_lig, nb_col;
int32_t nb_lig2, nb_col2;
int32_t format_dem1, format_dem2, format_out;
int32_t itype_dem1, itype_dem2, itype_dem_out;
int32_t pix_size2;
int32_t pix_size3;
double dpix_size1, dpix_size2;
double dpix_size;
double dpix_size_y;
int32_t type_treat;
int32_t basis;
double hypso;
int32_t dyn_scale_dem1, dyn_scale_dem2;
double coef_out;
double X_min, Y_min;
double nodata;
int32_t descr_dem1_OK, descr_dem2_OK;
int32_t Coord_UTM_dem1_OK, Coord_UTM_dem2_OK;
int32_t geographic_dem1, geographic_dem2;
geo_keys geokeys_dem1, geokeys_dem2;
double **dtab_dem1, **dtab_dem2, **dtab_out;
std::string nomim1, nomdescr1, nomim2, nomdescr2;
std::string nomim3;
std::string nomstem3;
FILE *f1, *f1d, *f2, *f2d, *f3, *f3d;
