# cmake --install: library, header, tools, pkg-config file, CMake package.
# cpack: a Debian package of all of it for the build's architecture.
include(CMakePackageConfigHelpers)

install(TARGETS vostrelle EXPORT vostrelleTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS vostrelle-probe vostrelle-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(VOSTRELLE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vostrelle)
install(EXPORT vostrelleTargets NAMESPACE vostrelle:: DESTINATION ${VOSTRELLE_CMAKE_DIR})
configure_package_config_file(cmake/vostrelleConfig.cmake.in ${PROJECT_BINARY_DIR}/vostrelleConfig.cmake
                              INSTALL_DESTINATION ${VOSTRELLE_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/vostrelleConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/vostrelleConfig.cmake ${PROJECT_BINARY_DIR}/vostrelleConfigVersion.cmake
        DESTINATION ${VOSTRELLE_CMAKE_DIR})

# The pkg-config file finds its prefix from where it lies, so that a staged
# or relocated installation works as well as the final one.
file(RELATIVE_PATH VOSTRELLE_PC_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" VOSTRELLE_PC_PREFIX "${VOSTRELLE_PC_PREFIX}")
configure_file(cmake/vostrelle.pc.in ${PROJECT_BINARY_DIR}/vostrelle.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vostrelle.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vostrelle)
set(CPACK_PACKAGE_VENDOR "Vostrelle driver maintainers")
set(CPACK_PACKAGE_CONTACT "Vostrelle driver maintainers <maintainers@vostrelle.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION "Driver library for the Vostrelle data-acquisition board (libvostrelle.so),
its C header, the vostrelle-probe host and the vostrelle-sim simulated board.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
else()
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
endif()
# The library and the tools need only the C library (the tools carry their
# C++ runtime inside).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34)")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
