# Installation and the Debian package. The programs and their run-time files (languages,
# skin, ini files) go together into lib/fielddesk/, since the programs find those files
# beside themselves; bin/ holds relative links to the programs. The scratch database goes
# to $XDG_RUNTIME_DIR when that folder is not writable, as it is not under /usr.

set(FD_INSTALL_DIR lib/fielddesk)
set(FD_LAUNCHER_DIR ${CMAKE_BINARY_DIR}/launchers)
file(MAKE_DIRECTORY ${FD_LAUNCHER_DIR})

foreach(program fielddesk fielddesk-cli fielddesk-fileserver)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${FD_INSTALL_DIR})
    # A link, not a copy: the program resolves its own path through it.
    file(CREATE_LINK ../${FD_INSTALL_DIR}/${program} ${FD_LAUNCHER_DIR}/${program} SYMBOLIC)
    install(FILES ${FD_LAUNCHER_DIR}/${program} DESTINATION bin)
  endif()
endforeach()

# The upgrade's file server is started by the other programs from beside them: no link.
if(TARGET FileServer)
  install(TARGETS FileServer RUNTIME DESTINATION ${FD_INSTALL_DIR})
endif()

install(DIRECTORY ${CMAKE_SOURCE_DIR}/resources/ DESTINATION ${FD_INSTALL_DIR})
if(TARGET fielddesk_skin)
  install(DIRECTORY ${CMAKE_BINARY_DIR}/bin/Skin DESTINATION ${FD_INSTALL_DIR})
endif()

set(FD_APP_ID org.fielddesk.FieldDesk)
configure_file(${CMAKE_SOURCE_DIR}/packaging/${FD_APP_ID}.metainfo.xml
               ${CMAKE_BINARY_DIR}/packaging/${FD_APP_ID}.metainfo.xml @ONLY)
if(TARGET fielddesk)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/${FD_APP_ID}.desktop DESTINATION share/applications)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/${FD_APP_ID}.svg
          DESTINATION share/icons/hicolor/scalable/apps)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/${FD_APP_ID}.metainfo.xml DESTINATION share/metainfo)
endif()
if(TARGET fielddesk-cli)
  # The completion script comes from the program's own help texts.
  set(FD_COMPLETION ${CMAKE_BINARY_DIR}/packaging/fielddesk-cli.bash)
  add_custom_command(OUTPUT ${FD_COMPLETION}
    COMMAND sh -c "\"$1\" --bash-completion > \"$2\"" sh $<TARGET_FILE:fielddesk-cli>
            ${FD_COMPLETION}
    DEPENDS fielddesk-cli
    COMMENT "Generating the bash completion of fielddesk-cli"
    VERBATIM)
  add_custom_target(fielddesk_cli_completion ALL DEPENDS ${FD_COMPLETION})
  install(FILES ${FD_COMPLETION} DESTINATION share/bash-completion/completions
          RENAME fielddesk-cli)
endif()

# Firewall profiles. firewalld reads services from <prefix>/lib/firewalld/services; ufw reads
# its application profiles from /etc only, so under /usr that one goes to /etc.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/firewalld/fielddesk.xml
        DESTINATION lib/firewalld/services)
# (cpack installs with the prefix <staging>/usr, so /etc beside a trailing /usr.)
install(CODE "
  if(CMAKE_INSTALL_PREFIX MATCHES \"^(.*)/usr/?$\")
    set(fd_etc \"\${CMAKE_MATCH_1}/etc\")
  else()
    set(fd_etc \"\${CMAKE_INSTALL_PREFIX}/etc\")
  endif()
  file(INSTALL \"${CMAKE_SOURCE_DIR}/packaging/ufw/fielddesk\"
       DESTINATION \"\${fd_etc}/ufw/applications.d\")
")

# cpack -G DEB: the libraries' packages come from dpkg-shlibdeps; what the programs load at
# run time without linking it (Qt's platform plugins) is named here.
set(CPACK_PACKAGE_NAME fielddesk)
set(CPACK_PACKAGE_VENDOR "FieldDesk")
set(CPACK_PACKAGE_CONTACT "FieldDesk maintainers <maintainers@fielddesk.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "find and configure outdoor wireless CPE and access-point devices")
set(CPACK_PACKAGE_DESCRIPTION
    "FieldDesk finds the outdoor wireless CPE and access-point devices on the LAN segments\n\
the PC is wired to, lists them, and configures one device or a selection: names and\n\
addresses, wireless settings, VLAN, reboot, factory reset and firmware upgrade.\n\
fielddesk-cli does the same from a terminal; 'fielddesk-cli doctor' explains why a\n\
search finds nothing.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# Qt's own dialogs in the user's language, Chinese glyphs, and the skin's Arial metrics the
# grids' column widths were made for.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "qt6-wayland, qt6-translations-l10n, fonts-wqy-microhei, fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "firewalld | ufw")
file(WRITE ${CMAKE_BINARY_DIR}/packaging/conffiles "/etc/ufw/applications.d/fielddesk\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/packaging/conffiles)
include(CPack)
