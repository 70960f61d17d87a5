// The page's files, built into the program (see cmake/Embed.cmake).
#pragma once

#include <string_view>
#include <vector>

namespace vostrelle::panel {

struct page_file {
    std::string_view url, type, body;
};

extern const std::vector<page_file> page_files;

} // namespace vostrelle::panel
