# The package's documents, `make deb` (CPack's Debian generator) and the uninstall step.
# The package is made from a build configured with CMAKE_INSTALL_PREFIX=/usr (make deb), so
# that the manual pages name the paths where the files land.
set(BQ_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/bankquill)
install(FILES ${PROJECT_SOURCE_DIR}/res/desktop/copyright DESTINATION ${BQ_DOC_DIR})
set(BQ_CHANGELOG ${BQ_DOCS_DIR}/changelog.gz)
add_custom_command(OUTPUT ${BQ_CHANGELOG}
    COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/res/desktop/changelog > ${BQ_CHANGELOG}
    DEPENDS ${PROJECT_SOURCE_DIR}/res/desktop/changelog
    COMMENT "Compressing the changelog")
add_custom_target(bankquill_changelog ALL DEPENDS ${BQ_CHANGELOG})
install(FILES ${BQ_CHANGELOG} DESTINATION ${BQ_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME bankquill)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Bankquill developers <bankquill@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "librarian for the Korg Karma workstation")
set(CPACK_PACKAGE_DESCRIPTION
    "Bankquill opens Korg Karma PCG bank files and shows the Combinations and\n"
    "Programs inside, one window per file. It finds a Karma on the MIDI ports of a\n"
    "JACK server (jackd or PipeWire), shows the instrument's memory, writes\n"
    "Combinations to it by drag and drop with Undo and Redo, and backs up its whole\n"
    "memory in a PCG file.\n"
    "\n"
    "Command-line programs come with it: bankquill-backup for scripted backups,\n"
    "bankquill-restore to put a backup back, writing only what differs,\n"
    "bankquill-pcg to list, find and compare PCG files, and\n"
    "bankquill-virtual-karma, which stands in for the instrument.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Qt 6 Widgets, libjack and the C++ runtime, from the libraries the programs link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A JACK server to reach the instrument through: jackd, or PipeWire's.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "jackd2 | pipewire-jack")
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR}/package)
include(CPack)

# Removes exactly the files that the last `cmake --install` of this build wrote, as its
# manifest lists them.
add_custom_target(uninstall
    COMMAND ${CMAKE_COMMAND} -DMANIFEST=${PROJECT_BINARY_DIR}/install_manifest.txt
            -P ${PROJECT_SOURCE_DIR}/cmake/Uninstall.cmake)
