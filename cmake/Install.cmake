# What `cmake --install` puts on a system, and the Debian package CPack makes
# of it: the programs, their menu entries, the icon and the AppStream data.
include(GNUInstallDirs)

set(QELO_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR}/../packaging)

# The demo finds the simulator next to itself, so they share a directory.
foreach(program qelo-panel qelo-demo qelo-projector-sim qelo-ctl)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

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

# ---- Debian package --------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qelo-panel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The qelo-panel developers")
set(CPACK_PACKAGE_CONTACT "The qelo-panel developers <qelo-panel@localhost>")
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
# The accessibility bus a screen reader listens on, and one to listen.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "at-spi2-core")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "orca")
include(CPack)
