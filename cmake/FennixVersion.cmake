# The one version of the toolkit (project(... VERSION) in the top CMakeLists.txt)
# carried into what needs it: a header for programs that print it, and a
# version resource in every Windows binary (Explorer's Details tab).

# fennix_version: an interface target; linking it makes "fennix/version.h"
# (FENNIX_VERSION_STRING and its parts) includable.
set(FENNIX_GENERATED_INCLUDE_DIR ${PROJECT_BINARY_DIR}/generated/include)
configure_file(${CMAKE_CURRENT_LIST_DIR}/version.h.in ${FENNIX_GENERATED_INCLUDE_DIR}/fennix/version.h @ONLY)
add_library(fennix_version INTERFACE)
target_include_directories(fennix_version INTERFACE $<BUILD_INTERFACE:${FENNIX_GENERATED_INCLUDE_DIR}>)

# fennix_add_version_resource(<target> <description>)
# Gives a Windows DLL or program the version resource of cmake/version.rc.in.
# Does nothing elsewhere.
function(fennix_add_version_resource target description)
  if(NOT WIN32)
    return()
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    set(FENNIX_RC_FILETYPE VFT_DLL)
    set(FENNIX_RC_FILENAME ${target}.dll)
  else()
    set(FENNIX_RC_FILETYPE VFT_APP)
    set(FENNIX_RC_FILENAME ${target}.exe)
  endif()
  set(FENNIX_RC_TARGET ${target})
  set(FENNIX_RC_DESCRIPTION "${description}")
  set(rc ${PROJECT_BINARY_DIR}/generated/version-rc/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
