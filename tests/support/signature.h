// The argument and result types of an entry point's pointer type, for either
// calling convention.
#pragma once

#include <tuple>

namespace vostrelle::test {

template <typename F> struct signature;
#if defined(__i386__)
template <typename R, typename... A> struct signature<R(__attribute__((stdcall)) *)(A...)> {
    using result = R;
    using arguments = std::tuple<A...>;
};
#endif
template <typename R, typename... A> struct signature<R (*)(A...)> {
    using result = R;
    using arguments = std::tuple<A...>;
};

} // namespace vostrelle::test
