#include "gridfiles/raster_pair.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "text/number_text.h"

#if defined(__BYTE_ORDER__) && defined(__ORDER_BIG_ENDIAN__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
#define ORMELIX_BIG_ENDIAN 1
#else
#define ORMELIX_BIG_ENDIAN 0
#endif

namespace {

// One "%d" field: white space, an optional sign, digits, read up to the first
// character that cannot continue it. A number beyond 32 bits is refused rather than
// wrapped, so a damaged descriptor reads as fields missing.
bool read_descriptor_integer(FILE *fp, int32_t *value)
{
    int c = getc(fp);
    while (is_white(c)) c = getc(fp);
    std::string field;
    if (c == '+' || c == '-') {
        field.push_back(static_cast<char>(c));
        c = getc(fp);
    }
    while (c >= '0' && c <= '9') {
        field.push_back(static_cast<char>(c));
        c = getc(fp);
    }
    if (c != EOF) ungetc(c, fp);
    return parse_whole_number(field, value);
}

#if ORMELIX_BIG_ENDIAN
// Samples are little-endian on disk whatever the host.
template <typename Sample>
void swap_bytes(Sample *line, size_t count)
{
    for (size_t j = 0; j < count; ++j) {
        unsigned char *bytes = reinterpret_cast<unsigned char *>(&line[j]);
        std::reverse(bytes, bytes + sizeof(Sample));
    }
}
#endif

template <typename Sample>
bool read_samples(FILE *fp, Sample *line, size_t count)
{
    const bool complete = fread(line, sizeof *line, count, fp) == count;
#if ORMELIX_BIG_ENDIAN
    swap_bytes(line, count);
#endif
    return complete;
}

template <typename Sample>
bool write_samples(FILE *fp, const Sample *line, size_t count)
{
#if ORMELIX_BIG_ENDIAN
    std::vector<Sample> swapped(line, line + count);
    swap_bytes(swapped.data(), count);
    line = swapped.data();
#endif
    return fwrite(line, sizeof *line, count, fp) == count;
}

// The same walk for samples and for metres: the smallest and largest so far, widened.
template <typename T, typename Range>
void extend_range(Range *range, const T *line, size_t count)
{
    T lowest = range->min, highest = range->max;
    for (size_t j = 0; j < count; ++j) {
        lowest = line[j] < lowest ? line[j] : lowest;
        highest = line[j] > highest ? line[j] : highest;
    }
    range->min = lowest;
    range->max = highest;
}

}  // namespace

const char *raster_sample_suffix(int32_t itype) { return itype == 1 ? "_m4.raw" : "_m2.raw"; }

const char *raster_descriptor_suffix(int32_t itype) { return itype == 1 ? "_m4.txt" : "_m2.txt"; }

int32_t raster_bytes_per_sample(int32_t itype) { return itype == 1 ? 4 : 2; }

descriptor_fields read_descriptor(FILE *fp)
{
    descriptor_fields fields = {{0, 0, 0, 0, 0, 0}, 0};
    while (fields.count < 6 && read_descriptor_integer(fp, &fields.value[fields.count])) ++fields.count;
    return fields;
}

bool write_descriptor_head(FILE *fp, int32_t lines, int32_t columns, int32_t bytes_per_sample)
{
    return fprintf(fp, "%d\n%d\n%d\n", lines, columns, bytes_per_sample) > 0 && !ferror(fp);
}

bool write_descriptor_tail(FILE *fp, int32_t minimum, int32_t maximum, int32_t pixel_size)
{
    return fprintf(fp, "%d\n%d\n%d\n", minimum, maximum, pixel_size) > 0 && !ferror(fp);
}

std::string processing_notes(const std::string &nomim1, const std::string &nomim2,
                             const char *kind, int32_t basis, double hypso)
{
    std::string notes = "\n\tProcessing applied to : \n\t\t    " + nomim1 + " ";
    notes += "\n\t\tand " + nomim2 + " ";
    if (*kind != '\0') notes += std::string("\n\tby using ") + kind;
    if (basis == 0)
        notes += text_printf("\n\tand eliminating pixels whose altitude is lower than %4.2lf m ", hypso);
    return notes;
}

