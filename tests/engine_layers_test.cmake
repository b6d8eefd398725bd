# cmake -DSOURCE=<source dir> -DWORK=<scratch dir> -P engine_layers_test.cmake
# The build's check of the engine's layers: a tree whose includes keep to
# their layers passes, an include of a layer above, of a sibling layer or of
# the public header below the session stops it.
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/ExpectScriptResult.cmake)

function(check name file include expected_result)
  file(REMOVE_RECURSE ${WORK}/${name})
  file(WRITE ${WORK}/${name}/serial/Port.h "#include \"platform/File.h\"\n#include \"log/Log.h\"\n")
  file(WRITE ${WORK}/${name}/session/Session.cpp "#include \"download/Sequence.h\"\n#include \"fennix/fennix.h\"\n")
  file(WRITE ${WORK}/${name}/${file} "#include <vector>\n#include \"${include}\"\n")
  expect_script_result(${name} ${expected_result} -DENGINE=${WORK}/${name} -P ${SOURCE}/cmake/CheckLayers.cmake)
endfunction()

check(Downward download/Sequence.h serial/Port.h 0)
check(OwnLayer nv/Items.cpp nv/Items.h 0)
check(Upward download/Exchange.h session/FlowContext.h 1)
check(Sideways nv/Items.cpp download/Sequence.h 1)
check(PublicHeaderBelowSession serial/Port.cpp fennix/fennix.h 1)
check(LogIntoFiles log/Sink.cpp files/FileBytes.h 1)
