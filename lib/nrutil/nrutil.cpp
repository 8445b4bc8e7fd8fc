#include "nrutil.h"

#include <cstddef>
#include <cstdlib>

namespace {

// calloc itself refuses a count times size that overflows size_t.
template <typename T>
T *zeroed_block(int32_t count)
{
    if (count <= 0)
        return nullptr;
    return static_cast<T *>(std::calloc(static_cast<size_t>(count), sizeof(T)));
}

template <typename T>
void release_grid(T **Mat, int32_t NbLig)
{
    if (Mat == nullptr)
        return;
    for (int32_t i = 0; i < NbLig; i++)
        std::free(Mat[i]);
    std::free(Mat);
}

template <typename T>
T **allocate_grid(int32_t NbCol, int32_t NbLig)
{
    T **Mat = zeroed_block<T *>(NbLig);
    if (Mat == nullptr)
        return nullptr;
    for (int32_t i = 0; i < NbLig; i++) {
        Mat[i] = zeroed_block<T>(NbCol);
        if (Mat[i] == nullptr) {
            // Give back the lines already obtained: the caller only ever sees null.
            release_grid(Mat, i);
            return nullptr;
        }
    }
    return Mat;
}

} // namespace

float **fmatrice(int32_t NbCol, int32_t NbLig) { return allocate_grid<float>(NbCol, NbLig); }
void frfmatrice(float **Mat, int32_t NbLig) { release_grid(Mat, NbLig); }
unsigned char **ucmatrice(int32_t NbCol, int32_t NbLig) { return allocate_grid<unsigned char>(NbCol, NbLig); }
void frucmatrice(unsigned char **Mat, int32_t NbLig) { release_grid(Mat, NbLig); }
uint16_t **usmatrice(int32_t NbCol, int32_t NbLig) { return allocate_grid<uint16_t>(NbCol, NbLig); }
void frusmatrice(uint16_t **Mat, int32_t NbLig) { release_grid(Mat, NbLig); }
int16_t **smatrice(int32_t NbCol, int32_t NbLig) { return allocate_grid<int16_t>(NbCol, NbLig); }
void frsmatrice(int16_t **Mat, int32_t NbLig) { release_grid(Mat, NbLig); }
int32_t **imatrice(int32_t NbCol, int32_t NbLig) { return allocate_grid<int32_t>(NbCol, NbLig); }
void frimatrice(int32_t **Mat, int32_t NbLig) { release_grid(Mat, NbLig); }
double **dmatrice(int32_t NbCol, int32_t NbLig) { return allocate_grid<double>(NbCol, NbLig); }
void frdmatrice(double **Mat, int32_t NbLig) { release_grid(Mat, NbLig); }
double **dcutmatrice(double **Mat, int32_t FirstCol, int32_t FirstLig, int32_t NbLig)
{
    double **Cut = zeroed_block<double *>(NbLig);
    if (Cut == nullptr || Mat == nullptr || FirstCol < 0 || FirstLig < 0) {
        std::free(Cut);
        return nullptr;
    }
    for (int32_t i = 0; i < NbLig; i++)
        Cut[i] = Mat[FirstLig + i] + FirstCol;
    return Cut;
}
void frdcutmatrice(double **Cut) { std::free(Cut); }
// The extended real keeps the platform's width (16 bytes on x86-64, of which 10 are used).
long double **ldmatrice(int32_t NbCol, int32_t NbLig) { return allocate_grid<long double>(NbCol, NbLig); }
void frldmatrice(long double **Mat, int32_t NbLig) { release_grid(Mat, NbLig); }

float *fvecteur(int32_t NbCol) { return zeroed_block<float>(NbCol); }
void frfvecteur(float *Mat) { std::free(Mat); }
unsigned char *ucvecteur(int32_t NbCol) { return zeroed_block<unsigned char>(NbCol); }
void frucvecteur(unsigned char *Mat) { std::free(Mat); }
uint16_t *usvecteur(int32_t NbCol) { return zeroed_block<uint16_t>(NbCol); }
void frusvecteur(uint16_t *Mat) { std::free(Mat); }
int16_t *svecteur(int32_t NbCol) { return zeroed_block<int16_t>(NbCol); }
void frsvecteur(int16_t *Mat) { std::free(Mat); }
int32_t *ivecteur(int32_t NbCol) { return zeroed_block<int32_t>(NbCol); }
void frivecteur(int32_t *Mat) { std::free(Mat); }
double *dvecteur(int32_t NbCol) { return zeroed_block<double>(NbCol); }
void frdvecteur(double *Mat) { std::free(Mat); }
