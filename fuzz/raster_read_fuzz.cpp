// A whole raster pair from arbitrary bytes, read by the raster reader, then
// taken through the difference and both writers. Layout of the input:
//   byte 0     bit 0 sample type, bits 1-2 unit, bit 3 samples on a real file (so the
//              size check applies) or on a stream of unknown size, bit 4 output sample
//              type (32 bits for signed values), bits 5-6 kind of difference, bit 7
//              elimination of low values;
//   then       the descriptor text, up to the first NUL byte;
//   then       the sample bytes.
// The grid read must be the samples decoded by hand; the result written must be the
// result truncated into the unit, with nothing saturated when the unit was accepted;
// the ASCII text of the result must read back as the values it shows.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "fuzz_check.h"
#include "platform/worker_thread.h"
#include "gridfiles/ascii_grid.h"
#include "text/number_text.h"
#include "gridfiles/raster_pair.h"
#include "gridfiles/raster_reader.h"
#include "nrutil.h"
#include "platform/platform.h"
#include "treatment/ascii_writer.h"
#include "treatment/difference.h"

namespace {

struct raster_case {
    int32_t itype, unit, itype_out, type_treat, basis;
    bool on_disk;
    const uint8_t *descriptor;
    size_t descriptor_size;
    const uint8_t *samples;
    size_t sample_size;
};

int32_t sample_at(const raster_case &rc, size_t k)
{
    const uint8_t *p = rc.samples + k * static_cast<size_t>(raster_bytes_per_sample(rc.itype));
    if (rc.itype == 0)
        return static_cast<int32_t>(p[0] | (p[1] << 8));
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                                (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24));
}

// A sample in metres: the integer times the unit's decimal constant.
double expected_metres(int32_t sample, int32_t unit)
{
    static const double metres_per[] = {1.0, 0.1, 0.01, 0.001};
    return static_cast<double>(sample) * metres_per[unit];
}

// The result written back through the ASCII writer and read again: every cell must be
// the number its text shows, and a cell without data must stay without data.
void check_ascii_round_trip(double **out, int32_t lines, int32_t columns, size_t block_size)
{
    char *text = nullptr;
    size_t length = 0;
    FILE *fp = fuzz::open_output(&text, &length);
    FUZZ_CHECK(fp != nullptr);
    FUZZ_CHECK(write_ascii_grid(fp, out, columns, lines, 512000.25, -12.5, 25.0, 25.0, nullptr, block_size));
    FUZZ_CHECK(fuzz::close_output(fp, &text, &length) == 0);

    FILE *in = fuzz::memory_file(reinterpret_cast<const uint8_t *>(text), length);
    text_source src;
    text_source_start(&src, in, 2 * length + 64);
    ascii_header header;
    FUZZ_CHECK(parse_ascii_header(&src, &header));
    FUZZ_CHECK(header.ncols == columns && header.nrows == lines);
    double **back = dmatrice(columns, lines);
    FUZZ_CHECK(back != nullptr);
    ascii_body_fault fault;
    FUZZ_CHECK(read_ascii_body(&src, header, back, columns, lines, nullptr, &fault));
    std::fclose(in);
    std::free(text);
    for (int32_t i = 0; i < lines; i++) {
        for (int32_t j = 0; j < columns; j++) {
            if (out[i][j] != out[i][j]) {
                FUZZ_CHECK(back[i][j] != back[i][j]);
                continue;
            }
            char shown[FIXED6_MAX_CHARS];
            const char *end = format_fixed6(shown, out[i][j]);
            double expected = 0.0;
            FUZZ_CHECK(parse_real_word(shown, end, &expected));
            // A result that prints as the no-data value reads back as no data.
            if (expected == ASCII_OUTPUT_NODATA)
                FUZZ_CHECK(back[i][j] != back[i][j]);
            else
                FUZZ_CHECK(fuzz::same_double(back[i][j], expected));
        }
    }
    frdmatrice(back, lines);
}

