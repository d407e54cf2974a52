# Fails the build when a source file includes a header from a folder above its own.
# Run as: cmake -DSOURCE_DIR=<src> -DSTAMP=<file> -P check_layers.cmake
#
# The folders build on each other in this order; each may include only itself and the folders
# it builds on, so the readers never reach the walk, the window or the shell.
set(allowed_platform platform)
set(allowed_media media platform)
set(allowed_window window media platform)
set(allowed_tags tags media platform)
set(allowed_mpeg mpeg tags media platform)
set(allowed_scan scan tags mpeg media window platform)
set(allowed_shell shell scan tags mpeg media window platform)

set(faults "")
foreach(folder platform media window tags mpeg scan shell)
    file(GLOB_RECURSE files "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp")
    foreach(path ${files})
        file(STRINGS "${path}" includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"[a-z_]+/")
        foreach(line ${includes})
            string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([a-z_]+)/.*" "\\1" target "${line}")
            list(FIND allowed_${folder} "${target}" at)
            if(at EQUAL -1)
                file(RELATIVE_PATH shown "${SOURCE_DIR}" "${path}")
                string(APPEND faults "  ${shown}: ${line}\n")
            endif()
        endforeach()
    endforeach()
endforeach()

if(faults)
    message(FATAL_ERROR "Includes that run up the layers (see cmake/check_layers.cmake):\n${faults}")
endif()
file(TOUCH "${STAMP}")
