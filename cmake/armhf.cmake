# 32-bit ARM with hardware floating point (older Raspberry Pi systems),
# cross-built with Debian's g++-arm-linux-gnueabihf; tests run under qemu-arm
# with the cross sysroot.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_ASM_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
# The sysroot's libraries come first: where the same architecture's multiarch
# C library is installed too (libmosquitto-dev:armhf brings it), the loader
# would otherwise take that one from the system's cache, of another build than
# the sysroot's loader, and the program hangs.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm;-L;/usr/arm-linux-gnueabihf;-E;LD_LIBRARY_PATH=/usr/arm-linux-gnueabihf/lib)
