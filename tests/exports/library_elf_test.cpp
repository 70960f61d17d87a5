// What the built libvostrelle.so shows a loader: its symbols, its needs and
// its hardening, read straight from the ELF file.
#include <gtest/gtest.h>

#include <algorithm>
#include <elf.h>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "driver.h"

namespace {

struct library_image {
    std::set<std::string> defined_functions;
    std::set<std::string> defined_other;
    std::set<std::string> imported;
    std::vector<std::string> needed;
    bool bind_now = false;
    bool text_relocations = false;
    bool no_delete = false;
    bool relro = false;
    bool executable_stack = true;
    bool unique_symbols = false;
};

template <typename Ehdr, typename Phdr, typename Shdr, typename Sym, typename Dyn>
library_image read_image(const std::vector<char> &file)
{
    library_image image;
    const auto *header = reinterpret_cast<const Ehdr *>(file.data());
    const auto *programs = reinterpret_cast<const Phdr *>(file.data() + header->e_phoff);
    for (int i = 0; i < header->e_phnum; ++i) {
        if (programs[i].p_type == PT_GNU_RELRO)
            image.relro = true;
        if (programs[i].p_type == PT_GNU_STACK)
            image.executable_stack = programs[i].p_flags & PF_X;
    }
    const auto *sections = reinterpret_cast<const Shdr *>(file.data() + header->e_shoff);
    for (int i = 0; i < header->e_shnum; ++i) {
        const Shdr &section = sections[i];
        const char *strings = file.data() + sections[section.sh_link].sh_offset;
        if (section.sh_type == SHT_DYNSYM) {
            const auto *symbols = reinterpret_cast<const Sym *>(file.data() + section.sh_offset);
            for (std::size_t n = 1; n < section.sh_size / sizeof(Sym); ++n) {
                const Sym &symbol = symbols[n];
                const std::string name = strings + symbol.st_name;
                const int binding = symbol.st_info >> 4, type = symbol.st_info & 0xF;
                image.unique_symbols |= binding == STB_GNU_UNIQUE;
                if (name.empty())
                    continue; // section symbols some targets list
                if (symbol.st_shndx == SHN_UNDEF)
                    image.imported.insert(name);
                else if (type == STT_FUNC && binding == STB_GLOBAL)
                    image.defined_functions.insert(name);
                else
                    image.defined_other.insert(name);
            }
        }
        if (section.sh_type == SHT_DYNAMIC) {
            const auto *entries = reinterpret_cast<const Dyn *>(file.data() + section.sh_offset);
            for (std::size_t n = 0; n < section.sh_size / sizeof(Dyn) && entries[n].d_tag != DT_NULL; ++n) {
                const Dyn &entry = entries[n];
                if (entry.d_tag == DT_NEEDED)
                    image.needed.push_back(strings + entry.d_un.d_val);
                if (entry.d_tag == DT_TEXTREL || (entry.d_tag == DT_FLAGS && (entry.d_un.d_val & DF_TEXTREL)))
                    image.text_relocations = true;
                if ((entry.d_tag == DT_FLAGS && (entry.d_un.d_val & DF_BIND_NOW)) ||
                    (entry.d_tag == DT_FLAGS_1 && (entry.d_un.d_val & DF_1_NOW)))
                    image.bind_now = true;
                if (entry.d_tag == DT_FLAGS_1 && (entry.d_un.d_val & DF_1_NODELETE))
                    image.no_delete = true;
            }
        }
    }
    return image;
}

library_image read_library()
{
    std::ifstream in(vostrelle::test::library_path(), std::ios::binary);
    const std::vector<char> file{std::istreambuf_iterator<char>(in), {}};
    EXPECT_GT(file.size(), static_cast<std::size_t>(EI_NIDENT));
    if (file[EI_CLASS] == ELFCLASS32)
        return read_image<Elf32_Ehdr, Elf32_Phdr, Elf32_Shdr, Elf32_Sym, Elf32_Dyn>(file);
    return read_image<Elf64_Ehdr, Elf64_Phdr, Elf64_Shdr, Elf64_Sym, Elf64_Dyn>(file);
}

TEST(library_elf, exports_exactly_the_71_entry_points_as_functions)
{
    const library_image image = read_library();
    const auto names = vostrelle::test::entry_point_names();
    const std::set<std::string> expected(names.begin(), names.end());
    ASSERT_EQ(expected.size(), 71u);
    EXPECT_EQ(image.defined_functions, expected);
    EXPECT_EQ(image.defined_other, std::set<std::string>{}) << "no data or other symbol is exported";
}

TEST(library_elf, needs_nothing_but_libc)
{
#if VOSTRELLE_SANITIZED
    GTEST_SKIP() << "a sanitized build needs its runtimes";
#endif
    // Some targets (aarch64) take the stack protector's guard from the
    // dynamic loader, which every process has.
    const auto needed = read_library().needed;
    EXPECT_EQ(std::count(needed.begin(), needed.end(), "libc.so.6"), 1);
    for (const std::string &name : needed)
        EXPECT_TRUE(name == "libc.so.6" || name.starts_with("ld-linux")) << "the library needs " << name;
}

TEST(library_elf, allocates_nothing_because_it_imports_no_allocator)
{
#if VOSTRELLE_SANITIZED
    GTEST_SKIP() << "a sanitized build imports the sanitizers' own hooks";
#endif
    const std::set<std::string> allocators{
        "malloc",   "calloc", "realloc", "reallocarray", "free",    "posix_memalign", "aligned_alloc",
        "memalign", "valloc", "strdup",  "strndup",      "_Znwm",   "_Znwj",          "_Znam",
        "_Znaj",    "_ZdlPv", "_ZdaPv",  "_ZdlPvm",      "_ZdlPvj", "fopen",          "asprintf"};
    for (const std::string &name : read_library().imported)
        EXPECT_FALSE(allocators.count(name)) << "the library imports " << name;
}

TEST(library_elf, is_hardened_and_can_be_unloaded)
{
    const library_image image = read_library();
    EXPECT_TRUE(image.relro);
    EXPECT_TRUE(image.bind_now);
    EXPECT_FALSE(image.executable_stack);
    EXPECT_FALSE(image.text_relocations);
    EXPECT_FALSE(image.no_delete);
    EXPECT_FALSE(image.unique_symbols) << "a unique symbol pins the library in memory";
#if !VOSTRELLE_SANITIZED
    EXPECT_TRUE(image.imported.count("__stack_chk_fail")) << "built without a stack protector";
    EXPECT_TRUE(std::any_of(image.imported.begin(), image.imported.end(), [](const std::string &name) {
        return name.ends_with("_chk");
    })) << "built without _FORTIFY_SOURCE";
#endif
}

} // namespace
