#ifdef ORMELIX_GDAL
#define ORMELIX_GDAL_LOADER
#include "gridfiles/gdal_library.h"

#ifdef ORMELIX_GDAL_LIBRARY
#include <dlfcn.h>

namespace {

struct loaded_gdal {
    gdal_functions functions;
    std::string fault;  // "" once every function is found
};

loaded_gdal load_gdal()
{
    loaded_gdal loaded;
    // Never closed: GDAL's drivers stay registered until the program exits.
    void *library = dlopen(ORMELIX_GDAL_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char *reason = dlerror();
        loaded.fault = reason != nullptr ? reason : ORMELIX_GDAL_LIBRARY " cannot be loaded";
        return loaded;
    }
#define ORMELIX_GDAL_FIND(name)                                                                                        \
    if (loaded.fault.empty()) {                                                                                        \
        loaded.functions.name = reinterpret_cast<decltype(loaded.functions.name)>(dlsym(library, #name));             \
        if (loaded.functions.name == nullptr)                                                                          \
            loaded.fault = ORMELIX_GDAL_LIBRARY " has no " #name;                                                      \
    }
    ORMELIX_GDAL_FUNCTIONS(ORMELIX_GDAL_FIND)
    ORMELIX_GDAL_FIND(CPLGetXMLNode)
#undef ORMELIX_GDAL_FIND
    return loaded;
}

const loaded_gdal &gdal_once()
{
    static const loaded_gdal loaded = load_gdal();
    return loaded;
}

} // namespace

const gdal_functions &gdal_library()
{
    return gdal_once().functions;
}

bool gdal_library_ready(std::string *why)
{
    *why = gdal_once().fault;
    return why->empty();
}

#else

bool gdal_library_ready(std::string *why)
{
    why->clear();
    return true;
}

#endif
#endif
