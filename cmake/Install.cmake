# cmake --install: library, header, tools, pkg-config file, CMake package and
# the Python package, in four components that become the four Debian packages
# (scripts/package.sh): library (libvostrelle1), development
# (libvostrelle-dev), tools (vostrelle-tools), python (python3-vostrelle).
include(CMakePackageConfigHelpers)

install(TARGETS vostrelle EXPORT vostrelleTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library NAMELINK_COMPONENT development
        PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
install(TARGETS vostrelle-probe vostrelle-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
install(FILES packaging/examples/channels.toml DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/vostrelle-tools/examples
        COMPONENT tools)
if(VOSTRELLE_PANEL)
  install(TARGETS vostrelle-panel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
endif()
# The bridge with its service, which the package leaves disabled, and the
# service's options (a conffile).
if(TARGET vostrelle-mqtt)
  install(TARGETS vostrelle-mqtt RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
  install(FILES packaging/systemd/vostrelle-mqtt@.service DESTINATION /lib/systemd/system COMPONENT tools)
  install(FILES packaging/default/vostrelle-mqtt DESTINATION /etc/default COMPONENT tools)
endif()

set(VOSTRELLE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vostrelle)
install(EXPORT vostrelleTargets NAMESPACE vostrelle:: DESTINATION ${VOSTRELLE_CMAKE_DIR} COMPONENT development)
configure_package_config_file(cmake/vostrelleConfig.cmake.in ${PROJECT_BINARY_DIR}/vostrelleConfig.cmake
                              INSTALL_DESTINATION ${VOSTRELLE_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/vostrelleConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/vostrelleConfig.cmake ${PROJECT_BINARY_DIR}/vostrelleConfigVersion.cmake
        DESTINATION ${VOSTRELLE_CMAKE_DIR} COMPONENT development)

# The pkg-config file finds its prefix from where it lies, so that a staged
# or relocated installation works as well as the final one.
file(RELATIVE_PATH VOSTRELLE_PC_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" VOSTRELLE_PC_PREFIX "${VOSTRELLE_PC_PREFIX}")
configure_file(cmake/vostrelle.pc.in ${PROJECT_BINARY_DIR}/vostrelle.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vostrelle.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

# Pure Python, where Debian's python3 looks; its examples beside its documentation.
set(VOSTRELLE_PYTHON_DIR lib/python3/dist-packages CACHE STRING "Python package directory, under the prefix")
install(DIRECTORY python/vostrelle DESTINATION ${VOSTRELLE_PYTHON_DIR} COMPONENT python
        FILES_MATCHING PATTERN "*.py" PATTERN "__pycache__" EXCLUDE)
file(WRITE ${PROJECT_BINARY_DIR}/python/_installed_version.py "VERSION = \"${PROJECT_VERSION}\"\n")
install(FILES ${PROJECT_BINARY_DIR}/python/_installed_version.py DESTINATION ${VOSTRELLE_PYTHON_DIR}/vostrelle
        COMPONENT python)
install(DIRECTORY python/examples/ DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/python3-vostrelle/examples
        COMPONENT python FILES_MATCHING PATTERN "*.py")
