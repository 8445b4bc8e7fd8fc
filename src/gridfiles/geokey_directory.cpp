#include "gridfiles/geokey_directory.h"

#include <algorithm>
#include <cstddef>

#include "gridfiles/tiff_stream.h"

std::vector<geokey> read_geokeys(const geo_keys &keys)
{
    const std::vector<uint16_t> &d = keys.directory;
    std::vector<geokey> found;
    if (d.size() < 4)
        return found;
    for (size_t k = 0, at = 4; k < d[3] && at + 3 < d.size(); k++, at += 4) {
        geokey key;
        key.id = d[at];
        key.location = d[at + 1];
        const size_t count = d[at + 2], offset = d[at + 3];
        if (key.location == 0) {
            key.numbers.push_back(offset);
        } else if (key.location == TAG_GEO_DOUBLE_PARAMS) {
            for (size_t i = offset; i < offset + count && i < keys.doubles.size(); i++)
                key.numbers.push_back(keys.doubles[i]);
        } else if (key.location == TAG_GEO_KEY_DIRECTORY) {
            for (size_t i = offset; i < offset + count && i < d.size(); i++)
                key.numbers.push_back(d[i]);
        } else if (key.location == TAG_GEO_ASCII_PARAMS && offset < keys.ascii.size()) {
            key.text = keys.ascii.substr(offset, count);
            while (!key.text.empty() && (key.text.back() == '|' || key.text.back() == '\0'))
                key.text.pop_back();
        }
        found.push_back(key);
    }
    return found;
}

bool geokey_short(const geo_keys &keys, uint16_t id, uint16_t *value)
{
    for (const geokey &key : read_geokeys(keys))
        if (key.id == id && key.location == 0) {
            *value = static_cast<uint16_t>(key.numbers[0]);
            return true;
        }
    return false;
}

geo_keys pack_geokeys(std::vector<geokey> keys)
{
    std::stable_sort(keys.begin(), keys.end(), [](const geokey &a, const geokey &b) { return a.id < b.id; });
    geo_keys out;
    out.geotiff = true;
    out.directory = {1, 1, 0, static_cast<uint16_t>(keys.size())};
    for (const geokey &key : keys) {
        uint16_t count = 1, offset = 0;
        if (key.location == 0) {
            offset = static_cast<uint16_t>(key.numbers[0]);
        } else if (key.location == TAG_GEO_DOUBLE_PARAMS) {
            offset = static_cast<uint16_t>(out.doubles.size());
            out.doubles.push_back(key.numbers[0]);
        } else {
            offset = static_cast<uint16_t>(out.ascii.size());
            out.ascii += key.text + "|";
            count = static_cast<uint16_t>(key.text.size() + 1);
        }
        out.directory.insert(out.directory.end(), {key.id, key.location, count, offset});
    }
    return out;
}

geo_keys output_geo_keys(const geo_keys &input)
{
    geo_keys out = input;
    out.geotiff = true;
    std::vector<uint16_t> &d = out.directory;
    if (d.size() < 4) {
        // No key at all: a raster type alone would read as a coordinate system of no name.
        d.clear();
        out.doubles.clear();
        out.ascii.clear();
        return out;
    }
    const size_t keys = std::min<size_t>(d[3], (d.size() - 4) / 4);
    d[3] = static_cast<uint16_t>(keys);
    size_t at = 4;
    while (at < 4 + 4 * keys && d[at] < GEOKEY_RASTER_TYPE)
        at += 4;
    if (at < 4 + 4 * keys && d[at] == GEOKEY_RASTER_TYPE) {
        d[at + 1] = 0;
        d[at + 2] = 1;
        d[at + 3] = 1;
        return out;
    }
    d.insert(d.begin() + static_cast<ptrdiff_t>(at), {GEOKEY_RASTER_TYPE, 0, 1, 1});
    d[3] = static_cast<uint16_t>(keys + 1);
    // Values kept in the directory itself, after the keys, have moved by one key.
    for (size_t k = 4; k < 4 + 4 * (keys + 1); k += 4)
        if (d[k + 1] == TAG_GEO_KEY_DIRECTORY)
            d[k + 3] = static_cast<uint16_t>(d[k + 3] + 4);
    return out;
}

geo_keys read_geo_keys(TIFF *tif)
{
    geo_keys keys;
    keys.geotiff = true;
    uint32_t count = 0;
    uint16_t *directory = nullptr;
    if (TIFFGetField(tif, TAG_GEO_KEY_DIRECTORY, &count, &directory) == 1 && directory != nullptr && count >= 4) {
        keys.directory.assign(directory, directory + count);
        double *doubles = nullptr;
        uint32_t double_count = 0;
        if (TIFFGetField(tif, TAG_GEO_DOUBLE_PARAMS, &double_count, &doubles) == 1 && doubles != nullptr)
            keys.doubles.assign(doubles, doubles + double_count);
        char *text = nullptr;
        if (TIFFGetField(tif, TAG_GEO_ASCII_PARAMS, &text) == 1 && text != nullptr)
            keys.ascii = text;
    }
    return keys;
}

bool write_geo_keys(TIFF *tif, const geo_keys &keys)
{
    const auto count = [](size_t size) { return static_cast<uint32_t>(size); };
    return (keys.directory.empty() ||
            TIFFSetField(tif, TAG_GEO_KEY_DIRECTORY, count(keys.directory.size()), keys.directory.data()) == 1) &&
           (keys.doubles.empty() ||
            TIFFSetField(tif, TAG_GEO_DOUBLE_PARAMS, count(keys.doubles.size()), keys.doubles.data()) == 1) &&
           (keys.ascii.empty() || TIFFSetField(tif, TAG_GEO_ASCII_PARAMS, keys.ascii.c_str()) == 1);
}
