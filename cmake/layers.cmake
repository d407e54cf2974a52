# The folders under src/ and the folders each one builds on, lowest first. This is the one
# place the order is written: CMakeLists.txt makes one library of each folder linking the
# folders named here, and check_layers.cmake fails the build on an include of any folder that
# is neither the file's own nor one it builds on (directly or through another).
set(tagrelay_layer_names platform picture movie containers tags mpeg audio settings lists formats scan cache window shell)
set(tagrelay_layer_platform_uses "")
set(tagrelay_layer_picture_uses platform)
set(tagrelay_layer_movie_uses platform)
set(tagrelay_layer_containers_uses platform)
set(tagrelay_layer_tags_uses platform)
set(tagrelay_layer_mpeg_uses tags platform)
set(tagrelay_layer_audio_uses tags platform)
set(tagrelay_layer_settings_uses platform)
set(tagrelay_layer_lists_uses platform)
set(tagrelay_layer_formats_uses settings audio mpeg tags picture movie containers platform)
set(tagrelay_layer_scan_uses formats settings lists audio mpeg tags picture movie containers platform)
set(tagrelay_layer_cache_uses scan platform)
set(tagrelay_layer_window_uses picture platform)
set(tagrelay_layer_shell_uses scan window)

# tagrelay_layer_reach(<folder> <out>): the folder and every folder below it that it builds on.
function(tagrelay_layer_reach folder out)
    set(reach ${folder})
    set(pending ${tagrelay_layer_${folder}_uses})
    while(pending)
        list(POP_FRONT pending next)
        if(NOT next IN_LIST reach)
            list(APPEND reach ${next})
            list(APPEND pending ${tagrelay_layer_${next}_uses})
        endif()
    endwhile()
    set(${out} ${reach} PARENT_SCOPE)
endfunction()
