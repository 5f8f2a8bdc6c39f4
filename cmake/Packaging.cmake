# What `cmake --install` adds beyond the programs, and the Debian package made by CPack
# (`cmake --workflow --preset package`, or `cpack --preset package` after a build). A Windows
# build packs a portable zip instead (scripts/windows-zip.sh).

if(WIN32)
    include(cmake/WindowsZip.cmake)
    return()
endif()

# Manual pages, compressed as Debian keeps them.
set(sarnika_man_pages sarnika-cli.1)
if(SARNIKA_BUILD_GUI)
    list(APPEND sarnika_man_pages sarnika.1)
endif()
set(sarnika_man_outputs "")
foreach(page IN LISTS sarnika_man_pages)
    set(compressed ${CMAKE_BINARY_DIR}/man/${page}.gz)
    add_custom_command(OUTPUT ${compressed}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
        COMMAND sh -c "gzip -9 -n -c '${CMAKE_SOURCE_DIR}/man/${page}' > '${compressed}'"
        DEPENDS ${CMAKE_SOURCE_DIR}/man/${page}
        VERBATIM)
    list(APPEND sarnika_man_outputs ${compressed})
endforeach()
add_custom_target(sarnika_man_pages ALL DEPENDS ${sarnika_man_outputs})
install(FILES ${sarnika_man_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The licence, also under the name Debian's tools look for.
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sarnika)
set(CPACK_PACKAGE_VENDOR Quillmoor)
set(CPACK_PACKAGE_CONTACT "Quillmoor <support@quillmoor.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "find, preview and save the Flash movies that web browsers have cached")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.quillmoor.example/sarnika/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries the programs link come from dpkg-shlibdeps; what Qt loads at run time (the X11
# platform plugin) is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(SARNIKA_BUILD_GUI)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
endif()
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Finds the Flash movies (.swf) that web browsers have cached, lists them largest first,
plays the selected one in a built-in player (Ruffle) and copies one or all of them
into a folder you choose. It reads Chromium-family caches (simple, blockfile and SQL),
Firefox-family cache2 folders and Internet Explorer index.dat caches in Wine prefixes,
only ever reading them, and never replaces a file you already have.
.
The package holds the window (sarnika) and the console program (sarnika-cli).")

include(CPack)
