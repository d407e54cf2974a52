# Fails the build when a source file under src/ includes a header from a folder it does not
# build on (cmake/layers.cmake), in quotes or angle brackets, by its folder name or through a
# "../" path.
# Run as: cmake -DSOURCE_DIR=<src> -DSTAMP=<file> -P check_layers.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/layers.cmake)
get_filename_component(SOURCE_DIR "${SOURCE_DIR}" ABSOLUTE)

set(faults "")
foreach(folder ${tagrelay_layer_names})
    tagrelay_layer_reach(${folder} allowed)
    file(GLOB_RECURSE files "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp")
    foreach(path ${files})
        file(STRINGS "${path}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
        get_filename_component(here "${path}" DIRECTORY)
        foreach(line ${includes})
            string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[<\"]([^>\"]*)[>\"].*" "\\1" named
                                 "${line}")
            # A "../" path is resolved against the including file's folder; any other path
            # names its folder first (as the include path src/ resolves it).
            if(named MATCHES "^\\.\\./")
                get_filename_component(resolved "${here}/${named}" ABSOLUTE)
                file(RELATIVE_PATH named "${SOURCE_DIR}" "${resolved}")
            endif()
            if(named MATCHES "^\\.\\./")
                set(target "..") # outside src/ altogether
            elseif(named MATCHES "^([A-Za-z0-9_]+)/")
                set(target "${CMAKE_MATCH_1}")
                if(NOT target IN_LIST tagrelay_layer_names)
                    continue() # a library's own folder, such as <gst/gst.h>
                endif()
            else()
                continue() # a system header or one beside the file
            endif()
            if(NOT target IN_LIST allowed)
                file(RELATIVE_PATH shown "${SOURCE_DIR}" "${path}")
                string(APPEND faults "  ${shown}: ${line}\n")
            endif()
        endforeach()
    endforeach()
endforeach()

if(faults)
    message(FATAL_ERROR
            "Includes that run up the layers (the order is in cmake/layers.cmake):\n${faults}")
endif()
file(TOUCH "${STAMP}")
