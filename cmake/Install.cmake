# What `cmake --install` puts on a system, and the Debian package CPack makes
# of it: the programs, their menu entries, the icon, the AppStream data, the
# manual pages, the shell completions, the licence and the changelog.
include(GNUInstallDirs)

set(QELO_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR}/../packaging)

# A packager sets these; the defaults are this tree's own.
set(QELO_MAINTAINER "The qelo-panel developers <qelo-panel@localhost>" CACHE STRING
    "Maintainer of the package, as \"Name <address>\"")
set(QELO_HOMEPAGE "" CACHE STRING "Home page of the project (none when empty)")

# The demo finds the simulator next to itself, so they share a directory.
foreach(program qelo-panel qelo-demo qelo-projector-sim qelo-ctl qelo-bridge)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

set(QELO_METAINFO_URL "")
if(QELO_HOMEPAGE)
  set(QELO_METAINFO_URL "<url type=\"homepage\">${QELO_HOMEPAGE}</url>")
endif()
if(TARGET qelo-panel)
  install(FILES ${QELO_PACKAGING_DIR}/qelo-panel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  configure_file(${QELO_PACKAGING_DIR}/org.qelo.panel.metainfo.xml.in
                 ${CMAKE_BINARY_DIR}/packaging/org.qelo.panel.metainfo.xml @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/org.qelo.panel.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(DIRECTORY ${QELO_PACKAGING_DIR}/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons
          FILES_MATCHING PATTERN "*.png")
  install(FILES ${QELO_PACKAGING_DIR}/icons/qelo-panel.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR} FILES_MATCHING PATTERN "*.md" PATTERN "*.png")
endif()
if(TARGET qelo-demo)
  install(FILES ${QELO_PACKAGING_DIR}/qelo-demo.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
endif()

# ---- Licence, in the form Debian reads ----------------------------------------
# The MIT text once, in LICENSE; the copyright file quotes it as Debian's
# format wants: blank lines as " .", every line indented.
file(READ ${CMAKE_SOURCE_DIR}/LICENSE qelo_license)
string(REGEX REPLACE "^MIT License\n\n[^\n]*\n\n" "" qelo_license "${qelo_license}")
string(REGEX REPLACE "\n+$" "" qelo_license "${qelo_license}")
string(REPLACE "\n\n" "\n.\n" qelo_license "${qelo_license}")
string(REPLACE "\n" "\n " QELO_LICENSE_PARAGRAPHS " ${qelo_license}")
set(QELO_COPYRIGHT_SOURCE "")
if(QELO_HOMEPAGE)
  set(QELO_COPYRIGHT_SOURCE "\nSource: ${QELO_HOMEPAGE}")
endif()
configure_file(${QELO_PACKAGING_DIR}/copyright.in ${CMAKE_BINARY_DIR}/packaging/copyright @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# ---- Manual pages and changelog, compressed as Debian wants them ---------------
find_program(QELO_GZIP gzip)
set(qelo_man_dir ${CMAKE_BINARY_DIR}/packaging/man)
set(qelo_gzipped)
# The pages of the programs that print --help are made from it, so they never
# fall out of step; the panel and the demo read no options of their own.
set(qelo_help_pages "qelo-ctl|run the projector's functions from a shell"
                    "qelo-projector-sim|a simulated data projector on a serial line or TCP port"
                    "qelo-bridge|every projector of a building on an MQTT broker")
option(QELO_HELP_PAGES "Make the manual pages of the programs that print --help with help2man" ON)
set(qelo_help_programs)
foreach(entry IN LISTS qelo_help_pages)
  string(REGEX REPLACE "\\|.*" "" program "${entry}")
  if(TARGET ${program})
    list(APPEND qelo_help_programs ${program})
  endif()
endforeach()
if(QELO_HELP_PAGES AND qelo_help_programs)
  find_program(QELO_HELP2MAN help2man)
  # A package without those pages is a broken package, so it is never made
  # by accident.
  if(NOT QELO_HELP2MAN)
    list(JOIN qelo_help_programs ", " qelo_names)
    message(FATAL_ERROR "help2man is not installed, and it makes the manual pages of ${qelo_names}. "
                        "Install it (sudo apt install help2man, or scripts/deps), or configure with "
                        "-DQELO_HELP_PAGES=OFF to install and package without them.")
  endif()
endif()
foreach(entry IN LISTS qelo_help_pages)
  string(REPLACE "|" ";" entry "${entry}")
  list(GET entry 0 program)
  list(GET entry 1 summary)
  if(NOT TARGET ${program} OR NOT QELO_HELP_PAGES)
    continue()
  endif()
  add_custom_command(OUTPUT ${qelo_man_dir}/${program}.1
    COMMAND ${CMAKE_COMMAND} -E make_directory ${qelo_man_dir}
    COMMAND ${QELO_HELP2MAN} --no-info --no-discard-stderr --section=1 --name=${summary}
            --output=${qelo_man_dir}/${program}.1.help2man $<TARGET_FILE:${program}>
    # Its examples and grids, line by line as --help has them.
    COMMAND awk -f ${QELO_PACKAGING_DIR}/man/help-layout.awk ${qelo_man_dir}/${program}.1.help2man
            > ${qelo_man_dir}/${program}.1
    DEPENDS ${program} ${QELO_PACKAGING_DIR}/man/help-layout.awk
    COMMENT "Manual page of ${program}"
    VERBATIM)
  list(APPEND qelo_gzipped ${qelo_man_dir}/${program}.1)
endforeach()
foreach(program qelo-panel qelo-demo)
  if(TARGET ${program})
    configure_file(${QELO_PACKAGING_DIR}/man/${program}.1.in ${qelo_man_dir}/${program}.1 @ONLY)
    list(APPEND qelo_gzipped ${qelo_man_dir}/${program}.1)
  endif()
endforeach()
configure_file(${QELO_PACKAGING_DIR}/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
list(APPEND qelo_gzipped ${CMAKE_BINARY_DIR}/packaging/changelog)

set(qelo_gz_files)
foreach(file IN LISTS qelo_gzipped)
  add_custom_command(OUTPUT ${file}.gz
    COMMAND ${QELO_GZIP} -9 -n -c ${file} > ${file}.gz
    DEPENDS ${file}
    VERBATIM)
  list(APPEND qelo_gz_files ${file}.gz)
  if(file MATCHES "\\.1$")
    install(FILES ${file}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endforeach()
add_custom_target(qelo_packaging_files ALL DEPENDS ${qelo_gz_files})
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# ---- Bash completion, where bash-completion loads it on demand -----------------
set(qelo_completions share/bash-completion/completions)
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
  pkg_get_variable(qelo_completions_abs bash-completion completionsdir)
  pkg_get_variable(qelo_completions_prefix bash-completion prefix)
  if(qelo_completions_abs AND qelo_completions_prefix)
    file(RELATIVE_PATH qelo_completions ${qelo_completions_prefix} ${qelo_completions_abs})
  endif()
endif()
foreach(program qelo-ctl qelo-projector-sim qelo-bridge)
  if(TARGET ${program})
    install(FILES ${QELO_PACKAGING_DIR}/completion/${program} DESTINATION ${qelo_completions})
  endif()
endforeach()

# ---- The bridge as a service: installed, not enabled ----------------------------
if(TARGET qelo-bridge)
  install(FILES ${QELO_PACKAGING_DIR}/systemd/qelo-bridge.service DESTINATION /lib/systemd/system)
  install(FILES ${QELO_PACKAGING_DIR}/systemd/bridge.conf DESTINATION /etc/qelo)
  # A conffile: dpkg keeps the site's edits across upgrades.
  file(WRITE ${CMAKE_BINARY_DIR}/packaging/conffiles "/etc/qelo/bridge.conf\n")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/packaging/conffiles)
endif()

# ---- Debian package --------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qelo-panel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The qelo-panel developers")
set(CPACK_PACKAGE_CONTACT "${QELO_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QELO_MAINTAINER}")
if(QELO_HOMEPAGE)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${QELO_HOMEPAGE}")
endif()
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control panel for a data projector on an RS-232C line")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A window laid out like the projector's remote control: every click sends the\n\
projector its command, held buttons repeat, four status queries come back as\n\
words, and a traffic monitor shows every byte both ways. Includes a simulated\n\
projector and a demo that wires the panel to it.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The libraries come from the programs themselves; what they load at run time
# is named here: the fonts that carry the arrows and the Japanese caption.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-ipafont-gothic")
# The accessibility bus a screen reader listens on, and one to listen; Qt's
# Wayland platform, without which a Wayland desktop runs the panel through
# XWayland.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "at-spi2-core, qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "orca, mosquitto")
include(CPack)

if(QELO_WITH_TESTS AND TARGET qelo-panel)
  add_test(NAME package.deb COMMAND ${QELO_PACKAGING_DIR}/check-package ${CMAKE_BINARY_DIR})
  set_tests_properties(package.deb PROPERTIES TIMEOUT 300)
endif()
