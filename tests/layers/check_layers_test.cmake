# Runs the layer check over small planted trees: a clean one passes; a reader that includes
# the walk by angle brackets, through "../", or a folder outside src/ fails, each named.
# Run as: cmake -DCHECK=<check_layers.cmake> -DWORK=<scratch folder> -P check_layers_test.cmake
cmake_minimum_required(VERSION 3.25)

function(plant tree file text)
    file(WRITE "${WORK}/${tree}/src/${file}" "${text}\n")
endfunction()

function(run_check tree out_result out_output)
    execute_process(
        COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${WORK}/${tree}/src -DSTAMP=${WORK}/${tree}/stamp
                -P ${CHECK}
        RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    set(${out_result} ${result} PARENT_SCOPE)
    set(${out_output} "${output}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${WORK}")

plant(clean tags/id3v2.cpp "#include \"tags/id3v2.h\"\n#include \"platform/byte_reader.h\"\n#include <gst/gst.h>\n#include <vector>")
plant(clean scan/walk.cpp "#include \"scan/walk.h\"\n#include <mpeg/stream_scan.h>\n#include \"../picture/resize.h\"")
run_check(clean result output)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "a clean tree failed the check:\n${output}")
endif()

plant(hidden tags/a.cpp "#include <scan/walk.h>")
plant(hidden tags/b.cpp "#  include \"../scan/walk.h\"")
plant(hidden picture/c.cpp "#include \"movie/movie_service.h\"")
plant(hidden scan/d.cpp "#include \"../../apps/cli/console_reporter.h\"")
plant(hidden scan/e.cpp "#include \"window/window_layer.h\"")
run_check(hidden result output)
if(result EQUAL 0)
    message(FATAL_ERROR "back includes passed the check")
endif()
foreach(fault "tags/a.cpp: #include <scan/walk.h>" "tags/b.cpp: #  include \"../scan/walk.h\""
              "picture/c.cpp" "scan/d.cpp" "scan/e.cpp")
    string(FIND "${output}" "${fault}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "the check did not name ${fault}:\n${output}")
    endif()
endforeach()
