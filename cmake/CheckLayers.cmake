# cmake -DENGINE=<engine folder> [-DSTAMP=<file>] -P CheckLayers.cmake
# Fails on an #include "<folder>/..." in a layer of the engine that names a
# folder of the engine the layer may not use (cmake/FennixLayers.cmake); the
# public header fennix/fennix.h belongs to the session layer. Touches STAMP
# when every include keeps to its layer.
cmake_policy(VERSION 3.16)
include(${CMAKE_CURRENT_LIST_DIR}/FennixLayers.cmake)

set(problems "")
foreach(layer IN LISTS FENNIX_LAYERS)
  set(allowed ${layer} ${FENNIX_LAYER_${layer}_USES})
  if(layer STREQUAL "session")
    list(APPEND allowed fennix)
  endif()
  file(GLOB_RECURSE files "${ENGINE}/${layer}/*.h" "${ENGINE}/${layer}/*.cpp")
  list(SORT files)
  foreach(file IN LISTS files)
    file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"/]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"/]+)/.*" "\\1" folder "${line}")
      if(NOT folder IN_LIST allowed)
        file(RELATIVE_PATH where "${ENGINE}" "${file}")
        string(APPEND problems "  ${where}: ${line} (${layer} may use: ${FENNIX_LAYER_${layer}_USES})\n")
      endif()
    endforeach()
  endforeach()
endforeach()

if(problems)
  message(FATAL_ERROR "Includes that leave their layer of the engine:\n${problems}")
endif()
if(STAMP)
  file(TOUCH "${STAMP}")
endif()