template <typename Sample>
void check_output(const raster_case &rc, double **out, int32_t lines, int32_t columns, double d_min,
                  double d_max, Sample **(*allocate)(int32_t, int32_t), void (*release)(Sample **, int32_t))
{
    // The unit the dialogue lets the user pick: the finest one accepted.
    const auto fits = [&](int32_t unit) {
        return largest_result_fits(d_max, unit_coefficient(unit), rc.itype_out) &&
               smallest_result_fits(d_min, unit_coefficient(unit), rc.itype_out);
    };
    const bool metres_fit = fits(0);
    int32_t unit = 3;
    while (unit > 0 && metres_fit && !fits(unit))
        unit--;
    const double coef = unit_coefficient(unit);
    const size_t count = static_cast<size_t>(columns);
    Sample **samples = allocate(columns, lines);
    FUZZ_CHECK(samples != nullptr);
    size_t saturated = 0;
    for (int32_t i = 0; i < lines; i++)
        saturated += scale_line(out[i], coef, samples[i], count);
    // An accepted unit saturates nothing.
    if (metres_fit)
        FUZZ_CHECK(saturated == 0);

    const double largest = static_cast<double>(largest_sample(rc.itype_out));
    const double smallest = static_cast<double>(smallest_sample(rc.itype_out));
    bool any = false;
    int64_t low = 0, high = 0;
    for (int32_t i = 0; i < lines; i++) {
        for (int32_t j = 0; j < columns; j++) {
            const double v = out[i][j];
            if (v != v) {
                FUZZ_CHECK(samples[i][j] == 0);
                continue;
            }
            const double scaled = std::trunc(v * coef);
            const double expected = scaled > largest ? largest : scaled < smallest ? smallest : scaled;
            FUZZ_CHECK(static_cast<double>(samples[i][j]) == expected);
            low = any ? std::min<int64_t>(low, samples[i][j]) : samples[i][j];
            high = any ? std::max<int64_t>(high, samples[i][j]) : samples[i][j];
            any = true;
        }
    }
    // The range the descriptor records is the range of the samples written.
    if (any && saturated == 0) {
        FUZZ_CHECK(truncate_to_int32(d_min * coef) == low);
        FUZZ_CHECK(truncate_to_int32(d_max * coef) == high);
    }

    // Little-endian on disk and back.
    char *bytes = nullptr;
    size_t length = 0;
    FILE *fp = fuzz::open_output(&bytes, &length);
    FUZZ_CHECK(fp != nullptr);
    for (int32_t i = 0; i < lines; i++)
        FUZZ_CHECK(write_sample_line(fp, samples[i], count));
    FUZZ_CHECK(fuzz::close_output(fp, &bytes, &length) == 0);
    FUZZ_CHECK(length == sample_file_bytes(lines, columns, rc.itype_out));
    FILE *in = fuzz::memory_file(reinterpret_cast<const uint8_t *>(bytes), length);
    std::vector<Sample> line(count);
    for (int32_t i = 0; i < lines; i++) {
        FUZZ_CHECK(read_sample_line(in, line.data(), count));
        FUZZ_CHECK(std::memcmp(line.data(), samples[i], count * sizeof(Sample)) == 0);
    }
    std::fclose(in);
    std::free(bytes);
    release(samples, lines);
}

