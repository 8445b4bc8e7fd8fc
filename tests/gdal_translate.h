// gdal_translate in the tests: a real DEM copied by GDAL into another form, frame or size,
// the expected values coming from GDAL rather than from the program.
#ifndef ORMELIX_TEST_GDAL_TRANSLATE_H
#define ORMELIX_TEST_GDAL_TRANSLATE_H

#ifdef ORMELIX_GDAL
#include <cpl_error.h>
#include <gdal.h>
#include <gdal_utils.h>

#include <string>
#include <vector>

namespace e2e {

// GDALTranslate with gdal_translate's arguments (its warnings kept quiet); false when
// GDAL fails.
inline bool gdal_translate(const std::string &from, const std::string &to, std::vector<std::string> arguments)
{
    GDALAllRegister();
    std::vector<char *> argv;
    for (std::string &a : arguments)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    GDALTranslateOptions *options = GDALTranslateOptionsNew(argv.data(), nullptr);
    GDALDatasetH source = GDALOpen(from.c_str(), GA_ReadOnly);
    GDALDatasetH made = nullptr;
    if (source != nullptr && options != nullptr) {
        CPLPushErrorHandler(CPLQuietErrorHandler);
        made = GDALTranslate(to.c_str(), source, options, nullptr);
        CPLPopErrorHandler();
    }
    if (options != nullptr)
        GDALTranslateOptionsFree(options);
    // A VRT made refers to its source until it is closed.
    if (made != nullptr)
        GDALClose(made);
    if (source != nullptr)
        GDALClose(source);
    return made != nullptr;
}

} // namespace e2e

#endif
#endif
