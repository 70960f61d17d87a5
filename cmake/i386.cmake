# The product: 32-bit x86 Linux. SSE2 is the CPU baseline (Pentium 4 and
# later); floating-point arithmetic runs in SSE registers so that float and
# double roundings happen exactly where the source asks for them.
set(VOSTRELLE_I386_FLAGS "-m32 -msse2 -mfpmath=sse")
set(CMAKE_C_FLAGS_INIT "${VOSTRELLE_I386_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${VOSTRELLE_I386_FLAGS}")
set(CMAKE_ASM_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(VOSTRELLE_TARGET_I386 ON)
