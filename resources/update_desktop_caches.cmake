# Run by `cmake --install`: rebuilds the MIME and desktop caches of the prefix installed into, so
# that maps are recognised and open with the window at once. Not when DESTDIR stages the files
# for a package: the package's installation rebuilds them where they end up.
if(NOT "$ENV{DESTDIR}" STREQUAL "")
    return()
endif()
if(IS_ABSOLUTE "${QUILLMERE_DATA_DIR}")
    set(data "${QUILLMERE_DATA_DIR}")
else()
    set(data "${CMAKE_INSTALL_PREFIX}/${QUILLMERE_DATA_DIR}")
endif()

if(QUILLMERE_UPDATE_MIME_DATABASE)
    execute_process(COMMAND "${QUILLMERE_UPDATE_MIME_DATABASE}" "${data}/mime")
else()
    message(STATUS "update-mime-database not found: run it on ${data}/mime to have maps recognised")
endif()
if(QUILLMERE_UPDATE_DESKTOP_DATABASE)
    execute_process(COMMAND "${QUILLMERE_UPDATE_DESKTOP_DATABASE}" -q "${data}/applications")
else()
    message(STATUS "update-desktop-database not found: run it on ${data}/applications to open "
        "maps with the window")
endif()
