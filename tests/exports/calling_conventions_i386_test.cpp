// Machine-level check of every entry point on 32-bit x86: the bytes each one
// removes from the stack, where its result comes back, and that it works
// when called with a stack aligned to 4 bytes only.
#include <cstring>
#include <map>
#include <tuple>
#include <type_traits>

#include "board_fixture.h"
#include "signature.h"

extern "C" {
struct measured_call {
    unsigned removed;
    unsigned eax;
    double st0;
    unsigned returns_double;
};
void vostrelle_measure_call(const void *entry, const void *arguments, unsigned argument_bytes,
                            unsigned alignment, measured_call *record);
}

namespace {

using namespace vostrelle;

// Bytes removed by the callee-cleans form of each signature.
const std::map<std::string, unsigned> callee_removes{
    {"ea", 4},        {"ead", 4},       {"eb", 4},        {"nea", 4},       {"nead", 4},
    {"neb", 4},       {"nsa", 4},       {"nsad", 4},      {"nsb", 4},       {"rsa", 4},
    {"rsad", 4},      {"rsb", 4},       {"sa", 8},        {"sad", 12},      {"sb", 8},
    {"titre", 0},     {"detail", 0},    {"eadouble", 8},  {"ebdouble", 8},  {"neadouble", 8},
    {"nebdouble", 8}, {"nsadouble", 8}, {"nsbdouble", 8}, {"rsadouble", 8}, {"rsbdouble", 8},
    {"sadouble", 16}, {"sbdouble", 16},
};

class calling_conventions : public test::driver_without_board {
protected:
    // Calls `entry` once through its C++ type and once by hand with the
    // sample arguments 1 and 3, and compares.
    template <typename Fn> void check(const std::string &name, Fn entry, unsigned expected_removed)
    {
        using traits = test::signature<Fn>;
        typename traits::arguments sample{};
        std::vector<unsigned char> raw;
        int position = 0;
        std::apply(
            [&](auto &...argument) {
                ((argument =
                      static_cast<std::remove_reference_t<decltype(argument)>>(position++ == 0 ? 1 : 3),
                  raw.insert(raw.end(), reinterpret_cast<unsigned char *>(&argument),
                             reinterpret_cast<unsigned char *>(&argument) + sizeof argument)),
                 ...);
            },
            sample);
        for (const unsigned alignment : {0u, 4u, 8u, 12u}) {
            SCOPED_TRACE(name + " with the stack at " + std::to_string(alignment) + " mod 16");
            const auto expected = std::apply(entry, sample);
            std::string expected_text;
            if constexpr (std::is_same_v<typename traits::result, const char *>)
                expected_text = expected;
            measured_call record{};
            record.returns_double = std::is_same_v<typename traits::result, double>;
            vostrelle_measure_call(reinterpret_cast<const void *>(entry), raw.data(),
                                   static_cast<unsigned>(raw.size()), alignment, &record);
            EXPECT_EQ(record.removed, expected_removed);
            if constexpr (std::is_same_v<typename traits::result, double>)
                EXPECT_EQ(record.st0, expected);
            else if constexpr (std::is_same_v<typename traits::result, int>)
                EXPECT_EQ(static_cast<int>(record.eax), expected);
            else
                EXPECT_EQ(reinterpret_cast<const char *>(record.eax), expected_text);
        }
    }
};

TEST_F(calling_conventions, every_entry_point_cleans_the_stack_as_its_family_says)
{
    const auto &e = api();
    int checked = 0;
#define CHECK_CALLEE_CLEANS(name, result, params, args)                                                      \
    check(#name, e.name, callee_removes.at(#name));                                                          \
    check("std" #name, e.std##name, callee_removes.at(#name));                                               \
    checked += 2;
#define CHECK_CALLER_CLEANS(name, result, params, args)                                                      \
    check("c" #name, e.c##name, 0);                                                                          \
    ++checked;
    VOSTRELLE_BASE_ENTRY_POINTS(CHECK_CALLEE_CLEANS)
    VOSTRELLE_DOUBLE_ENTRY_POINTS(CHECK_CALLEE_CLEANS)
    VOSTRELLE_BASE_ENTRY_POINTS(CHECK_CALLER_CLEANS)
    EXPECT_EQ(checked, 71);
}

} // namespace
