# The portable zip of the Windows build: both programs side by side at the top of one folder,
# the README and the licences of what is linked into them (the programs are static: zlib, the
# mingw-w64 runtime and threads, GCC's runtime libraries). Unpack anywhere and run; nothing is
# installed and no DLL is needed beside the programs.
install(TARGETS sarnika RUNTIME DESTINATION .)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION .)
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)

set(sarnika_linked_licences
    "zlib.txt=/usr/share/doc/libz-mingw-w64-dev/copyright"
    "mingw-w64-runtime.txt=/usr/share/doc/mingw-w64-x86-64-dev/copyright"
    "gcc-runtime.txt=/usr/share/doc/gcc-mingw-w64-base/copyright")
foreach(licence IN LISTS sarnika_linked_licences)
    string(REPLACE "=" ";" parts "${licence}")
    list(GET parts 0 name)
    list(GET parts 1 source)
    if(NOT EXISTS ${source})
        message(FATAL_ERROR "Licence of a linked library missing: ${source}")
    endif()
    install(FILES ${source} DESTINATION licences RENAME ${name})
endforeach()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME sarnika)
set(CPACK_PACKAGE_VENDOR Quillmoor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME sarnika-${PROJECT_VERSION}-windows-x64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
include(CPack)
