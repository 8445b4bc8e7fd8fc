#include "treatment/output_space.h"

#include <algorithm>
#include <cmath>

#include "console/console.h"
#include "platform/platform.h"
#include "text/number_text.h"
#include "treatment/geotiff_writer.h"

namespace {

const double MIB = 1024.0 * 1024.0;
const double GIB = 1024.0 * MIB;
// A GeoTIFF's header, its directory of tags, the georeference keys and GDAL's no-data
// text take a few hundred bytes: room for more.
const double TIFF_TAGS_BYTES = 4096.0;

} // namespace

double raster_output_bytes(int32_t lines, int32_t columns, int32_t bytes_per_sample, size_t descriptor_chars)
{
    return static_cast<double>(lines) * columns * bytes_per_sample + static_cast<double>(descriptor_chars);
}

double ascii_output_estimate(size_t header_chars, double counted_chars, int32_t counted_lines, int32_t lines)
{
    const double per_line = counted_lines > 0 ? counted_chars / counted_lines : 0.0;
    return static_cast<double>(header_chars) + std::ceil(per_line * lines);
}

double geotiff_output_estimate(int32_t lines, int32_t columns, double first_row_bytes, bool bigtiff)
{
    // The uncompressed size times the first row's compression: its bytes for each of its
    // lines. The tiles' padding beyond the last column is in every row alike.
    const double side = GEOTIFF_TILE_SIDE;
    const double first_row_lines = std::min(side, static_cast<double>(lines));
    const double per_line = first_row_lines > 0 ? first_row_bytes / first_row_lines : 0.0;
    const double tiles = std::ceil(lines / side) * std::ceil(columns / side);
    // Each tile's offset and byte count.
    const double table = 2.0 * (bigtiff ? 8.0 : 4.0);
    return std::ceil(per_line * lines + tiles * table) + TIFF_TAGS_BYTES;
}

std::string disk_bytes_text(double bytes, bool round_up)
{
    const bool large = bytes >= GIB;
    const double tenths = bytes / (large ? GIB : MIB) * 10.0;
    return text_printf("%.1f %s", (round_up ? std::ceil(tenths) : std::floor(tenths)) / 10.0, large ? "GiB" : "MiB");
}

std::string disk_space_refusal(const std::string &name, double need, double free_bytes)
{
    if (need <= free_bytes)
        return "";
    return text_printf("\n\tNot enough space on the disk for %s: it needs about %s, and the disk has %s free.\n",
                       name.c_str(), disk_bytes_text(need, true).c_str(), disk_bytes_text(free_bytes, false).c_str());
}

std::string output_space_refusal(FILE *fp, double need)
{
    const std::string name = output_name(fp);
    unsigned long long free_bytes = 0;
    if (name.empty() || !free_disk_space(name, &free_bytes))
        return "";
    return disk_space_refusal(name, need, static_cast<double>(free_bytes));
}

void require_disk_space(FILE *fp, double need)
{
    const std::string refusal = output_space_refusal(fp, need);
    if (!refusal.empty())
        stop_with_message("%s", refusal.c_str());
}
