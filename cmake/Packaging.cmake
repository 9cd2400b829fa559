# How the programs are packed: a Debian package on Linux (cpack -G DEB), a zip on Windows.
set(CPACK_PACKAGE_NAME quillmere-tile-converter)
set(CPACK_PACKAGE_VENDOR QuillMere)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "QuillMere developers <developers@quillmere.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Copies the tile set kept in a game map into a .bmp file")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's captions are measured against Liberation Sans.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2")
if(NOT WIN32)
    # Staged through DESTDIR, so that the install step leaves the desktop's caches to the
    # package's installation.
    set(CPACK_SET_DESTDIR ON)
    set(CPACK_INSTALL_PREFIX /usr)
else()
    # quillmere-tile-converter-1.0.0.4-win64.zip
    set(CPACK_GENERATOR ZIP)
    set(CPACK_SYSTEM_NAME win64)
    set(QUILLMERE_RELEASE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
    set(CPACK_PACKAGE_FILE_NAME ${QUILLMERE_RELEASE_NAME})
    set(CPACK_STRIP_FILES ON) # debugging symbols stay in the build, not in the download

    # The zip's text files end their lines with CR LF, which Notepad needs on older Windows.
    function(quillmere_install_with_crlf source shipped)
        file(READ ${PROJECT_SOURCE_DIR}/${source} content)
        string(REPLACE "\r\n" "\n" content "${content}")
        string(REPLACE "\n" "\r\n" content "${content}")
        file(WRITE ${PROJECT_BINARY_DIR}/windows-texts/${shipped} "${content}")
        set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
            ${PROJECT_SOURCE_DIR}/${source})
        install(FILES ${PROJECT_BINARY_DIR}/windows-texts/${shipped} DESTINATION .)
    endfunction()
    quillmere_install_with_crlf(README.md README.md)
    quillmere_install_with_crlf(LICENSE LICENSE.txt)
endif()
include(CPack)
