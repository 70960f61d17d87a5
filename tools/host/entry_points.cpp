#include "entry_points.h"

#include <dlfcn.h>

namespace vostrelle::host {

namespace {

template <typename Pointer>
void look_up(void *handle, Pointer &pointer, const char *name, std::vector<std::string> &missing)
{
    pointer = reinterpret_cast<Pointer>(dlsym(handle, name));
    if (!pointer)
        missing.emplace_back(name);
}

} // namespace

std::vector<std::string> entry_point_names()
{
    std::vector<std::string> names;
#define VOSTRELLE_HOST_NAME(name, result, params, args) names.push_back(#name);
#define VOSTRELLE_HOST_C_NAME(name, result, params, args) names.push_back("c" #name);
#define VOSTRELLE_HOST_STD_NAME(name, result, params, args) names.push_back("std" #name);
    VOSTRELLE_BASE_ENTRY_POINTS(VOSTRELLE_HOST_NAME)
    VOSTRELLE_DOUBLE_ENTRY_POINTS(VOSTRELLE_HOST_NAME)
    VOSTRELLE_BASE_ENTRY_POINTS(VOSTRELLE_HOST_C_NAME)
    VOSTRELLE_BASE_ENTRY_POINTS(VOSTRELLE_HOST_STD_NAME)
    VOSTRELLE_DOUBLE_ENTRY_POINTS(VOSTRELLE_HOST_STD_NAME)
    return names;
}

std::vector<std::string> resolve(void *handle, entry_points &api)
{
    std::vector<std::string> missing;
#define VOSTRELLE_HOST_RESOLVE(name, result, params, args)                                                   \
    look_up(handle, api.name, #name, missing);                                                               \
    look_up(handle, api.std##name, "std" #name, missing);
#define VOSTRELLE_HOST_RESOLVE_C(name, result, params, args) look_up(handle, api.c##name, "c" #name, missing);
    VOSTRELLE_BASE_ENTRY_POINTS(VOSTRELLE_HOST_RESOLVE)
    VOSTRELLE_BASE_ENTRY_POINTS(VOSTRELLE_HOST_RESOLVE_C)
    VOSTRELLE_DOUBLE_ENTRY_POINTS(VOSTRELLE_HOST_RESOLVE)
    return missing;
}

} // namespace vostrelle::host
