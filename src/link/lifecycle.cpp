// The loader's hooks. Kept apart from the rest of the link code so that
// test programs can use the serial line without opening the board.
#include "link/driver_state.h"

namespace {

__attribute__((constructor)) void on_library_load()
{
    vostrelle::link::load_driver();
}

__attribute__((destructor)) void on_library_unload()
{
    vostrelle::link::unload_driver();
}

} // namespace
