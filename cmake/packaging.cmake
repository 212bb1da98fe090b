# Installation and the Debian package. The programs and their read-only files (languages,
# skin, the default Setting.ini) go together into lib/fielddesk/, since the programs find
# those files beside themselves; bin/ holds relative links to the two programs a user
# starts. Nothing is written into lib/fielddesk/ at run time: the scratch database and the
# file server's settings go to the runtime folder, the administrator's settings live in
# /etc/fielddesk/ and a user's in ~/.config/fielddesk/ (src/core/config/settings.h).

set(FD_INSTALL_DIR lib/fielddesk)
set(FD_LAUNCHER_DIR ${CMAKE_BINARY_DIR}/launchers)
file(MAKE_DIRECTORY ${FD_LAUNCHER_DIR})
# Project facts for the package, the metadata and the manual pages.
set(FD_HOMEPAGE "https://fielddesk.org/")
set(FD_MAINTAINER "FieldDesk developers <packaging@fielddesk.org>")
set(FD_DEBIAN_REVISION 1)
set(FD_PACKAGE_VERSION ${PROJECT_VERSION}-${FD_DEBIAN_REVISION})
set(FD_VERSION ${PROJECT_VERSION})
set(FD_PACKAGE_LIBDIR /usr/${FD_INSTALL_DIR})

foreach(program fielddesk fielddesk-cli)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${FD_INSTALL_DIR})
    # A link, not a copy: the program resolves its own path through it.
    file(CREATE_LINK ../${FD_INSTALL_DIR}/${program} ${FD_LAUNCHER_DIR}/${program} SYMBOLIC)
    install(FILES ${FD_LAUNCHER_DIR}/${program} DESTINATION bin)
  endif()
endforeach()

# Started by the other programs from beside them, no link: the upgrade's file server, the
# simulator and the two scripts of the demo (the sandbox and the lab in it).
foreach(program FileServer fielddesk-devsim)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${FD_INSTALL_DIR})
  endif()
endforeach()
install(PROGRAMS ${CMAKE_SOURCE_DIR}/scripts/fielddesk-demo ${CMAKE_SOURCE_DIR}/scripts/netlab
        DESTINATION ${FD_INSTALL_DIR})

install(DIRECTORY ${CMAKE_SOURCE_DIR}/resources/ DESTINATION ${FD_INSTALL_DIR})
if(TARGET fielddesk_skin)
  install(DIRECTORY ${CMAKE_BINARY_DIR}/bin/Skin DESTINATION ${FD_INSTALL_DIR})
endif()

# Manual pages (written as roff in packaging/man, the version filled in) and the
# documentation folder: copyright, Debian changelog, licence. Compressed as Debian wants.
set(FD_DOC_BUILD ${CMAKE_BINARY_DIR}/packaging/doc)
file(MAKE_DIRECTORY ${FD_DOC_BUILD})
set(FD_MAN_PAGES fielddesk.1 fielddesk-cli.1 FileServer.1 fielddesk-devsim.1)
set(FD_COMPRESSED)
foreach(page ${FD_MAN_PAGES})
  configure_file(${CMAKE_SOURCE_DIR}/packaging/man/${page} ${FD_DOC_BUILD}/${page} @ONLY)
  list(APPEND FD_COMPRESSED ${FD_DOC_BUILD}/${page})
endforeach()
configure_file(${CMAKE_SOURCE_DIR}/packaging/debian/changelog.in
               ${FD_DOC_BUILD}/changelog.Debian @ONLY)
list(APPEND FD_COMPRESSED ${FD_DOC_BUILD}/changelog.Debian)
set(FD_COMPRESSED_GZ)
foreach(file ${FD_COMPRESSED})
  add_custom_command(OUTPUT ${file}.gz
    COMMAND gzip -9nc ${file} > ${file}.gz
    DEPENDS ${file}
    VERBATIM)
  list(APPEND FD_COMPRESSED_GZ ${file}.gz)
endforeach()
add_custom_target(fielddesk_docs ALL DEPENDS ${FD_COMPRESSED_GZ})
foreach(page ${FD_MAN_PAGES})
  install(FILES ${FD_DOC_BUILD}/${page}.gz DESTINATION share/man/man1)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${FD_DOC_BUILD}/changelog.Debian.gz
        DESTINATION share/doc/fielddesk)
# lintian's overrides, each with its reason.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/lintian/fielddesk DESTINATION share/lintian/overrides)

# pkexec's question when FileServer cannot bind port 69 by itself.
configure_file(${CMAKE_SOURCE_DIR}/packaging/polkit/org.fielddesk.FieldDesk.policy.in
               ${CMAKE_BINARY_DIR}/packaging/org.fielddesk.FieldDesk.policy @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/org.fielddesk.FieldDesk.policy
        DESTINATION share/polkit-1/actions)

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
# its application profiles from /etc only, so under /usr that one goes to /etc, as does the
# administrator's Setting.ini (every key commented out: the defaults stay those of
# lib/fielddesk/Setting.ini until the administrator sets one).
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
  file(INSTALL \"${CMAKE_SOURCE_DIR}/packaging/Setting.etc.ini\"
       DESTINATION \"\${fd_etc}/fielddesk\" RENAME Setting.ini)
")

# cpack -G DEB: the libraries' packages come from dpkg-shlibdeps; what the programs load or
# start at run time without linking it is named here: Qt's platform plugins; setcap for
# the file server's right to bind port 69 (postinst); ip for the demo's sandbox.
set(CPACK_PACKAGE_NAME fielddesk)
set(CPACK_PACKAGE_VENDOR "FieldDesk")
set(CPACK_PACKAGE_CONTACT "${FD_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${FD_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${FD_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_RELEASE ${FD_DEBIAN_REVISION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "find and configure outdoor wireless CPE and access-point devices")
# Extended description: lines within 80 columns, as Debian wants.
set(CPACK_PACKAGE_DESCRIPTION
    "FieldDesk finds the outdoor wireless CPE and access-point devices on the LAN\n\
segments the PC is wired to, lists them, and configures one device or a\n\
selection: names and addresses, wireless settings, VLAN, reboot, factory reset\n\
and firmware upgrade. fielddesk-cli does the same from a terminal;\n\
'fielddesk-cli doctor' explains why a search finds nothing.\n\
.\n\
Without devices at hand, 'fielddesk --demo' shows the program with simulated\n\
devices in a private network sandbox.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libcap2-bin")
# Qt's own dialogs in the user's language, Chinese glyphs, and the skin's Arial metrics the
# grids' column widths were made for; pkexec asks for the file server's right where the
# capability could not be set; ip makes the demo's network lab.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "qt6-wayland, qt6-translations-l10n, fonts-wqy-microhei, fonts-liberation2, pkexec, iproute2")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "firewalld | ufw")
file(WRITE ${CMAKE_BINARY_DIR}/packaging/conffiles
     "/etc/fielddesk/Setting.ini\n/etc/ufw/applications.d/fielddesk\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_BINARY_DIR}/packaging/conffiles
    ${CMAKE_SOURCE_DIR}/packaging/debian/postinst
    ${CMAKE_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
