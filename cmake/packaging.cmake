# Install rules and the Debian package (`make package`, or `cpack --preset package` after a
# build with the package preset). Included last from the top CMakeLists.txt.
#
# The package installs the two programs in /usr/bin, the movie worker in
# /usr/libexec/tagrelay (where the programs look for it, relative to themselves), the desktop
# entry, the icon in the hicolor theme, the AppStream metadata, the manual pages, the
# copyright file and changelog Debian asks for, and examples of a systemd user service and
# timer that run tagrelay-cli --update every night.

include(GNUInstallDirs)

set(tagrelay_app_id invalid.tagrelay.Tagrelay)
set(tagrelay_doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/tagrelay)
set(tagrelay_gzip_dir ${CMAKE_CURRENT_BINARY_DIR}/packaging)

install(TARGETS tagrelay-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET tagrelay)
    install(TARGETS tagrelay RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# The movie worker comes from its own folder, which may be added after this file is included:
# the rule is made once the whole project has been read.
function(tagrelay_install_movie_worker)
    if(TARGET tagrelay-movie-worker)
        install(TARGETS tagrelay-movie-worker
                RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/tagrelay)
    endif()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL tagrelay_install_movie_worker)

install(FILES data/${tagrelay_app_id}.desktop
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES data/${tagrelay_app_id}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
install(FILES data/icons/tagrelay.svg
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
foreach(size 16 22 24 32 48 64 128 256)
    install(FILES data/icons/hicolor/${size}x${size}/apps/tagrelay.png
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

# Manual pages and the changelog go in compressed, without a time stamp in the gzip header,
# so that the same sources give the same package.
find_program(TAGRELAY_GZIP gzip REQUIRED)
set(tagrelay_gzipped)
function(tagrelay_gzip source output)
    add_custom_command(OUTPUT ${tagrelay_gzip_dir}/${output}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${tagrelay_gzip_dir}
        COMMAND ${TAGRELAY_GZIP} -9nc ${CMAKE_CURRENT_SOURCE_DIR}/${source}
                > ${tagrelay_gzip_dir}/${output}
        DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${source}
        COMMENT "Compressing ${source}"
        VERBATIM)
    set(tagrelay_gzipped ${tagrelay_gzipped} ${tagrelay_gzip_dir}/${output} PARENT_SCOPE)
endfunction()
tagrelay_gzip(docs/man/tagrelay.1 tagrelay.1.gz)
tagrelay_gzip(docs/man/tagrelay-cli.1 tagrelay-cli.1.gz)
tagrelay_gzip(data/debian/changelog changelog.gz)
add_custom_target(tagrelay_gzipped_docs ALL DEPENDS ${tagrelay_gzipped})

install(FILES ${tagrelay_gzip_dir}/tagrelay.1.gz ${tagrelay_gzip_dir}/tagrelay-cli.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES data/debian/copyright ${tagrelay_gzip_dir}/changelog.gz
        DESTINATION ${tagrelay_doc_dir})
install(FILES data/systemd/tagrelay-update.service data/systemd/tagrelay-update.timer
        DESTINATION ${tagrelay_doc_dir}/examples)

# The changelog's newest entry names the package's version; a release that forgets it would
# ship a changelog that does not match.
file(STRINGS data/debian/changelog tagrelay_changelog_head LIMIT_COUNT 1)
if(NOT tagrelay_changelog_head MATCHES "^tagrelay \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "data/debian/changelog starts with '${tagrelay_changelog_head}'; "
                        "add an entry for version ${PROJECT_VERSION} on top")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tagrelay)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tagrelay developers")
set(CPACK_PACKAGE_CONTACT "Tagrelay developers <dev@tagrelay.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "writes Descript.ion lists for music, picture and movie folders")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# CPack puts the summary above this as the synopsis line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Tagrelay walks a folder and every folder below it and writes a Descript.ion
list in each, one line per file with a description built from the file's
contents, for web file servers that show such lists beside the files:
 - MP3 files: artist, album, title, genre, bitrate with CBR or VBR, channel
   mode and playing time;
 - JPEG and BMP pictures: width, height and colour depth;
 - AVI and MPEG movies: picture size, frames per second and playing time.
On request it also writes small square icon files beside pictures and beside
MP3 files with a cover picture.
.
The package holds the window program, tagrelay, and tagrelay-cli, which runs
the same walk from a terminal.")
# The libraries come from the programs themselves; the GStreamer plugins are loaded by the
# movie worker at run time, which no library list shows, and so are the window's faces
# (Liberation Mono for "Courier", Liberation Sans for "Arial"), found through fontconfig. The
# description cache needs SQLite 3.31 for a flag (SQLITE_OPEN_NOFOLLOW) that no library symbol
# shows either. libheif is loaded with the first HEIC or AVIF picture, so no library list shows
# it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libsqlite3-0 (>= 3.31), libheif1, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-plugins-bad, gstreamer1.0-libav, fonts-liberation2")

include(CPack)
