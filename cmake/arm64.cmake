# 64-bit ARM (Raspberry Pi 3 and later with a 64-bit system), cross-built
# with Debian's g++-aarch64-linux-gnu; tests run under qemu-aarch64 with the
# cross sysroot.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_ASM_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
# The sysroot's libraries come first: where the same architecture's multiarch
# C library is installed too (libmosquitto-dev:arm64 brings it), the loader
# would otherwise take that one from the system's cache, of another build than
# the sysroot's loader, and the program hangs.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64;-L;/usr/aarch64-linux-gnu;-E;LD_LIBRARY_PATH=/usr/aarch64-linux-gnu/lib)
