// Row-pointer grids and vectors of the program's numeric element types.
//
// A grid is a table of line pointers, each line its own zero-filled block, so a
// raster line moves in one block transfer. Allocators take the column count first
// and the line count second; they return null when storage cannot be had (a count
// of 0 or less included), having released whatever they obtained on the way.
#ifndef ORMELIX_NRUTIL_H
#define ORMELIX_NRUTIL_H

#include <cstdint>

float **fmatrice(int32_t NbCol, int32_t NbLig);
void frfmatrice(float **Mat, int32_t NbLig);
unsigned char **ucmatrice(int32_t NbCol, int32_t NbLig);
void frucmatrice(unsigned char **Mat, int32_t NbLig);
uint16_t **usmatrice(int32_t NbCol, int32_t NbLig);
void frusmatrice(uint16_t **Mat, int32_t NbLig);
int16_t **smatrice(int32_t NbCol, int32_t NbLig);
void frsmatrice(int16_t **Mat, int32_t NbLig);
int32_t **imatrice(int32_t NbCol, int32_t NbLig);
void frimatrice(int32_t **Mat, int32_t NbLig);
double **dmatrice(int32_t NbCol, int32_t NbLig);
void frdmatrice(double **Mat, int32_t NbLig);
// A grid of NbLig lines that is a part of Mat: its lines are Mat's lines from FirstLig
// on, each from column FirstCol on. No cell is copied; Mat must outlive it, and it is
// released with frdcutmatrice, which frees its line table only.
double **dcutmatrice(double **Mat, int32_t FirstCol, int32_t FirstLig, int32_t NbLig);
void frdcutmatrice(double **Cut);
long double **ldmatrice(int32_t NbCol, int32_t NbLig);
void frldmatrice(long double **Mat, int32_t NbLig);

float *fvecteur(int32_t NbCol);
void frfvecteur(float *Mat);
unsigned char *ucvecteur(int32_t NbCol);
void frucvecteur(unsigned char *Mat);
uint16_t *usvecteur(int32_t NbCol);
void frusvecteur(uint16_t *Mat);
int16_t *svecteur(int32_t NbCol);
void frsvecteur(int16_t *Mat);
int32_t *ivecteur(int32_t NbCol);
void frivecteur(int32_t *Mat);
double *dvecteur(int32_t NbCol);
void frdvecteur(double *Mat);

#endif
