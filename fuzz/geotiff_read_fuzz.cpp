// Arbitrary bytes read as a GeoTIFF by the program's reader, through libtiff: its
// directory, its georeference and its strips or tiles. A file the reader takes is read
// twice, by two threads and by one, which must agree on every cell and every fault; a
// grid read whole has every cell written, and goes out through the GeoTIFF writer and
// back as the same Float32 cells; read by bands of lines, it gives the same cells and
// the same fault.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "platform/worker_thread.h"
#include "gridfiles/geotiff_reader.h"
#include "nrutil.h"
#include "treatment/geotiff_writer.h"

namespace {

const char NAME[] = "c:\\images\\site\\fuzz.tif";

// Grids and blocks beyond these are the memory guard's business, not the decoder's. A
// few bytes of header may announce a million cells: the grid decoded is kept to the
// input's size, so that each input costs the time and memory of its own bytes.
const int64_t MOST_CELLS = int64_t(1) << 20;
const uint64_t MOST_BLOCK_BYTES = uint64_t(16) << 20;
const int64_t MOST_CELLS_PER_BYTE = 16;
const uint64_t MOST_BLOCK_BYTES_PER_BYTE = 256;


struct reading {
    bool opened = false, read = false;
    geotiff_fault fault;
    geotiff_layout layout;
    std::vector<double> cells;
};

void check_fault(const geotiff_fault &fault)
{
    FUZZ_CHECK(fault.kind != geotiff_fine);
    const std::string message = geotiff_fault_message(NAME, fault);
    FUZZ_CHECK(message.rfind(std::string("\n\tFile ") + NAME, 0) == 0 ||
               message.rfind("\n\tNot enough memory to read file ", 0) == 0);
}

// The largest grid and block decoded.
struct decode_limits {
    int64_t cells;
    uint64_t block_bytes;
};

decode_limits limits_for(size_t size)
{
    return {std::min<int64_t>(MOST_CELLS, MOST_CELLS_PER_BYTE * static_cast<int64_t>(size)),
            std::min<uint64_t>(MOST_BLOCK_BYTES, MOST_BLOCK_BYTES_PER_BYTE * size)};
}

reading read_file(const uint8_t *data, size_t size, bool two_threads, const decode_limits &limits)
{
    reading r;
    FILE *fp = fuzz::memory_file(data, size);
    FILE *again = two_threads ? fuzz::memory_file(data, size) : nullptr;
    geotiff_file file;
    r.opened = geotiff_open(fp, NAME, &file, &r.fault);
    if (!r.opened) {
        check_fault(r.fault);
    } else {
        r.layout = file.layout;
        const geotiff_layout &layout = file.layout;
        FUZZ_CHECK(layout.lines > 0 && layout.columns > 0 && layout.blocks > 0);
        FUZZ_CHECK(std::isfinite(layout.placement.xll) && std::isfinite(layout.placement.yll));
        FUZZ_CHECK(layout.placement.dx > 0 && layout.placement.dy > 0);
        const uint64_t line_bytes = TIFFScanlineSize64(file.stream.tif);
        if (static_cast<int64_t>(layout.lines) * layout.columns <= limits.cells &&
            layout.block_bytes <= limits.block_bytes && line_bytes <= limits.block_bytes) {
            double **grid = dmatrice(layout.columns, layout.lines);
            FUZZ_CHECK(grid != nullptr);
            for (int32_t i = 0; i < layout.lines; i++)
                for (int32_t j = 0; j < layout.columns; j++)
                    grid[i][j] = fuzz::untouched_cell();
            r.read = geotiff_read_cells(&file, again, grid, &r.fault);
            if (!r.read)
                check_fault(r.fault);
            for (int32_t i = 0; i < layout.lines; i++)
                r.cells.insert(r.cells.end(), grid[i], grid[i] + layout.columns);
            frdmatrice(grid, layout.lines);
        }
    }
    geotiff_close(&file);
    std::fclose(fp);
    if (again != nullptr)
        std::fclose(again);
    return r;
}

// The grid read, written as the program writes its results and read back.
void check_written(const reading &r)
{
    const int32_t lines = r.layout.lines, columns = r.layout.columns;
    // A corner so far out that its top is beyond the doubles cannot be written.
    if (!std::isfinite(r.layout.placement.yll + lines * r.layout.placement.dy))
        return;
    double **grid = dmatrice(columns, lines);
    FUZZ_CHECK(grid != nullptr);
    for (int32_t i = 0; i < lines; i++)
        std::memcpy(grid[i], &r.cells[static_cast<size_t>(i) * columns], sizeof(double) * columns);
    // A real file: libtiff goes back to write its directory, which a memory stream's
    // length would not keep.
    FILE *out = std::tmpfile();
    FUZZ_CHECK(out != nullptr);
    std::string failure;
    FUZZ_CHECK(write_geotiff(out, NAME, grid, lines, columns, r.layout.placement.xll, r.layout.placement.yll,
                             r.layout.placement.dx, r.layout.placement.dy, r.layout.keys, &failure));
    FUZZ_CHECK(std::fseek(out, 0, SEEK_END) == 0);
    std::vector<uint8_t> bytes(static_cast<size_t>(std::ftell(out)));
    std::rewind(out);
    FUZZ_CHECK(std::fread(bytes.data(), 1, bytes.size(), out) == bytes.size());
    std::fclose(out);
    // The grid is known to be small: the writer's tiles and compression decide nothing.
    const reading back = read_file(bytes.data(), bytes.size(), true, {MOST_CELLS, MOST_BLOCK_BYTES});
    FUZZ_CHECK(back.read);
    FUZZ_CHECK(back.layout.lines == lines && back.layout.columns == columns);
    FUZZ_CHECK(back.layout.placement.xll == r.layout.placement.xll);
    FUZZ_CHECK(back.layout.placement.dx == r.layout.placement.dx);
    FUZZ_CHECK(back.layout.placement.dy == r.layout.placement.dy);
    for (size_t k = 0; k < r.cells.size(); k++) {
        const double value = r.cells[k];
        if (value != value)
            FUZZ_CHECK(back.cells[k] != back.cells[k]);
        else if (std::fabs(value) > 3.4e38)
            continue;  // beyond Float32, or rounded to its largest
        // The no-data value stands for cells without data.
        else if (static_cast<float>(value) == GEOTIFF_OUTPUT_NODATA)
            FUZZ_CHECK(back.cells[k] != back.cells[k]);
        else
            FUZZ_CHECK(back.cells[k] == static_cast<double>(static_cast<float>(value)));
    }
    frdmatrice(grid, lines);
}

// The file read by bands of seven lines, then again from line 0 in one band: the cells
// and the fault of its whole reading.
void check_bands(const uint8_t *data, size_t size, const reading &whole)
{
    FILE *fp = fuzz::memory_file(data, size);
    std::unique_ptr<geotiff_file> file(new geotiff_file());
    geotiff_fault fault;
    FUZZ_CHECK(geotiff_open(fp, NAME, file.get(), &fault));
    const int32_t lines = file->layout.lines, columns = file->layout.columns;
    std::unique_ptr<line_reader> reader =
        geotiff_line_reader(std::move(file), fp, fuzz::memory_file(data, size), NAME);
    fuzz::check_band_reading(reader.get(), lines, columns, {7, lines}, whole.cells, whole.read,
                             geotiff_fault_message(NAME, whole.fault));
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
    const decode_limits limits = limits_for(size);
    const reading two = read_file(data, size, true, limits);
    if (!two.opened || two.cells.empty())
        return 0;
    const reading one = read_file(data, size, false, limits);
    FUZZ_CHECK(one.opened && one.read == two.read);
    FUZZ_CHECK(geotiff_fault_message(NAME, one.fault) == geotiff_fault_message(NAME, two.fault));
    check_bands(data, size, two);
    if (!two.read)
        return 0;
    FUZZ_CHECK(one.cells.size() == two.cells.size());
    for (size_t k = 0; k < two.cells.size(); k++) {
        FUZZ_CHECK(!fuzz::is_untouched(two.cells[k]));
        FUZZ_CHECK(fuzz::same_double(one.cells[k], two.cells[k]));
    }
    check_written(two);
    return 0;
}
