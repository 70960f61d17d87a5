// A host's whole life with the driver, for valgrind: load, use every kind of
// entry point, unload, three times over, with no board.
#include <cstdio>
#include <cstring>
#include <dlfcn.h>

#include "entry_points.h"

int main(int argc, char **argv)
{
    const char *library = argc > 1 ? argv[1] : "libvostrelle.so";
    for (int cycle = 0; cycle < 3; ++cycle) {
        void *handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            std::fprintf(stderr, "%s\n", dlerror());
            return 1;
        }
        vostrelle::host::entry_points api{};
        if (!vostrelle::host::resolve(handle, api).empty())
            return 1;
        int failures = 0;
        failures += std::strcmp(api.detail(), api.stddetail()) != 0;
        failures += api.sa(1, 1000) != 500;
        failures += api.ea(0) != 1000;
        failures += api.eadouble(0.2) != 1000 * 5.0 / 1023;
        failures += api.sbdouble(8.0, 3.0) != 3.0;
        failures += api.crsb(8) != 3;
        failures += api.stdneadouble(1e300)[0] != '\0';
        dlclose(handle);
        if (failures || dlopen(library, RTLD_NOW | RTLD_NOLOAD)) {
            std::fprintf(stderr, "cycle %d: %d failures, or the library stayed loaded\n", cycle, failures);
            return 1;
        }
    }
    std::puts("3 load-use-unload cycles");
    return 0;
}
