#include "coordinates/coordinate_system.h"

#include <cstdio>
#include <cstdlib>

#include "coordinates/geotiff_keys.h"
#include "gridfiles/input_grid.h"
#include "platform/platform.h"

namespace {

std::string proj_message;

void keep_message(void *, int, const char *message)
{
    proj_message = message != nullptr ? message : "";
}

struct context_holder {
    PJ_CONTEXT *ctx = proj_context_create();
    context_holder()
    {
        proj_log_func(ctx, nullptr, keep_message);
        proj_log_level(ctx, PJ_LOG_ERROR);
#ifdef _WIN32
        // The Windows build carries its own proj.db beside the program.
        const std::string folder = program_folder();
        const char *paths[] = {folder.c_str()};
        if (!folder.empty())
            proj_context_set_search_paths(ctx, 1, paths);
#endif
    }
    ~context_holder() { proj_context_destroy(ctx); }
};

// Where PROJ cannot tell, the name says so.
std::string name_of(const PJ *crs)
{
    const char *name = proj_get_name(crs);
    return name != nullptr && *name != '\0' ? name : "unknown";
}

// The horizontal part of a system: GDAL's WKT1 binds a datum shift (TOWGS84) to many,
// and a .prj may hold heights beside it.
pj_object horizontal_part(pj_object crs)
{
    PJ_CONTEXT *ctx = coordinates_context();
    for (int depth = 0; crs && depth < 4; depth++) {
        const PJ_TYPE type = proj_get_type(crs.get());
        if (type == PJ_TYPE_BOUND_CRS)
            crs.reset(proj_get_source_crs(ctx, crs.get()));
        else if (type == PJ_TYPE_COMPOUND_CRS)
            crs.reset(proj_crs_get_sub_crs(ctx, crs.get(), 0));
        else
            break;
    }
    return crs;
}

} // namespace

PJ_CONTEXT *coordinates_context()
{
    static context_holder holder;
    return holder.ctx;
}

std::string last_proj_message()
{
    return proj_message;
}

pj_object crs_object(const std::string &crs)
{
    if (crs.empty())
        return pj_object();
    return pj_object(proj_create(coordinates_context(), crs.c_str()));
}

std::string crs_text(const PJ *crs)
{
    const char *options[] = {"MULTILINE=NO", nullptr};
    const char *wkt = proj_as_wkt(coordinates_context(), crs, PJ_WKT2_2019, options);
    return wkt != nullptr ? wkt : "";
}

std::string crs_from_text(const std::string &text, std::string *problem)
{
    // A UTF-8 byte order mark, as some tools put before a .prj, is no part of the WKT.
    const size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    const size_t end = text.find_last_not_of(" \t\r\n");
    const std::string wkt = end == std::string::npos || end < start ? "" : text.substr(start, end + 1 - start);
    proj_message.clear();
    pj_object crs(wkt.empty() ? nullptr : proj_create(coordinates_context(), wkt.c_str()));
    if (crs && !proj_is_crs(crs.get()))
        crs.reset();
    crs = horizontal_part(std::move(crs));
    std::string kept = crs ? crs_text(crs.get()) : "";
    if (kept.empty())
        *problem = wkt.empty() ? "it is empty" : !proj_message.empty() ? proj_message : "no coordinate system";
    return kept;
}

bool same_coordinate_system(const std::string &a, const std::string &b)
{
    const pj_object first = crs_object(a), second = crs_object(b);
    if (!first || !second)
        return !first && !second;
    return proj_is_equivalent_to_with_ctx(coordinates_context(), first.get(), second.get(),
                                          PJ_COMP_EQUIVALENT_EXCEPT_AXIS_ORDER_GEOGCRS) != 0;
}

bool crs_is_geographic(const std::string &crs)
{
    const pj_object object = crs_object(crs);
    if (!object)
        return false;
    const PJ_TYPE type = proj_get_type(object.get());
    return type == PJ_TYPE_GEOGRAPHIC_2D_CRS || type == PJ_TYPE_GEOGRAPHIC_3D_CRS;
}

int crs_epsg_code(const std::string &crs)
{
    const pj_object object = crs_object(crs);
    if (!object)
        return 0;
    const char *authority = proj_get_id_auth_name(object.get(), 0);
    const char *code = proj_get_id_code(object.get(), 0);
    if (authority != nullptr && code != nullptr && std::string(authority) == "EPSG")
        return std::atoi(code);
    // A system GIS tools wrote longitude first is the registry's all the same.
    int *confidence = nullptr;
    PJ_OBJ_LIST *found = proj_identify(coordinates_context(), object.get(), "EPSG", nullptr, &confidence);
    int identified = 0;
    const int count = found != nullptr ? proj_list_get_count(found) : 0;
    for (int k = 0; k < count && identified == 0; k++) {
        const pj_object candidate(proj_list_get(coordinates_context(), found, k));
        const char *candidate_code = candidate ? proj_get_id_code(candidate.get(), 0) : nullptr;
        if (candidate_code != nullptr &&
            (confidence[k] == 100 ||
             proj_is_equivalent_to_with_ctx(coordinates_context(), object.get(), candidate.get(),
                                            PJ_COMP_EQUIVALENT_EXCEPT_AXIS_ORDER_GEOGCRS)))
            identified = std::atoi(candidate_code);
    }
    proj_int_list_destroy(confidence);
    proj_list_destroy(found);
    return identified;
}

std::string crs_display_name(const std::string &crs)
{
    const pj_object object = crs_object(crs);
    if (!object)
        return "no coordinate system";
    const int code = crs_epsg_code(crs);
    return name_of(object.get()) + (code > 0 ? " (EPSG " + std::to_string(code) + ")" : " (no EPSG code)");
}

std::string crs_prj_text(const std::string &crs)
{
    const pj_object object = crs_object(crs);
    if (!object)
        return "";
    const char *options[] = {"MULTILINE=NO", nullptr};
    const char *wkt = proj_as_wkt(coordinates_context(), object.get(), PJ_WKT1_ESRI, options);
    // A system ESRI's WKT cannot hold is written as GDAL's WKT1.
    if (wkt == nullptr)
        wkt = proj_as_wkt(coordinates_context(), object.get(), PJ_WKT1_GDAL, options);
    return wkt != nullptr ? wkt : "";
}

void read_coordinate_system(input_grid &grid)
{
    geo_keys &keys = grid.geokeys;
    keys.crs.clear();
    std::string problem;
    std::string where;
    if (keys.geotiff && !keys.directory.empty()) {
        keys.crs = crs_from_geokeys(keys, &problem);
        where = "the GeoKeys of file " + grid.nomim;
    } else if (keys.has_prj) {
        where = "file " + (keys.prj_in_grid ? grid.nomim : grid.nomim.substr(0, grid.nomim.size() - 4) + ".prj");
        keys.crs = crs_from_text(keys.prj, &problem);
    }
    if (!keys.crs.empty())
        grid.geographic = crs_is_geographic(keys.crs) ? 1 : 0;
    grid.frame.geographic = grid.geographic != 0;
    if (keys.crs.empty() && !problem.empty())
        std::printf("\n\tWarning: the coordinate system in %s cannot be read (%s): the DEM is taken to "
                    "declare none.\n",
                    where.c_str(), problem.c_str());
}

const geo_keys &result_coordinate_system()
{
    return geokeys_dem1.crs.empty() && !geokeys_dem2.crs.empty() ? geokeys_dem2 : geokeys_dem1;
}
