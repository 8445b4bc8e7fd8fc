// The raster grid pair: a file of raw little-endian samples and its text descriptor.
#ifndef ORMELIX_RASTER_PAIR_H
#define ORMELIX_RASTER_PAIR_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// The questions a raster pair asks, input or output.
constexpr const char RASTER_SAMPLE_TYPE_MENU[] =
    "\n\ttype of DEM raster :\n\t\t0 ====> 16 bits\n\t\t1 ====> 32 bits\n\t\t";
constexpr const char RASTER_PIXEL_SIZE_QUESTION[] = "\n\tPixel Size (in meters) ? ";

// Sample type 0: 16-bit unsigned ("_m2"); 1: 32-bit signed ("_m4").
const char *raster_sample_suffix(int32_t itype);      // "_m2.raw" or "_m4.raw"
const char *raster_descriptor_suffix(int32_t itype);  // "_m2.txt" or "_m4.txt"
int32_t raster_bytes_per_sample(int32_t itype);       // 2 or 4

// The six integers that open a descriptor: lines, columns, bytes per sample,
// minimum, maximum, pixel size. Fields the file does not supply are 0.
struct descriptor_fields {
    int32_t value[6];
    int count;  // how many were actually read
};
// Reads the six integers as "%d%d%d%d%d%d" would: white space of any kind between
// them, reading stops at the first word that is not a number that fits 32 bits.
descriptor_fields read_descriptor(FILE *fp);

// The descriptor is written in two stages: lines 1 to 3 when the pair is created,
// lines 4 to 6 once the samples are known. False when the write failed.
bool write_descriptor_head(FILE *fp, int32_t lines, int32_t columns, int32_t bytes_per_sample);
bool write_descriptor_tail(FILE *fp, int32_t minimum, int32_t maximum, int32_t pixel_size);

// The notes that follow line 6 of an output descriptor: both input paths, the kind of
// difference by its name ("by using signed values"; none when empty) and, when basis is 0,
// the limit. No final line break.
std::string processing_notes(const std::string &nomim1, const std::string &nomim2,
                             const char *kind, int32_t basis, double hypso);

// Bytes a complete sample file holds: lines x columns x bytes per sample.
unsigned long long sample_file_bytes(int32_t lines, int32_t columns, int32_t itype);

// One grid line of samples in one block transfer, little-endian on disk whatever the
// host. False when fewer than count samples moved.
bool read_sample_line(FILE *fp, uint16_t *line, size_t count);
bool read_sample_line(FILE *fp, int32_t *line, size_t count);
bool write_sample_line(FILE *fp, const uint16_t *line, size_t count);
bool write_sample_line(FILE *fp, const int32_t *line, size_t count);

// 16-bit samples keep 0..65535 in the 32-bit grid.
void widen_samples(const uint16_t *in, int32_t *out, size_t count);

// The true smallest and largest values, widened line by line from a first value.
struct integer_range {
    int32_t min, max;
};
void extend_integer_range(integer_range *range, const int32_t *line, size_t count);

struct metre_range {
    double min, max;
};
void extend_metre_range(metre_range *range, const double *line, size_t count);

// Units of raster integers: 0 metres, 1 decimetres, 2 centimetres, 3 millimetres.
// Reading multiplies by 1, 0.1, 0.01 or 0.001; writing by coef_out 1, 10, 100 or 1000.
double metres_per_unit(int32_t unit);
double unit_coefficient(int32_t unit);
void convert_line_to_metres(const int32_t *in, double *out, size_t count, int32_t unit);

// A real truncated toward zero to 32 bits; beyond the range it saturates, nan gives 0.
int32_t truncate_to_int32(double value);

// The largest sample of a type: 65535 or 2147483647; the smallest: 0 or -2147483648.
int64_t largest_sample(int32_t itype);
int64_t smallest_sample(int32_t itype);
// True when the largest (smallest) result, in metres, times coef truncates to a sample
// the type holds. A result that is not a number says nothing against the unit.
bool largest_result_fits(double d_max, double coef, int32_t itype);
bool smallest_result_fits(double d_min, double coef, int32_t itype);

// Each result times coef, truncated toward zero into a sample. Not a number gives 0;
// a value beyond the samples saturates at the nearest one. Returns how many saturated.
size_t scale_line(const double *in, double coef, uint16_t *out, size_t count);
size_t scale_line(const double *in, double coef, int32_t *out, size_t count);

#endif
