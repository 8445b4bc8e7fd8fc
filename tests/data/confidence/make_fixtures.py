# Makes the error grids of the sessions at a confidence level and the budgets numpy
# expects of them (see README.md). Run with /usr/bin/python3 in this folder.
import csv
import math
import statistics

import numpy
from osgeo import gdal

gdal.UseExceptions()
GEOTIFF = "../geotiff/"


def read(path):
    ds = gdal.Open(path)
    band = ds.GetRasterBand(1)
    cells = band.ReadAsArray().astype(numpy.float64)
    nodata = band.GetNoDataValue()
    if nodata is not None:
        cells[cells == nodata] = numpy.nan
    return ds, cells


def write_asc(path, ds, cells, xshift=0.0):
    gt = ds.GetGeoTransform()
    rows, cols = cells.shape
    with open(path, "w") as f:
        f.write("ncols %d\nnrows %d\nxllcorner %r\nyllcorner %r\ncellsize %r\nNODATA_value -9999\n"
                % (cols, rows, gt[0] + xshift, gt[3] + rows * gt[5], gt[1]))
        for line in cells:
            f.write(" ".join("-9999" if math.isnan(v) else "%.4f" % v for v in line) + "\n")


first_ds, first = read(GEOTIFF + "dem_2015.tif")
second_ds, second = read(GEOTIFF + "dem_2020.tif")
rows, cols = first.shape

# The first epoch's error grows with altitude (0.05 m at 179 m, 0.37 m at 259 m): a
# Float32 GeoTIFF on its cells.
err_first = (0.05 + 0.004 * (first - 179.0)).astype(numpy.float32)
out = gdal.GetDriverByName("GTiff").Create("err_2015.tif", cols, rows, 1, gdal.GDT_Float32,
                                           ["COMPRESS=DEFLATE"])
out.SetGeoTransform(first_ds.GetGeoTransform())
out.SetProjection(first_ds.GetProjection())
out.GetRasterBand(1).WriteArray(err_first)
out = None
err_first = err_first.astype(numpy.float64)

# The second's grows eastward (0.1 m to 0.3 m), with no data in a block of 5 x 5 cells:
# an ASCII grid, four decimals.
err_second = numpy.round(0.1 + 0.005 * numpy.arange(cols)[None, :] + 0.0 * first, 4)
err_second[10:15, 20:25] = numpy.nan
write_asc("err_2020.asc", second_ds, err_second)
# Refused: the same half a cell to the east, and one with a negative error.
write_asc("err_shifted.asc", second_ds, err_second, xshift=15.0)
negative = err_second.copy()
negative[3, 4] = -0.1
# A second, further down: the first in the grid's order is the one told.
negative[35, 2] = -0.2
write_asc("err_negative.asc", second_ds, negative)
err_second = numpy.loadtxt("err_2020.asc", skiprows=6)
err_second[err_second == -9999] = numpy.nan


# A part of the second epoch and of its error grid (lines 4 to 36, columns 5 to 34): the
# run differences the common part, and the error grid must follow its DEM there.
WINDOW = (5, 4, 30, 33)
gdal.Translate("dem_2020_part.tif", GEOTIFF + "dem_2020.tif", srcWin=list(WINDOW),
               creationOptions=["COMPRESS=DEFLATE"])
part_ds, _ = read("dem_2020_part.tif")
c0, l0, nc, nl = WINDOW
write_asc("err_2020_part.asc", part_ds, numpy.loadtxt("err_2020.asc", skiprows=6)[l0:l0 + nl, c0:c0 + nc])
part_ds = None
part_error = numpy.loadtxt("err_2020_part.asc", skiprows=6)
part_error[part_error == -9999] = numpy.nan


def budget(name, kind, s1, s2, level, window=None):
    t = statistics.NormalDist().inv_cdf((1 + level / 100) / 2)
    first_cells, second_cells = first, second
    if window is not None:
        c0, l0, nc, nl = window
        first_cells, second_cells = first[l0:l0 + nl, c0:c0 + nc], second[l0:l0 + nl, c0:c0 + nc]
    sigma = numpy.sqrt(s1 ** 2 + s2 ** 2) + 0.0 * first_cells
    d = first_cells - second_cells
    valid = ~numpy.isnan(d) & ~numpy.isnan(sigma)
    area = 900.0
    kept = valid & (numpy.abs(d) >= t * numpy.where(valid, sigma, 0))
    row = {"session": name, "t": t, "cells_without_data": int((~valid).sum())}
    for side, mask in (("above", kept & (d > 0)), ("below", kept & (d < 0))):
        row[side + "_detected_cells"] = int(mask.sum())
        row[side + "_detected_area_m2"] = mask.sum() * area
        row[side + "_detected_volume_m3"] = math.fsum(numpy.abs(d[mask]) * area)
        row[side + "_error_m3"] = math.fsum(sigma[mask] * area)
        row[side + "_error_independent_m3"] = math.sqrt(math.fsum((sigma[mask] * area) ** 2))
    row["net_error_m3"] = math.hypot(row["above_error_m3"], row["below_error_m3"])
    row["net_error_independent_m3"] = math.hypot(row["above_error_independent_m3"],
                                                 row["below_error_independent_m3"])
    out = {2: kept & (d > 0), 3: kept & (d != 0), 0: kept & (d != 0)}[kind]
    row["output_cells"] = int(out.sum())
    signed = {2: d, 3: d, 0: numpy.abs(d)}[kind]
    row["output_volume_m3"] = math.fsum(signed[out] * area)
    return row


rows_out = [budget("uniform_95", 0, 0.1, 0.15, 95.0), budget("grid_beside_uniform_90", 3, err_first, 0.15, 90.0),
            budget("no_data_in_grid_99", 2, 0.1, err_second, 99.0),
            budget("grid_follows_part_of_second_99", 0, 0.1, part_error, 99.0, WINDOW)]
with open("expected_budgets.csv", "w", newline="") as f:
    writer = csv.DictWriter(f, fieldnames=list(rows_out[0]), lineterminator="\n")
    writer.writeheader()
    for row in rows_out:
        writer.writerow({k: (repr(v) if isinstance(v, float) else v) for k, v in row.items()})
