#include "describe/result_text.h"

#include <cstring>

namespace vostrelle::describe {

namespace {
// Static storage: it exists before the loader runs the driver's initialiser.
char result_text[result_text_capacity];
} // namespace

const char *hand_back(const char *text)
{
    const std::size_t length = std::strlen(text);
    std::memcpy(result_text, text, length + 1);
    return result_text;
}

} // namespace vostrelle::describe