unsigned long long sample_file_bytes(int32_t lines, int32_t columns, int32_t itype)
{
    if (lines <= 0 || columns <= 0) return 0;
    return static_cast<unsigned long long>(lines) * static_cast<unsigned long long>(columns) *
           static_cast<unsigned long long>(raster_bytes_per_sample(itype));
}


bool read_sample_line(FILE *fp, uint16_t *line, size_t count) { return read_samples(fp, line, count); }
bool read_sample_line(FILE *fp, int32_t *line, size_t count) { return read_samples(fp, line, count); }
bool write_sample_line(FILE *fp, const uint16_t *line, size_t count) { return write_samples(fp, line, count); }
bool write_sample_line(FILE *fp, const int32_t *line, size_t count) { return write_samples(fp, line, count); }

void widen_samples(const uint16_t *in, int32_t *out, size_t count)
{
    for (size_t j = 0; j < count; ++j) out[j] = in[j];
}


void extend_integer_range(integer_range *range, const int32_t *line, size_t count)
{
    extend_range(range, line, count);
}

void extend_metre_range(metre_range *range, const double *line, size_t count)
{
    extend_range(range, line, count);
}

double metres_per_unit(int32_t unit)
{
    switch (unit) {
    case 1: return 0.1;
    case 2: return 0.01;
    case 3: return 0.001;
    default: return 1.0;
    }
}

double unit_coefficient(int32_t unit)
{
    switch (unit) {
    case 1: return 10.0;
    case 2: return 100.0;
    case 3: return 1000.0;
    default: return 1.0;
    }
}

void convert_line_to_metres(const int32_t *in, double *out, size_t count, int32_t unit)
{
    // Metres are the integer itself; times 1.0 is exact, so one loop serves all units.
    const double factor = metres_per_unit(unit);
    for (size_t j = 0; j < count; ++j) out[j] = static_cast<double>(in[j]) * factor;
}

int32_t truncate_to_int32(double value)
{
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (value <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

int64_t largest_sample(int32_t itype) { return itype == 1 ? int64_t{2147483647} : int64_t{65535}; }

int64_t smallest_sample(int32_t itype) { return itype == 1 ? int64_t{-2147483648LL} : int64_t{0}; }

bool largest_result_fits(double d_max, double coef, int32_t itype)
{
    const double scaled = d_max * coef;
    if (std::isnan(scaled)) return true;
    // Truncation keeps every value below the next whole number after the largest sample.
    return scaled < static_cast<double>(largest_sample(itype)) + 1.0;
}

bool smallest_result_fits(double d_min, double coef, int32_t itype)
{
    const double scaled = d_min * coef;
    if (std::isnan(scaled)) return true;
    return scaled > static_cast<double>(smallest_sample(itype)) - 1.0;
}

size_t scale_line(const double *in, double coef, uint16_t *out, size_t count)
{
    size_t saturated = 0;
    for (size_t j = 0; j < count; ++j) {
        const double scaled = in[j] * coef;
        if (scaled >= 0.0 && scaled < 65536.0) {
            out[j] = static_cast<uint16_t>(scaled);
        } else if (scaled >= 65536.0) {
            out[j] = 65535;
            ++saturated;
        } else if (scaled > -1.0) {
            out[j] = 0;  // a hair below zero truncates to 0
        } else {
            out[j] = 0;  // nan is no data; a negative result has no 16-bit sample
            if (!std::isnan(scaled)) ++saturated;
        }
    }
    return saturated;
}

size_t scale_line(const double *in, double coef, int32_t *out, size_t count)
{
    size_t saturated = 0;
    for (size_t j = 0; j < count; ++j) {
        const double scaled = in[j] * coef;
        if (scaled > -2147483649.0 && scaled < 2147483648.0) {
            out[j] = static_cast<int32_t>(scaled);
        } else if (std::isnan(scaled)) {
            out[j] = 0;
        } else {
            out[j] = scaled > 0.0 ? std::numeric_limits<int32_t>::max() : std::numeric_limits<int32_t>::min();
            ++saturated;
        }
    }
    return saturated;
}
