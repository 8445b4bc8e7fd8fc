#include "gridfiles/raster_pair.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <limits>
#include <vector>

#if defined(__BYTE_ORDER__) && defined(__ORDER_BIG_ENDIAN__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
#define ORMELIX_BIG_ENDIAN 1
#else
#define ORMELIX_BIG_ENDIAN 0
#endif

const char *raster_sample_suffix(int32_t itype) { return itype == 1 ? "_m4.raw" : "_m2.raw"; }

const char *raster_descriptor_suffix(int32_t itype) { return itype == 1 ? "_m4.txt" : "_m2.txt"; }

int32_t raster_bytes_per_sample(int32_t itype) { return itype == 1 ? 4 : 2; }

// One "%d" field: white space, an optional sign, digits. A number beyond 32 bits is
// refused rather than wrapped, so a damaged descriptor reads as fields missing.
static bool read_descriptor_integer(FILE *fp, int32_t *value)
{
    int c = getc(fp);
    while (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') c = getc(fp);
    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        c = getc(fp);
    }
    if (c < '0' || c > '9') return false;
    const int64_t limit = negative ? int64_t{2147483648} : int64_t{2147483647};
    int64_t magnitude = 0;
    while (c >= '0' && c <= '9') {
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > limit) return false;
        c = getc(fp);
    }
    if (c != EOF) ungetc(c, fp);
    *value = static_cast<int32_t>(negative ? -magnitude : magnitude);
    return true;
}

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

static void append_formatted(std::string *text, const char *format, ...) __attribute__((format(printf, 2, 3)));

static void append_formatted(std::string *text, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (length > 0) {
        const size_t old_size = text->size();
        text->resize(old_size + static_cast<size_t>(length) + 1);
        vsnprintf(&(*text)[old_size], static_cast<size_t>(length) + 1, format, again);
        text->resize(old_size + static_cast<size_t>(length));
    }
    va_end(again);
}

std::string processing_notes(const std::string &nomim1, const std::string &nomim2,
                             int32_t type_treat, int32_t basis, double hypso)
{
    std::string notes = "\n\tProcessing applied to : \n\t\t    " + nomim1 + " ";
    notes += "\n\t\tand " + nomim2 + " ";
    if (type_treat == 0) notes += "\n\tby using absolute values";
    if (type_treat == 1) notes += "\n\tby using negative values";
    if (type_treat == 2) notes += "\n\tby using positive values";
    if (basis == 0)
        append_formatted(&notes, "\n\tand eliminating pixels whose altitude is lower than %4.2lf m ", hypso);
    return notes;
}

bool open_file_size(FILE *fp, unsigned long long *size)
{
#ifdef _WIN32
    struct _stat64 status;
    if (_fstat64(_fileno(fp), &status) != 0 || (status.st_mode & _S_IFREG) == 0) return false;
#else
    struct stat status;
    if (fstat(fileno(fp), &status) != 0 || !S_ISREG(status.st_mode)) return false;
#endif
    if (status.st_size < 0) return false;
    *size = static_cast<unsigned long long>(status.st_size);
    return true;
}

unsigned long long sample_file_bytes(int32_t lines, int32_t columns, int32_t itype)
{
    if (lines <= 0 || columns <= 0) return 0;
    return static_cast<unsigned long long>(lines) * static_cast<unsigned long long>(columns) *
           static_cast<unsigned long long>(raster_bytes_per_sample(itype));
}

namespace {

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

}  // namespace

bool read_sample_line(FILE *fp, uint16_t *line, size_t count) { return read_samples(fp, line, count); }
bool read_sample_line(FILE *fp, int32_t *line, size_t count) { return read_samples(fp, line, count); }
bool write_sample_line(FILE *fp, const uint16_t *line, size_t count) { return write_samples(fp, line, count); }
bool write_sample_line(FILE *fp, const int32_t *line, size_t count) { return write_samples(fp, line, count); }

void widen_samples(const uint16_t *in, int32_t *out, size_t count)
{
    for (size_t j = 0; j < count; ++j) out[j] = in[j];
}

namespace {

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

template <typename T, typename Range>
Range range_of(T *const *grid, int32_t lines, int32_t columns)
{
    if (lines <= 0 || columns <= 0) return {0, 0};
    Range range = {grid[0][0], grid[0][0]};
    for (int32_t i = 0; i < lines; ++i) extend_range(&range, grid[i], static_cast<size_t>(columns));
    return range;
}

}  // namespace

void extend_integer_range(integer_range *range, const int32_t *line, size_t count)
{
    extend_range(range, line, count);
}

integer_range integer_range_of(int32_t *const *grid, int32_t lines, int32_t columns)
{
    return range_of<int32_t, integer_range>(grid, lines, columns);
}

void extend_metre_range(metre_range *range, const double *line, size_t count)
{
    extend_range(range, line, count);
}

metre_range metre_range_of(double *const *grid, int32_t lines, int32_t columns)
{
    return range_of<double, metre_range>(grid, lines, columns);
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

double convert_to_metres(int32_t sample, int32_t unit)
{
    return static_cast<double>(sample) * metres_per_unit(unit);
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

bool largest_result_fits(double d_max, double coef, int32_t itype)
{
    const double scaled = d_max * coef;
    if (std::isnan(scaled)) return true;
    // Truncation keeps every value below the next whole number after the largest sample.
    return scaled < static_cast<double>(largest_sample(itype)) + 1.0;
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
