# The Debian package of the release tools and the reference servers.
set(programs mkpatch mkrelease patchapply patch_server game_server)
# The NAME line of each man page.
set(name_mkpatch "build, sign and verify Mirelands patch files")
set(name_mkrelease "build every patch of a Mirelands release and the patch server's manifest")
set(name_patchapply "apply a Mirelands patch file to a directory, as PATCHW32.dll does")
set(name_patch_server "serve Mirelands patch files to the updater over TCP")
set(name_game_server "announce the newest Mirelands client version and its patch servers")

install(TARGETS ${programs} RUNTIME DESTINATION bin)

# Man pages from each program's --help and --version (help2man).
find_program(HELP2MAN help2man)
if(HELP2MAN)
  set(man_dir ${CMAKE_CURRENT_BINARY_DIR}/man)
  set(pages)
  foreach(program ${programs})
    set(page ${man_dir}/${program}.1)
    add_custom_command(
      OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${man_dir}
      COMMAND ${HELP2MAN} --no-info --section 1 --name "${name_${program}}"
              --output ${page} $<TARGET_FILE:${program}>
      COMMAND gzip -9nf ${page}
      DEPENDS ${program}
      COMMENT "Man page of ${program}"
      VERBATIM)
    list(APPEND pages ${page}.gz)
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${pages})
  install(FILES ${pages} DESTINATION share/man/man1)
else()
  message(WARNING "help2man not found (scripts/setup.sh installs it): no man pages, no .deb")
endif()

set(units mirelands-patch-server.service mirelands-game-server.service)
install(FILES ${units} DESTINATION lib/systemd/system)
install(FILES patch-server.conf game-server.conf game-server-options.conf
        DESTINATION /etc/mirelands)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mirelands-release-tools)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Mirelands Auto Update: release tools and reference servers")
# The lines after the summary line; CPack indents them.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
       "mkpatch, mkrelease and patchapply build, sign and check the patch files\n"
       "of a release; patch_server and game_server serve them to the players'\n"
       "updater, with systemd units and their configuration in /etc/mirelands.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Mirelands release team <release@mirelands.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_SOURCE_DIR}/deb/conffiles ${CMAKE_CURRENT_SOURCE_DIR}/deb/postinst
    ${CMAKE_CURRENT_SOURCE_DIR}/deb/prerm ${CMAKE_CURRENT_SOURCE_DIR}/deb/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