void check_raster(const raster_case &rc)
{
    FILE *fd = fuzz::memory_file(rc.descriptor, rc.descriptor_size);
    const descriptor_fields fields = read_descriptor(fd);
    std::fclose(fd);
    const int32_t lines = fields.value[0], columns = fields.value[1];
    if (lines <= 0 || columns <= 0)
        return; // the dialogue stops the run

    FILE *fp = rc.on_disk ? fuzz::disk_file(rc.samples, rc.sample_size)
                          : fuzz::memory_file(rc.samples, rc.sample_size);
    const unsigned long long needed = sample_file_bytes(lines, columns, rc.itype);
    FUZZ_CHECK(needed == static_cast<unsigned long long>(lines) * static_cast<unsigned long long>(columns) *
                             static_cast<unsigned long long>(raster_bytes_per_sample(rc.itype)));
    unsigned long long size = 0;
    const bool size_known = open_file_size(fp, &size);
#ifdef _WIN32
    FUZZ_CHECK(size_known);  // a memory file is a file on disk there
#else
    FUZZ_CHECK(size_known == rc.on_disk);
#endif
    if (size_known)
        FUZZ_CHECK(size == rc.sample_size);
    // A short file on disk is refused before anything is read; on a stream, a grid far
    // larger than its bytes is the storage message's business, not the reader's.
    const bool refused = size_known && size < needed;
    if (refused || needed > 2 * rc.sample_size + 256) {
        std::fclose(fp);
        return;
    }

    int32_t **itab = imatrice(columns, lines);
    double **dtab = dmatrice(columns, lines);
    FUZZ_CHECK(itab != nullptr && dtab != nullptr);
    uint16_t **jtab = rc.itype == 0 ? usmatrice(columns, lines) : nullptr;
    FUZZ_CHECK(rc.itype == 1 || jtab != nullptr);
    integer_range range = {0, 0};
    const int32_t complete = read_raster_samples(fp, rc.itype, jtab, itab, lines, columns, &range);
    if (jtab != nullptr)
        frusmatrice(jtab, lines);
    std::fclose(fp);
    const size_t line_bytes =
        static_cast<size_t>(columns) * static_cast<size_t>(raster_bytes_per_sample(rc.itype));
    // The first incomplete line is the first one the bytes do not cover.
    const int64_t covered = static_cast<int64_t>(rc.sample_size / line_bytes);
    FUZZ_CHECK(complete == (covered < lines ? covered : lines));
    if (complete < lines) {
        frimatrice(itab, lines);
        frdmatrice(dtab, lines);
        return; // the reader stops the run naming that line
    }

    const metre_range metres = convert_grid_to_metres(itab, dtab, lines, columns, rc.unit);
    const size_t count = static_cast<size_t>(columns);
    int32_t low = sample_at(rc, 0), high = low;
    for (int32_t i = 0; i < lines; i++) {
        for (int32_t j = 0; j < columns; j++) {
            const int32_t s = sample_at(rc, static_cast<size_t>(i) * count + static_cast<size_t>(j));
            FUZZ_CHECK(itab[i][j] == s);
            FUZZ_CHECK(fuzz::same_double(dtab[i][j], expected_metres(s, rc.unit)));
            low = std::min(low, s);
            high = std::max(high, s);
        }
    }
    FUZZ_CHECK(range.min == low && range.max == high);
    FUZZ_CHECK(metres.min == expected_metres(low, rc.unit) &&
               metres.max == expected_metres(high, rc.unit));
    frimatrice(itab, lines);

    // The second grid: the first one upside down, so that most cells differ.
    double **second = dmatrice(columns, lines);
    double **out = dmatrice(columns, lines);
    FUZZ_CHECK(second != nullptr && out != nullptr);
    for (int32_t i = 0; i < lines; i++)
        std::memcpy(second[i], dtab[lines - 1 - i], count * sizeof(double));
    const double hypso = static_cast<double>(fields.value[3]) / 8.0;
    double d_min = 0.0, d_max = 0.0;
    change_budget budget;
    compute_difference(dtab, second, out, lines, columns, rc.type_treat, rc.basis, hypso, &d_min, &d_max,
                       &budget);
    bool any = false;
    size_t changed = 0, above = 0, below = 0;
    for (int32_t i = 0; i < lines; i++) {
        for (int32_t j = 0; j < columns; j++) {
            const double v = out[i][j];
            FUZZ_CHECK(v == difference_cell(dtab[i][j], second[i][j], rc.type_treat, rc.basis, hypso));
            FUZZ_CHECK(v >= 0.0 || rc.type_treat == TREAT_SIGNED);
            FUZZ_CHECK(v >= d_min && v <= d_max);
            any = any || v == d_min;
            changed += v != 0.0;
            above += dtab[i][j] > second[i][j];
            below += dtab[i][j] < second[i][j];
        }
    }
    FUZZ_CHECK(any);
    FUZZ_CHECK(budget.cells == static_cast<size_t>(lines) * static_cast<size_t>(columns));
    FUZZ_CHECK(budget.output.cells == changed && budget.without_data == 0);
    FUZZ_CHECK(budget.above.cells == above && budget.below.cells == below);
    FUZZ_CHECK(budget.above_detected.cells <= above && budget.below_detected.cells <= below);
    // No more than every change at the largest one, give or take the rounding.
    const double output_volume = compensated_total(budget.output.volume);
    const double largest = std::max(std::fabs(d_min), std::fabs(d_max));
    FUZZ_CHECK(std::fabs(output_volume) <= static_cast<double>(changed) * largest * (1.0 + 1e-9));
    if (rc.type_treat != TREAT_SIGNED)
        FUZZ_CHECK((changed == 0) == (output_volume == 0.0));

    if (rc.itype_out == 1)
        check_output<int32_t>(rc, out, lines, columns, d_min, d_max, imatrice, frimatrice);
    else
        check_output<uint16_t>(rc, out, lines, columns, d_min, d_max, usmatrice, frusmatrice);
    // Small output blocks, so that longer grids take the writer's two-thread way, when
    // the largest sample the descriptor gives is odd; otherwise one block of 64 KB.
    const size_t block_size = (fields.value[4] & 1) != 0
                                  ? FIXED6_MAX_CHARS + static_cast<uint32_t>(fields.value[5]) % 4096
                                  : size_t(1) << 16;
    check_ascii_round_trip(out, lines, columns, block_size);

    frdmatrice(dtab, lines);
    frdmatrice(second, lines);
    frdmatrice(out, lines);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Under libFuzzer every worker runs on this thread: the shares of work are cut and
    // put together as with two threads, without a thread started and handed every block
    // of each of thousands of small inputs a second. The replay of the kept inputs, which
    // calls no initialisation, takes the two threads.
    set_worker_threads(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    raster_case rc;
    const uint8_t flags = data[0];
    rc.itype = flags & 1;
    rc.unit = (flags >> 1) & 3;
    rc.on_disk = ((flags >> 3) & 1) != 0;
    rc.type_treat = (flags >> 5) & 3;
    // The dialogue offers signed values 32-bit samples only.
    rc.itype_out = ((flags >> 4) & 1) | (rc.type_treat == TREAT_SIGNED);
    rc.basis = (flags >> 7) & 1;
    rc.descriptor = data + 1;
    const uint8_t *nul = static_cast<const uint8_t *>(std::memchr(data + 1, '\0', size - 1));
    rc.descriptor_size = nul != nullptr ? static_cast<size_t>(nul - rc.descriptor) : size - 1;
    rc.samples = nul != nullptr ? nul + 1 : data + size;
    rc.sample_size = static_cast<size_t>(data + size - rc.samples);
    check_raster(rc);
    return 0;
}
