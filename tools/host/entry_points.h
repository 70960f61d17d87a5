// The 71 entry points of a loaded libvostrelle.so, typed through the public
// header, for programs that load the library with dlopen as a host does.
#pragma once

#include <vostrelle.h>

#include <string>
#include <vector>

namespace vostrelle::host {

struct entry_points {
#define VOSTRELLE_HOST_STD_MEMBER(name, result, params, args)                                                \
    vostrelle_##name##_fn name;                                                                              \
    vostrelle_std##name##_fn std##name;
#define VOSTRELLE_HOST_C_MEMBER(name, result, params, args) vostrelle_c##name##_fn c##name;
    VOSTRELLE_BASE_ENTRY_POINTS(VOSTRELLE_HOST_STD_MEMBER)
    VOSTRELLE_BASE_ENTRY_POINTS(VOSTRELLE_HOST_C_MEMBER)
    VOSTRELLE_DOUBLE_ENTRY_POINTS(VOSTRELLE_HOST_STD_MEMBER)
};

// Every exported name, in table order: base, double, c…, std….
std::vector<std::string> entry_point_names();

// Looks every entry point up in `handle`; returns the names not found.
std::vector<std::string> resolve(void *handle, entry_points &api);

} // namespace vostrelle::host
