# What `cmake --install` puts where, and the Debian package CPack builds from it. The program
# finds its data in ../share/twinsifter beside its bin folder (see ShippedPath).
include(GNUInstallDirs)

# The decoding helper sits beside the programs, where they look for it.
install(TARGETS twinsifter twinsifter-cli twinsifter-decode RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
set(TS_DATA_DIR ${CMAKE_INSTALL_DATADIR}/twinsifter)
install(FILES ${PROJECT_SOURCE_DIR}/data/Twinsifter.tip DESTINATION ${TS_DATA_DIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/help/ DESTINATION ${TS_DATA_DIR}/help OPTIONAL)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/skins/ DESTINATION ${TS_DATA_DIR}/skins OPTIONAL)
install(FILES ${PROJECT_SOURCE_DIR}/data/twinsifter.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/src/ui/icons/application.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME twinsifter.svg)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME twinsifter)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "Twinsifter finds files with identical contents, MP3 files whose tags agree and pictures that look alike (also turned, mirrored or grey), and helps to move or delete the copies, to the desktop's trash by default. A desktop program and a command line over the same engine.")
set(CPACK_PACKAGE_FILE_NAME "twinsifter_${PROJECT_VERSION}_amd64")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The same placeholder address the program uses until a distributor sets theirs.
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Twinsifter developers <support@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so no library dependency names them: enhanced metafiles, PostScript.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libemf2svg1, ghostscript, xdg-utils")
include(CPack)
