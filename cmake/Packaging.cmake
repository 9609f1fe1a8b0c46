# Installing kestravon-cli like any Linux program, and the Debian package CPack builds from it:
# the program in bin/, its signature files in share/kestravon/ (it looks beside itself first,
# then in ../share/kestravon), the manual page and the bash completion it generates from its own
# option table.
include(GNUInstallDirs)

install(TARGETS kestravon-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/data/signatures/MFTSig.dll ${PROJECT_SOURCE_DIR}/data/signatures/MFTSigAdv.dll
        DESTINATION ${CMAKE_INSTALL_DATADIR}/kestravon)
install(FILES ${CMAKE_BINARY_DIR}/share/man/man1/kestravon-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_BINARY_DIR}/share/bash-completion/completions/kestravon-cli
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES ${PROJECT_SOURCE_DIR}/docs/json.md ${PROJECT_SOURCE_DIR}/docs/kestravon-cli.schema.json
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kestravon-cli)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestravon-cli)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find and save lost folders and files on FAT16, FAT32 and NTFS media")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Kestravon FAT Recovery reads a disk, a partition or an image file (only ever reading it), finds the\n"
       "folders and files on FAT16, FAT32 and NTFS volumes, deleted ones included, and saves them to another\n"
       "drive. It also carves files out of raw sectors by their signatures.")
set(CPACK_PACKAGE_CONTACT "Kestravon FAT Recovery developers <kestravon@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The shared libraries the program links decide the dependencies (libc6, libstdc++6, libblkid1).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gddrescue, xdg-utils")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
include(CPack)
