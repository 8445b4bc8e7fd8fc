// Arbitrary bytes read as a raster descriptor. The six integers must be what "%d" reads
// field after field, a number beyond 32 bits ending the reading rather than wrapping.
// The first 24 bytes, taken as six integers, must also come back unchanged from a
// descriptor written with its processing notes.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "gridfiles/raster_pair.h"
#include "treatment/difference_kinds.h"

namespace {

bool is_white(uint8_t c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The fields as "%d%d%d%d%d%d" reads them, straight from the bytes.
descriptor_fields plain_fields(const uint8_t *data, size_t size)
{
    descriptor_fields fields = {{0, 0, 0, 0, 0, 0}, 0};
    size_t i = 0;
    while (fields.count < 6) {
        while (i < size && is_white(data[i]))
            i++;
        bool negative = false;
        if (i < size && (data[i] == '+' || data[i] == '-')) {
            negative = data[i] == '-';
            i++;
        }
        if (i == size || data[i] < '0' || data[i] > '9')
            break;
        int64_t magnitude = 0;
        bool fits = true;
        for (; i < size && data[i] >= '0' && data[i] <= '9'; i++) {
            magnitude = magnitude * 10 + (data[i] - '0');
            if (magnitude > (negative ? INT64_C(2147483648) : INT64_C(2147483647))) {
                fits = false;
                break;
            }
        }
        if (!fits)
            break;
        fields.value[fields.count++] = static_cast<int32_t>(negative ? -magnitude : magnitude);
    }
    return fields;
}

// The C library's own "%d" reading, where its result is defined: no NUL byte that would
// end the text early, and no digit run long enough to overflow.
void compare_with_scanf(const uint8_t *data, size_t size, const descriptor_fields &fields)
{
    if (std::memchr(data, '\0', size) != nullptr)
        return;
    size_t run = 0;
    for (size_t i = 0; i < size; i++) {
        run = (data[i] >= '0' && data[i] <= '9') ? run + 1 : 0;
        if (run > 9)
            return;
    }
    std::string text(data, data + size);
    int v[6] = {0, 0, 0, 0, 0, 0};
    int got = std::sscanf(text.c_str(), "%d%d%d%d%d%d", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
    FUZZ_CHECK((got < 0 ? 0 : got) == fields.count);
    for (int k = 0; k < fields.count; k++)
        FUZZ_CHECK(v[k] == fields.value[k]);
}

void round_trip(const uint8_t *data, size_t size)
{
    if (size < 24)
        return;
    int32_t six[6];
    std::memcpy(six, data, sizeof six);
    const std::string tail(data + 24, data + size);
    const std::string first_input = "c:\\images\\" + tail.substr(0, tail.size() / 2);
    const std::string second_input = "c:\\images\\" + tail.substr(tail.size() / 2);

    char *text = nullptr;
    size_t length = 0;
    FILE *out = fuzz::open_output(&text, &length);
    FUZZ_CHECK(out != nullptr);
    FUZZ_CHECK(write_descriptor_head(out, six[0], six[1], six[2]));
    FUZZ_CHECK(write_descriptor_tail(out, six[3], six[4], six[5]));
    const int kind = size % 3;
    std::fputs(processing_notes(first_input, second_input, difference_kind_name(kind), static_cast<int32_t>(size % 2),
                                static_cast<double>(six[0]) / 7.0)
                   .c_str(),
               out);
    FUZZ_CHECK(fuzz::close_output(out, &text, &length) == 0);

    FILE *in = fuzz::memory_file(reinterpret_cast<const uint8_t *>(text), length);
    descriptor_fields back = read_descriptor(in);
    std::fclose(in);
    std::free(text);
    FUZZ_CHECK(back.count == 6);
    for (int k = 0; k < 6; k++)
        FUZZ_CHECK(back.value[k] == six[k]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FILE *fp = fuzz::memory_file(data, size);
    descriptor_fields fields = read_descriptor(fp);
    std::fclose(fp);

    descriptor_fields plain = plain_fields(data, size);
    FUZZ_CHECK(fields.count >= 0 && fields.count <= 6);
    FUZZ_CHECK(fields.count == plain.count);
    // Fields the file does not supply are 0.
    for (int k = 0; k < 6; k++)
        FUZZ_CHECK(fields.value[k] == plain.value[k]);
    compare_with_scanf(data, size, fields);
    round_trip(data, size);
    return 0;
}
