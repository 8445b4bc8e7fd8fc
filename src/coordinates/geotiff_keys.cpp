#include "coordinates/geotiff_keys.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

#include <proj_experimental.h>

#include "coordinates/coordinate_system.h"
#include "gridfiles/geokey_directory.h"
#include "gridfiles/tiff_stream.h"

namespace {

// The keys GeoTIFF spells a system out with.
enum : uint16_t {
    GT_CITATION = 1026,
    GEOG_CITATION = 2049,
    GEOG_DATUM = 2050,
    GEOG_PRIME_MERIDIAN = 2051,
    GEOG_ANGULAR_UNITS = 2054,
    GEOG_ELLIPSOID = 2056,
    GEOG_SEMI_MAJOR = 2057,
    GEOG_SEMI_MINOR = 2058,
    GEOG_INV_FLATTENING = 2059,
    GEOG_PRIME_MERIDIAN_LONG = 2061,
    PCS_CITATION = 3073,
    PROJECTION = 3074,
    PROJ_COORD_TRANS = 3075,
    PROJ_LINEAR_UNITS = 3076,
    STD_PARALLEL_1 = 3078,
    STD_PARALLEL_2 = 3079,
    NAT_ORIGIN_LONG = 3080,
    NAT_ORIGIN_LAT = 3081,
    FALSE_EASTING = 3082,
    FALSE_NORTHING = 3083,
    FALSE_ORIGIN_LONG = 3084,
    FALSE_ORIGIN_LAT = 3085,
    FALSE_ORIGIN_EASTING = 3086,
    FALSE_ORIGIN_NORTHING = 3087,
    CENTER_LONG = 3088,
    CENTER_LAT = 3089,
    SCALE_AT_NAT_ORIGIN = 3092,
    STRAIGHT_VERT_POLE_LONG = 3095,
};
const uint16_t USER_DEFINED = 32767;
const int EPSG_DEGREE = 9102, EPSG_METRE = 9001;
const char PE_STRING[] = "ESRI PE String = ";
const double PI = 3.14159265358979323846;

enum parameter_kind { angle, length, scale };
struct key_parameter {
    int epsg;           // EPSG's code of the parameter
    const char *name;   // and its name
    uint16_t key;
    parameter_kind kind;
};
// A projection method as GeoTIFF numbers it (ProjCoordTransGeoKey) and as EPSG does.
// Two EPSG methods share a number: Mercator's variant B has a standard parallel, the
// polar stereographic's variant A its origin at a pole.
struct geotiff_method {
    uint16_t transform;
    int epsg;
    const char *name;
    std::vector<key_parameter> parameters;
};

const key_parameter LAT_NAT = {8801, "Latitude of natural origin", NAT_ORIGIN_LAT, angle};
const key_parameter LON_NAT = {8802, "Longitude of natural origin", NAT_ORIGIN_LONG, angle};
const key_parameter K_NAT = {8805, "Scale factor at natural origin", SCALE_AT_NAT_ORIGIN, scale};
const key_parameter FE = {8806, "False easting", FALSE_EASTING, length};
const key_parameter FN = {8807, "False northing", FALSE_NORTHING, length};
const key_parameter SP1 = {8823, "Latitude of 1st standard parallel", STD_PARALLEL_1, angle};
const key_parameter SP2 = {8824, "Latitude of 2nd standard parallel", STD_PARALLEL_2, angle};

const std::vector<geotiff_method> &methods()
{
    static const std::vector<geotiff_method> table = {
        {1, 9807, "Transverse Mercator", {LAT_NAT, LON_NAT, K_NAT, FE, FN}},
        {7, 9805, "Mercator (variant B)", {SP1, LON_NAT, FE, FN}},
        {7, 9804, "Mercator (variant A)", {LAT_NAT, LON_NAT, K_NAT, FE, FN}},
        {8, 9802, "Lambert Conic Conformal (2SP)",
         {{8821, "Latitude of false origin", FALSE_ORIGIN_LAT, angle},
          {8822, "Longitude of false origin", FALSE_ORIGIN_LONG, angle}, SP1, SP2,
          {8826, "Easting at false origin", FALSE_ORIGIN_EASTING, length},
          {8827, "Northing at false origin", FALSE_ORIGIN_NORTHING, length}}},
        {9, 9801, "Lambert Conic Conformal (1SP)", {LAT_NAT, LON_NAT, K_NAT, FE, FN}},
        {10, 9820, "Lambert Azimuthal Equal Area",
         {{8801, "Latitude of natural origin", CENTER_LAT, angle},
          {8802, "Longitude of natural origin", CENTER_LONG, angle}, FE, FN}},
        {11, 9822, "Albers Equal Area",
         {{8821, "Latitude of false origin", NAT_ORIGIN_LAT, angle},
          {8822, "Longitude of false origin", NAT_ORIGIN_LONG, angle}, SP1, SP2,
          {8826, "Easting at false origin", FALSE_EASTING, length},
          {8827, "Northing at false origin", FALSE_NORTHING, length}}},
        {15, 9810, "Polar Stereographic (variant A)",
         {LAT_NAT, {8802, "Longitude of natural origin", STRAIGHT_VERT_POLE_LONG, angle}, K_NAT, FE, FN}},
        {15, 9829, "Polar Stereographic (variant B)",
         {{8832, "Latitude of standard parallel", NAT_ORIGIN_LAT, angle},
          {8833, "Longitude of origin", STRAIGHT_VERT_POLE_LONG, angle}, FE, FN}},
        {16, 9809, "Oblique Stereographic", {LAT_NAT, LON_NAT, K_NAT, FE, FN}},
    };
    return table;
}

const geokey *find_key(const std::vector<geokey> &keys, uint16_t id)
{
    for (const geokey &key : keys)
        if (key.id == id)
            return &key;
    return nullptr;
}

// A key's number, or the default when the file leaves it out.
double number(const std::vector<geokey> &keys, uint16_t id, double missing)
{
    const geokey *key = find_key(keys, id);
    return key != nullptr && !key->numbers.empty() ? key->numbers[0] : missing;
}

// A code key that names an entry of the EPSG registry (0 and 32767 name none).
int code(const std::vector<geokey> &keys, uint16_t id)
{
    const double value = number(keys, id, 0);
    return value > 0 && value < USER_DEFINED ? static_cast<int>(value) : 0;
}

std::string text(const std::vector<geokey> &keys, uint16_t id)
{
    const geokey *key = find_key(keys, id);
    return key != nullptr ? key->text : "";
}

// "GCS Name = ...|Datum = ...|Ellipsoid = ...|Primem = ..." as GDAL writes a user-defined
// geographic system's citation; a plain citation is the system's name.
std::string citation_part(const std::string &citation, const std::string &part)
{
    const std::string label = part + " = ";
    const size_t at = citation.find(label);
    if (at == std::string::npos)
        return part == "GCS Name" && citation.find(" = ") == std::string::npos ? citation : "";
    const size_t start = at + label.size();
    const size_t end = citation.find('|', start);
    return citation.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string or_unknown(const std::string &name)
{
    return name.empty() ? "unknown" : name;
}

pj_object from_registry(int epsg, PJ_CATEGORY category)
{
    const std::string number_text = std::to_string(epsg);
    return pj_object(proj_create_from_database(coordinates_context(), "EPSG", number_text.c_str(), category, 0,
                                               nullptr));
}

struct unit {
    std::string name;
    double factor;  // to radians or metres
};
bool registry_unit(int epsg, unit *found)
{
    const std::string number_text = std::to_string(epsg);
    const char *name = nullptr;
    double factor = 0;
    if (!proj_uom_get_info_from_database(coordinates_context(), "EPSG", number_text.c_str(), &name, &factor,
                                         nullptr) ||
        name == nullptr)
        return false;
    *found = {name, factor};
    return true;
}

struct keys_reading {
    std::vector<geokey> keys;
    unit angular{"degree", PI / 180.0}, linear{"metre", 1.0};
    std::string problem;
};

pj_object fail(keys_reading *r, const std::string &problem)
{
    r->problem = problem;
    return pj_object();
}

// The system an EPSG code of `key` names, or the fault that PROJ does not know it.
pj_object registered_system(keys_reading *r, int epsg, const char *key)
{
    pj_object crs = from_registry(epsg, PJ_CATEGORY_CRS);
    return crs ? std::move(crs) : fail(r, std::string(key) + " " + std::to_string(epsg) + " is unknown to PROJ");
}

pj_object geographic_from_keys(keys_reading *r)
{
    PJ_CONTEXT *ctx = coordinates_context();
    const std::vector<geokey> &keys = r->keys;
    if (const int epsg = code(keys, GEOKEY_GEOGRAPHIC_TYPE))
        return registered_system(r, epsg, "GeographicTypeGeoKey");
    const pj_object cs(proj_create_ellipsoidal_2D_cs(ctx, PJ_ELLPS2D_LONGITUDE_LATITUDE, r->angular.name.c_str(),
                                                      r->angular.factor));
    const std::string citation = text(keys, GEOG_CITATION);
    const std::string name = or_unknown(citation_part(citation, "GCS Name"));
    if (const int epsg = code(keys, GEOG_DATUM)) {
        pj_object datum = from_registry(epsg, PJ_CATEGORY_DATUM);
        if (!datum)
            datum = from_registry(epsg, PJ_CATEGORY_DATUM_ENSEMBLE);
        if (!datum)
            return fail(r, "GeogGeodeticDatumGeoKey " + std::to_string(epsg) + " is unknown to PROJ");
        return pj_object(proj_create_geographic_crs_from_datum(ctx, name.c_str(), datum.get(), cs.get()));
    }
    double a = number(keys, GEOG_SEMI_MAJOR, 0), inverse_flattening = number(keys, GEOG_INV_FLATTENING, -1);
    std::string ellipsoid_name = citation_part(citation, "Ellipsoid");
    if (const int epsg = code(keys, GEOG_ELLIPSOID)) {
        const pj_object ellipsoid = from_registry(epsg, PJ_CATEGORY_ELLIPSOID);
        double b = 0;
        int computed = 0;
        if (!ellipsoid || !proj_ellipsoid_get_parameters(ctx, ellipsoid.get(), &a, &b, &computed, &inverse_flattening))
            return fail(r, "GeogEllipsoidGeoKey " + std::to_string(epsg) + " is unknown to PROJ");
        ellipsoid_name = proj_get_name(ellipsoid.get());
    } else if (inverse_flattening < 0) {
        const double b = number(keys, GEOG_SEMI_MINOR, 0);
        inverse_flattening = b > 0 && b < a ? a / (a - b) : 0.0;
    }
    if (!(a > 0))
        return fail(r, "the keys give no datum, ellipsoid or semi-major axis");
    double meridian = number(keys, GEOG_PRIME_MERIDIAN_LONG, 0);
    std::string meridian_name = or_unknown(citation_part(citation, "Primem"));
    if (const int epsg = code(keys, GEOG_PRIME_MERIDIAN)) {
        const pj_object pm = from_registry(epsg, PJ_CATEGORY_PRIME_MERIDIAN);
        double factor = 0;
        if (pm && proj_prime_meridian_get_parameters(ctx, pm.get(), &meridian, &factor, nullptr)) {
            meridian = meridian * factor / r->angular.factor;
            meridian_name = proj_get_name(pm.get());
        }
    } else if (meridian == 0) {
        meridian_name = "Greenwich";
    }
    const std::string datum_name = or_unknown(citation_part(citation, "Datum"));
    return pj_object(proj_create_geographic_crs(ctx, name.c_str(), datum_name.c_str(),
                                                or_unknown(ellipsoid_name).c_str(), a, inverse_flattening,
                                                meridian_name.c_str(), meridian, r->angular.name.c_str(),
                                                r->angular.factor, cs.get()));
}

bool method_fits(const geotiff_method &method, const std::vector<geokey> &keys)
{
    if (method.epsg == 9805)
        return find_key(keys, STD_PARALLEL_1) != nullptr;
    if (method.epsg == 9810)
        return std::fabs(std::fabs(number(keys, NAT_ORIGIN_LAT, 90)) - 90.0) < 1e-9;
    return true;
}

pj_object conversion_from_keys(keys_reading *r)
{
    const std::vector<geokey> &keys = r->keys;
    if (const int epsg = code(keys, PROJECTION)) {
        pj_object conversion = from_registry(epsg, PJ_CATEGORY_COORDINATE_OPERATION);
        return conversion ? std::move(conversion)
                          : fail(r, "ProjectionGeoKey " + std::to_string(epsg) + " is unknown to PROJ");
    }
    const int transform = static_cast<int>(number(keys, PROJ_COORD_TRANS, 0));
    for (const geotiff_method &method : methods()) {
        if (method.transform != transform || !method_fits(method, keys))
            continue;
        std::vector<PJ_PARAM_DESCRIPTION> parameters;
        std::vector<std::string> codes;
        codes.reserve(method.parameters.size());
        for (const key_parameter &p : method.parameters) {
            codes.push_back(std::to_string(p.epsg));
            const unit &u = p.kind == angle ? r->angular : r->linear;
            PJ_PARAM_DESCRIPTION d;
            d.name = p.name;
            d.auth_name = "EPSG";
            d.code = codes.back().c_str();
            d.value = number(keys, p.key, p.kind == scale ? 1.0 : 0.0);
            d.unit_name = p.kind == scale ? "unity" : u.name.c_str();
            d.unit_conv_factor = p.kind == scale ? 1.0 : u.factor;
            d.unit_type = p.kind == angle ? PJ_UT_ANGULAR : p.kind == length ? PJ_UT_LINEAR : PJ_UT_SCALE;
            parameters.push_back(d);
        }
        const std::string method_code = std::to_string(method.epsg);
        return pj_object(proj_create_conversion(coordinates_context(), "unknown", nullptr, nullptr, method.name,
                                                "EPSG", method_code.c_str(), static_cast<int>(parameters.size()),
                                                parameters.data()));
    }
    return fail(r, "ProjCoordTransGeoKey " + std::to_string(transform) + " is a projection the program does not read");
}

pj_object projected_from_keys(keys_reading *r)
{
    PJ_CONTEXT *ctx = coordinates_context();
    const std::vector<geokey> &keys = r->keys;
    if (const int epsg = code(keys, GEOKEY_PROJECTED_TYPE))
        return registered_system(r, epsg, "ProjectedCSTypeGeoKey");
    const pj_object base = geographic_from_keys(r);
    const pj_object conversion = base ? conversion_from_keys(r) : pj_object();
    if (!conversion)
        return pj_object();
    // A polar stereographic's axes run along meridians, as PROJ and GDAL give them.
    const int transform = static_cast<int>(number(keys, PROJ_COORD_TRANS, 0));
    const PJ_CARTESIAN_CS_2D_TYPE axes = transform != 15                   ? PJ_CART2D_EASTING_NORTHING
                                         : number(keys, NAT_ORIGIN_LAT, 90) > 0 ? PJ_CART2D_NORTH_POLE_EASTING_SOUTH_NORTHING_SOUTH
                                                                                 : PJ_CART2D_SOUTH_POLE_EASTING_NORTH_NORTHING_NORTH;
    const pj_object cs(proj_create_cartesian_2D_cs(ctx, axes, r->linear.name.c_str(), r->linear.factor));
    const std::string name = or_unknown(text(keys, GT_CITATION));
    return pj_object(proj_create_projected_crs(ctx, name.c_str(), base.get(), conversion.get(), cs.get()));
}

// Keys to write, in any order: packed into the three tags sorted by key, as GeoTIFF asks.
struct key_writer {
    std::vector<geokey> keys;
    void code(uint16_t id, int value) { keys.push_back({id, 0, {static_cast<double>(value)}, ""}); }
    void real(uint16_t id, double value) { keys.push_back({id, TAG_GEO_DOUBLE_PARAMS, {value}, ""}); }
    void words(uint16_t id, const std::string &value) { keys.push_back({id, TAG_GEO_ASCII_PARAMS, {}, value}); }
    geo_keys packed() { return pack_geokeys(std::move(keys)); }
};

std::string registry_code(const PJ *object)
{
    const char *authority = object != nullptr ? proj_get_id_auth_name(object, 0) : nullptr;
    const char *number_text = object != nullptr ? proj_get_id_code(object, 0) : nullptr;
    return authority != nullptr && number_text != nullptr && std::string(authority) == "EPSG" ? number_text : "";
}

int registry_number(const PJ *object)
{
    const std::string text_code = registry_code(object);
    return text_code.empty() ? 0 : std::atoi(text_code.c_str());
}

std::string name_or_unknown(const PJ *object)
{
    const char *name = object != nullptr ? proj_get_name(object) : nullptr;
    return name != nullptr && *name != '\0' ? name : "unknown";
}

// The unit of the first axis of a system's coordinates, its EPSG code or 0.
int axis_unit(const PJ *crs, double *factor)
{
    PJ_CONTEXT *ctx = coordinates_context();
    const pj_object cs(proj_crs_get_coordinate_system(ctx, crs));
    const char *authority = nullptr, *number_text = nullptr;
    *factor = 0;
    if (!cs || !proj_cs_get_axis_info(ctx, cs.get(), 0, nullptr, nullptr, nullptr, factor, nullptr, &authority,
                                      &number_text))
        return 0;
    return authority != nullptr && number_text != nullptr && std::string(authority) == "EPSG" ? std::atoi(number_text)
                                                                                                : 0;
}

// The geographic part, as GDAL writes it: a registered system by its code with its
// ellipsoid's axes, else its datum, ellipsoid and prime meridian.
void write_geographic(const PJ *geographic, key_writer *w)
{
    PJ_CONTEXT *ctx = coordinates_context();
    const pj_object datum(proj_crs_get_datum_forced(ctx, geographic));
    const pj_object ellipsoid(proj_get_ellipsoid(ctx, geographic));
    const pj_object meridian(proj_get_prime_meridian(ctx, geographic));
    double a = 0, b = 0, inverse_flattening = 0, longitude = 0, factor = 0;
    int computed = 0;
    if (ellipsoid)
        proj_ellipsoid_get_parameters(ctx, ellipsoid.get(), &a, &b, &computed, &inverse_flattening);
    if (meridian)
        proj_prime_meridian_get_parameters(ctx, meridian.get(), &longitude, &factor, nullptr);
    const int epsg = registry_number(geographic);
    w->code(GEOKEY_GEOGRAPHIC_TYPE, epsg > 0 ? epsg : USER_DEFINED);
    if (epsg > 0) {
        w->words(GEOG_CITATION, name_or_unknown(geographic));
    } else {
        w->words(GEOG_CITATION, "GCS Name = " + name_or_unknown(geographic) + "|Datum = " + name_or_unknown(datum.get()) +
                                    "|Ellipsoid = " + name_or_unknown(ellipsoid.get()) +
                                    "|Primem = " + name_or_unknown(meridian.get()) + "|");
        const int datum_code = registry_number(datum.get());
        w->code(GEOG_DATUM, datum_code > 0 ? datum_code : USER_DEFINED);
        if (const int ellipsoid_code = registry_number(ellipsoid.get()))
            w->code(GEOG_ELLIPSOID, ellipsoid_code);
        if (longitude != 0)
            w->real(GEOG_PRIME_MERIDIAN_LONG, longitude * factor * 180.0 / PI);
    }
    w->code(GEOG_ANGULAR_UNITS, EPSG_DEGREE);
    w->real(GEOG_SEMI_MAJOR, a);
    if (inverse_flattening > 0)
        w->real(GEOG_INV_FLATTENING, inverse_flattening);
    else
        w->real(GEOG_SEMI_MINOR, b);
}

// The projection as GeoTIFF numbers it, each parameter in degrees or in the unit of the
// coordinates; false, writing nothing, for a method GeoTIFF has no number for.
bool write_projection(const PJ *conversion, double linear_factor, key_writer *w)
{
    PJ_CONTEXT *ctx = coordinates_context();
    const char *method_code = nullptr;
    if (conversion == nullptr || !proj_coordoperation_get_method_info(ctx, conversion, nullptr, nullptr, &method_code) ||
        method_code == nullptr)
        return false;
    const int epsg = std::atoi(method_code);
    for (const geotiff_method &method : methods()) {
        if (method.epsg != epsg)
            continue;
        w->code(PROJ_COORD_TRANS, method.transform);
        const int count = proj_coordoperation_get_param_count(ctx, conversion);
        for (int k = 0; k < count; k++) {
            const char *parameter_code = nullptr;
            double value = 0, factor = 1;
            if (!proj_coordoperation_get_param(ctx, conversion, k, nullptr, nullptr, &parameter_code, &value, nullptr,
                                               &factor, nullptr, nullptr, nullptr, nullptr) ||
                parameter_code == nullptr)
                continue;
            for (const key_parameter &p : method.parameters)
                if (p.epsg == std::atoi(parameter_code))
                    w->real(p.key, p.kind == angle    ? value * factor * 180.0 / PI
                                   : p.kind == length ? value * factor / linear_factor
                                                      : value);
        }
        return true;
    }
    return false;
}

} // namespace

std::string crs_from_geokeys(const geo_keys &input, std::string *problem)
{
    keys_reading r;
    r.keys = read_geokeys(input);
    // GDAL keeps the WKT of a system GeoTIFF cannot spell in a citation.
    for (uint16_t id : {PCS_CITATION, GT_CITATION}) {
        const std::string citation = text(r.keys, id);
        if (citation.compare(0, sizeof PE_STRING - 1, PE_STRING) == 0)
            return crs_from_text(citation.substr(sizeof PE_STRING - 1), problem);
    }
    for (uint16_t id : {GEOG_ANGULAR_UNITS, PROJ_LINEAR_UNITS}) {
        const int epsg = code(r.keys, id);
        if (epsg != 0 && !registry_unit(epsg, id == GEOG_ANGULAR_UNITS ? &r.angular : &r.linear)) {
            *problem = std::string(id == GEOG_ANGULAR_UNITS ? "GeogAngularUnitsGeoKey " : "ProjLinearUnitsGeoKey ") +
                       std::to_string(epsg) + " is unknown to PROJ";
            return "";
        }
    }
    const int model = static_cast<int>(number(r.keys, GEOKEY_MODEL_TYPE, 0));
    pj_object crs;
    if (model == 1 || (model == 0 && find_key(r.keys, GEOKEY_PROJECTED_TYPE) != nullptr))
        crs = projected_from_keys(&r);
    else if (model == 2 || (model == 0 && find_key(r.keys, GEOKEY_GEOGRAPHIC_TYPE) != nullptr))
        crs = geographic_from_keys(&r);
    else if (model == 3)
        r.problem = "a geocentric system, not a map's";
    else if (model != 0)
        r.problem = "GTModelTypeGeoKey " + std::to_string(model) + " is no model type GeoTIFF defines";
    if (!crs) {
        *problem = r.problem.empty() && model != 0 ? last_proj_message() : r.problem;
        return "";
    }
    return crs_text(crs.get());
}

geo_keys crs_geokeys(const std::string &crs)
{
    const pj_object object = crs_object(crs);
    if (!object)
        return geo_keys();
    PJ_CONTEXT *ctx = coordinates_context();
    const PJ_TYPE type = proj_get_type(object.get());
    const bool geographic = type == PJ_TYPE_GEOGRAPHIC_2D_CRS || type == PJ_TYPE_GEOGRAPHIC_3D_CRS;
    if (!geographic && type != PJ_TYPE_PROJECTED_CRS)
        return geo_keys();
    key_writer w;
    w.code(GEOKEY_MODEL_TYPE, geographic ? 2 : 1);
    w.code(GEOKEY_RASTER_TYPE, 1);
    const int epsg = crs_epsg_code(crs);
    if (geographic) {
        if (epsg > 0) {
            const pj_object registered = from_registry(epsg, PJ_CATEGORY_CRS);
            write_geographic(registered ? registered.get() : object.get(), &w);
        } else {
            write_geographic(object.get(), &w);
        }
        return w.packed();
    }
    w.words(GT_CITATION, name_or_unknown(object.get()));
    double factor = 1;
    const int unit_code = axis_unit(object.get(), &factor);
    if (epsg > 0) {
        w.code(GEOKEY_PROJECTED_TYPE, epsg);
        w.words(GEOG_CITATION, name_or_unknown(pj_object(proj_crs_get_geodetic_crs(ctx, object.get())).get()));
        w.code(GEOG_ANGULAR_UNITS, EPSG_DEGREE);
        w.code(PROJ_LINEAR_UNITS, unit_code > 0 ? unit_code : EPSG_METRE);
        return w.packed();
    }
    const pj_object base(proj_crs_get_geodetic_crs(ctx, object.get()));
    if (base)
        write_geographic(base.get(), &w);
    w.code(GEOKEY_PROJECTED_TYPE, USER_DEFINED);
    const pj_object conversion(proj_crs_get_coordoperation(ctx, object.get()));
    const int conversion_code = registry_number(conversion.get());
    w.code(PROJECTION, conversion_code > 0 ? conversion_code : USER_DEFINED);
    const bool spelt = write_projection(conversion.get(), factor > 0 ? factor : 1.0, &w);
    w.code(PROJ_LINEAR_UNITS, unit_code > 0 ? unit_code : USER_DEFINED);
    // A projection GeoTIFF has no number for: GDAL reads its WKT from the citation.
    const std::string esri = spelt ? "" : crs_prj_text(crs);
    if (!esri.empty())
        w.words(PCS_CITATION, PE_STRING + esri);
    return w.packed();
}
