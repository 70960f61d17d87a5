# The runner through which the tool tests start every program built here
# (run-target in the build directory, from tests/support/run-target.in), and
# the programs they are given. With VOSTRELLE_FORCE_EMULATOR those programs
# are copies whose ELF interpreter does not exist: started directly they fail
# even on a kernel that runs i386 programs, so a start that skips the runner
# fails the tests on every machine. qemu-i386 finds that interpreter under
# the runner's root (-L) and everything else in the real system. The copies
# live apart from the programs that get installed and packaged.

set(VOSTRELLE_RUNNER ${CMAKE_BINARY_DIR}/run-target)
set(VOSTRELLE_NO_NATIVE_INTERPRETER /vostrelle-no-native/ld-linux.so.2)
set(VOSTRELLE_NO_NATIVE_DIR ${CMAKE_BINARY_DIR}/no-native)

set(VOSTRELLE_RUNNER_EMULATED "")
set(VOSTRELLE_RUNNER_COMMAND "")
set(VOSTRELLE_RUNNER_WHY "directly: this kernel runs them")
if(VOSTRELLE_TOOLS_UNDER_EMULATOR)
  set(root ${CMAKE_BINARY_DIR}/emulator-root)
  file(MAKE_DIRECTORY ${root}/vostrelle-no-native)
  file(CREATE_LINK /lib/ld-linux.so.2 ${root}${VOSTRELLE_NO_NATIVE_INTERPRETER} SYMBOLIC)
  set(VOSTRELLE_RUNNER_EMULATED yes)
  set(VOSTRELLE_RUNNER_COMMAND "'${VOSTRELLE_QEMU}' -L '${root}'")
  set(VOSTRELLE_RUNNER_WHY "under qemu-i386: this kernel cannot run i386 programs")
  if(VOSTRELLE_FORCE_EMULATOR)
    set(VOSTRELLE_RUNNER_WHY "under qemu-i386: VOSTRELLE_FORCE_EMULATOR forbids a native start")
  endif()
elseif(CMAKE_CROSSCOMPILING_EMULATOR)
  set(VOSTRELLE_RUNNER_EMULATED yes)
  list(JOIN CMAKE_CROSSCOMPILING_EMULATOR "' '" words)
  set(VOSTRELLE_RUNNER_COMMAND "'${words}'")
  set(VOSTRELLE_RUNNER_WHY "under ${CMAKE_CROSSCOMPILING_EMULATOR}")
endif()
# Other users start programs through it too (setpriv, in field_test.sh).
configure_file(${PROJECT_SOURCE_DIR}/tests/support/run-target.in ${VOSTRELLE_RUNNER} @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)

if(VOSTRELLE_FORCE_EMULATOR)
  find_program(VOSTRELLE_PATCHELF patchelf REQUIRED)
endif()

# Where the kernel runs i386 programs, the forced mode's build also runs the
# field test on the programs themselves, natively, through this runner: its
# set-user-ID host is the product's, and only a native start can be that.
set(VOSTRELLE_NATIVE_RUNNER "")
if(VOSTRELLE_FORCE_EMULATOR AND vostrelle_run_result STREQUAL "0")
  set(VOSTRELLE_NATIVE_RUNNER ${CMAKE_BINARY_DIR}/run-target-native)
  set(VOSTRELLE_RUNNER_EMULATED "")
  set(VOSTRELLE_RUNNER_COMMAND "")
  set(VOSTRELLE_RUNNER_WHY "directly: this kernel runs them")
  configure_file(${PROJECT_SOURCE_DIR}/tests/support/run-target.in ${VOSTRELLE_NATIVE_RUNNER} @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
endif()

# vostrelle_test_program(VARIABLE TARGET): VARIABLE becomes the program the
# tool tests start for TARGET. A copy of a program that loads the driver
# finds it where an installed one would, beside its own directory.
function(vostrelle_test_program variable target)
  if(NOT VOSTRELLE_FORCE_EMULATOR)
    set(${variable} $<TARGET_FILE:${target}> PARENT_SCOPE)
    return()
  endif()
  set(copy ${VOSTRELLE_NO_NATIVE_DIR}/bin/${target})
  set(library_dir ${VOSTRELLE_NO_NATIVE_DIR}/${CMAKE_INSTALL_LIBDIR})
  add_custom_command(OUTPUT ${copy}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VOSTRELLE_NO_NATIVE_DIR}/bin ${library_dir}
    COMMAND ${CMAKE_COMMAND} -E create_symlink $<TARGET_SONAME_FILE:vostrelle>
            ${library_dir}/$<TARGET_SONAME_FILE_NAME:vostrelle>
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${target}> ${copy}
    COMMAND ${VOSTRELLE_PATCHELF} --set-interpreter ${VOSTRELLE_NO_NATIVE_INTERPRETER} ${copy}
    DEPENDS ${target} vostrelle VERBATIM)
  add_custom_target(${target}_no_native ALL DEPENDS ${copy})
  set(${variable} ${copy} PARENT_SCOPE)
endfunction()
