# The client zip: what a game client ships beside the game.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(MRL_CLIENT_ARCH win64)
else()
  set(MRL_CLIENT_ARCH win32)
endif()
configure_file(INTEGRATION.txt.in ${CMAKE_CURRENT_BINARY_DIR}/INTEGRATION.txt @ONLY
               NEWLINE_STYLE CRLF)

# The import library is no part of the kit.
install(TARGETS MirelandsUpdate patchw32 RUNTIME DESTINATION .
        ARCHIVE DESTINATION lib COMPONENT import EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/INTEGRATION.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME MirelandsUpdate)
set(CPACK_PACKAGE_FILE_NAME MirelandsUpdate-${PROJECT_VERSION}-${MRL_CLIENT_ARCH})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
