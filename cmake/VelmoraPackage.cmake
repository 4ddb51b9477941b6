# The Debian package: `cpack -G DEB` in a build folder packs everything `cmake --install` puts
# into the prefix (every install() rule of every folder, see cmake/VelmoraInstallDirs.cmake), so
# new files join the package by being installed. Build the package from a Release build folder
# configured with -DCMAKE_INSTALL_PREFIX=/usr; scripts/build-deb.sh does exactly that.
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VENDOR "Velmora")
set(CPACK_PACKAGE_CONTACT "Velmora <velmora@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Farbkopierer: Scanner und Drucker als Kopierer")
set(CPACK_PACKAGE_DESCRIPTION
  "Velmora turns a flatbed scanner (through SANE) and a printer (through CUPS) into a colour\n"
  "copier: scan, lay the copy out on the paper with zoom and position, print in copies, fax,\n"
  "or copy to the clipboard. It also opens, prints and saves BMP, JPEG and icon files.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the program and its plugins link (Qt, libjpeg, CUPS, SANE ...) come from
# dpkg-shlibdeps, which reads every ELF file in the package.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Libraries of our own that other files of the package link (the TWAIN source manager) are in
# no other package: dpkg-shlibdeps finds them where the build tree keeps them. (One folder only:
# CPack joins several into one broken -l option.)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${VELMORA_BUILD_LIB_DIR})
# What dpkg-shlibdeps cannot see: the window's font "Times New Roman" resolves to Liberation
# Serif. (Qt's xcb platform and ICO reader plugins come with libqt6gui6, which the program links.)
# Printing needs a CUPS scheduler, scanning SANE's backends; both may live on other machines.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cups-client, libsane1")
include(CPack)
