# Warnings, sanitizers and, for a 32-bit build on a kernel that cannot run
# 32-bit programs, the emulator through which ctest runs every test.
# VOSTRELLE_FORCE_EMULATOR makes the tool tests behave as on such a kernel
# wherever they run (tests/CMakeLists.txt, cmake/TestRunner.cmake).

set(VOSTRELLE_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
if(VOSTRELLE_WERROR)
  list(APPEND VOSTRELLE_WARNINGS -Werror)
endif()

if(VOSTRELLE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

option(VOSTRELLE_FORCE_EMULATOR "i386: the tool tests start programs under qemu-i386 only" OFF)
if(VOSTRELLE_FORCE_EMULATOR AND NOT VOSTRELLE_TARGET_I386)
  message(FATAL_ERROR "VOSTRELLE_FORCE_EMULATOR is for the i386 build")
endif()

if(VOSTRELLE_TARGET_I386)
  try_run(vostrelle_run_result vostrelle_compile_result
          ${CMAKE_BINARY_DIR}/can_run ${CMAKE_CURRENT_LIST_DIR}/can_run.c)
  if(NOT vostrelle_compile_result)
    message(FATAL_ERROR "Cannot build a 32-bit program: install g++-i686-linux-gnu")
  endif()
  set(VOSTRELLE_TOOLS_UNDER_EMULATOR OFF)
  if(VOSTRELLE_FORCE_EMULATOR OR NOT vostrelle_run_result STREQUAL "0")
    find_program(VOSTRELLE_QEMU qemu-i386 REQUIRED)
    set(VOSTRELLE_TOOLS_UNDER_EMULATOR ON)
  endif()
  if(NOT vostrelle_run_result STREQUAL "0")
    # The i386 C library of the system (libc6-i386 or libc6:i386), as a host
    # application would have it.
    set(CMAKE_CROSSCOMPILING_EMULATOR "${VOSTRELLE_QEMU};-L;/")
    message(STATUS "This kernel cannot run i386 programs: tests run under ${VOSTRELLE_QEMU}")
  endif()
endif()
