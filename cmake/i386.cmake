# The product: 32-bit x86 Linux, built with Debian's i686 cross compiler
# (g++-i686-linux-gnu), which lives beside the ARM cross compilers where the
# multilib compiler cannot. SSE2 is the CPU baseline (Pentium 4 and later);
# floating-point arithmetic runs in SSE registers so that float and double
# roundings happen exactly where the source asks for them.
set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
set(CMAKE_ASM_COMPILER i686-linux-gnu-gcc)
set(VOSTRELLE_I386_FLAGS "-msse2 -mfpmath=sse")
set(CMAKE_C_FLAGS_INIT "${VOSTRELLE_I386_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${VOSTRELLE_I386_FLAGS}")
# Test programs carry their C++ runtime, so that a 64-bit system runs them
# with nothing but an i386 C library (libc6-i386 or libc6:i386).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libstdc++ -static-libgcc")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(VOSTRELLE_TARGET_I386 ON)
