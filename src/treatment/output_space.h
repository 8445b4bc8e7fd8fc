// Whether the output grid fits its disk, judged before its first cell is written from
// an estimate of its size: the run stops at once rather than after hours of writing.
#ifndef ORMELIX_OUTPUT_SPACE_H
#define ORMELIX_OUTPUT_SPACE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// A raster pair's size, exactly: its samples and the characters of its descriptor.
double raster_output_bytes(int32_t lines, int32_t columns, int32_t bytes_per_sample, size_t descriptor_chars);
// An ASCII grid's: its header, and every line as long as the lines counted, which took
// counted_chars over counted_lines lines.
double ascii_output_estimate(size_t header_chars, double counted_chars, int32_t counted_lines, int32_t lines);
// A GeoTIFF's: every line of tiles compressed as well as the first row of tiles, which
// took first_row_bytes, and the tables of the tiles' places and the tags.
double geotiff_output_estimate(int32_t lines, int32_t columns, double first_row_bytes, bool bigtiff);

// Bytes as the disk-space stop shows them: MiB below a GiB, else GiB, with one decimal,
// rounded up (a need) or down (free space), so that a need shown is never less than it.
std::string disk_bytes_text(double bytes, bool round_up);
// The stop's message when an output of about need bytes does not fit the free bytes of
// its disk; "" when it does.
std::string disk_space_refusal(const std::string &name, double need, double free_bytes);

// The stop's message when the output file fp (an output the run created) will not fit the
// free space of its folder, at about need bytes; "" when it will, or when the system
// does not say how much is free.
std::string output_space_refusal(FILE *fp, double need);
// Stops the run when the output file fp (an output the run created) will not fit the
// free space of its folder, at about need bytes. Nothing is done when the system does
// not say how much is free.
void require_disk_space(FILE *fp, double need);

#endif
