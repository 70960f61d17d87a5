// Where every text the driver returns is placed. A text stays valid until
// the host's next call of any entry point.
#pragma once

#include <cstddef>

namespace vostrelle::describe {

// The longest text the driver returns, with room for its NUL.
inline constexpr std::size_t result_text_capacity = 64;

// Copies `text` (NUL-terminated, shorter than the capacity) into the
// buffer and returns the copy.
const char *hand_back(const char *text);

} // namespace vostrelle::describe
