# What `cmake --install` puts into a prefix: the library, its header, the
# programs, a CMake package (find_package(Fennix) -> Fennix::Fennix), a
# pkg-config file and the documentation. Tests, the virtual device and the
# benchmark stay in the build tree.
include(CMakePackageConfigHelpers)

set(FENNIX_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Fennix)

install(TARGETS Fennix EXPORT FennixTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/engine/include/fennix/fennix.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/fennix)

# The programs, as far as this build makes them (the Windows ones on Windows).
foreach(program Tarnwell Quillon fennix)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
if(TARGET fennix AND NOT WIN32)
  # Finds the library of its own prefix wherever that prefix was installed.
  file(RELATIVE_PATH FENNIX_BIN_TO_LIB /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
  # One RUNPATH for the build and the install tree, both relative to the
  # program: a RUNPATH that CMake edits at install is linked with an empty
  # element after it, which the loader reads as the folder the program was
  # started in. The second element finds the build tree's library.
  get_target_property(FENNIX_TOOL_DIR fennix BINARY_DIR)
  get_target_property(FENNIX_LIBRARY_DIR Fennix BINARY_DIR)
  file(RELATIVE_PATH FENNIX_TOOL_TO_ENGINE ${FENNIX_TOOL_DIR} ${FENNIX_LIBRARY_DIR})
  set_target_properties(fennix PROPERTIES BUILD_WITH_INSTALL_RPATH ON
    INSTALL_RPATH "$ORIGIN/${FENNIX_BIN_TO_LIB};$ORIGIN/${FENNIX_TOOL_TO_ENGINE}")
endif()

install(EXPORT FennixTargets NAMESPACE Fennix:: DESTINATION ${FENNIX_CMAKE_PACKAGE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/FennixConfig.cmake.in
  ${PROJECT_BINARY_DIR}/generated/FennixConfig.cmake
  INSTALL_DESTINATION ${FENNIX_CMAKE_PACKAGE_DIR})
# The exported functions are the interface: a new major version changes them.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/generated/FennixConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/generated/FennixConfig.cmake
              ${PROJECT_BINARY_DIR}/generated/FennixConfigVersion.cmake
  DESTINATION ${FENNIX_CMAKE_PACKAGE_DIR})

# pkg-config: the prefix is found from the file's own place, so the tree can
# be installed under any prefix (or unpacked anywhere).
file(RELATIVE_PATH FENNIX_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/fennix.pc.in ${PROJECT_BINARY_DIR}/generated/fennix.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/generated/fennix.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${FENNIX_INSTALL_DOCDIR})
# The README's links into docs/ resolve beside it.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${FENNIX_INSTALL_DOCDIR}/docs FILES_MATCHING PATTERN "*.md")
# The udev rule is an example: it takes effect only once copied to /etc/udev/rules.d.
# The item list and the duck file are the examples docs/formats.md links to.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/udev/60-fennix.rules ${PROJECT_SOURCE_DIR}/examples/list-and-backup.c
              ${PROJECT_SOURCE_DIR}/examples/CMakeLists.txt ${PROJECT_SOURCE_DIR}/examples/nv-items.csv
              ${PROJECT_SOURCE_DIR}/examples/example.duck
  DESTINATION ${FENNIX_INSTALL_DOCDIR}/examples)
# The station's service unit and its config file are examples too: a unit
# takes effect only once copied to /etc/systemd/system (the station is Linux only).
if(TARGET fennix AND NOT WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/systemd/fennix-station.service
                ${PROJECT_SOURCE_DIR}/packaging/systemd/station.toml
    DESTINATION ${FENNIX_INSTALL_DOCDIR}/examples)
endif()
