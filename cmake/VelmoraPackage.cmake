# The Debian package: `cpack -G DEB` in a build folder packs everything `cmake --install` puts
# into the prefix (every install() rule of every folder, see cmake/VelmoraInstallDirs.cmake), so
# new files join the package by being installed. Build the package from a Release build folder
# configured with -DCMAKE_INSTALL_PREFIX=/usr; scripts/build-deb.sh does exactly that. The
# package's own documents (copyright, changelog, manual pages, AppStream metadata) come from
# packaging/.
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VENDOR "Velmora-Entwickler")
# The address the about box and the error report name for bug reports.
set(CPACK_PACKAGE_CONTACT "Velmora-Entwickler <velmora-support@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# With a revision the package is not a native one, so its changelog is changelog.Debian.gz.
set(CPACK_DEBIAN_PACKAGE_RELEASE ${VELMORA_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.velmora.example.org/")
# Debian's control file has one description, in English; the German one is in the AppStream
# metadata and the desktop entry. Lines stay within 80 columns.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "colour copier made of a scanner and a printer")
set(CPACK_PACKAGE_DESCRIPTION [=[
Velmora turns a scanner and a printer into a colour copier. It scans
through SANE, driverless network and USB scanners that speak eSCL
(AirScan) or WSD included, and prints through CUPS.

The copy is laid out on the printer's printable area at the original's
real size or with any zoom, and moved on the sheet with the mouse in a
preview. Fast copy scans without the scanner's own dialog and prints every
page as it arrives. Copies go in any number to a printer, a fax printer or
the clipboard.

Velmora also opens, prints and saves pictures: BMP, JPEG, PNG, GIF, TIFF
(every page of a multi-page TIFF), ICO and the metafiles WMF and EMF. The
user interface is German.]=])
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Files and folders as Debian has them, whatever the umask of the build.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# Strips the programs and libraries in the staging folder before they are packed (and before
# dpkg-shlibdeps reads them).
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/VelmoraStrip.cmake)
set(CPACK_VELMORA_STRIP ${CMAKE_STRIP})
set(CPACK_VELMORA_OBJDUMP ${CMAKE_OBJDUMP})
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
# Scanners and multifunction devices that need no driver (eSCL and WSD over the network, eSCL
# over USB) work through sane-airscan and ipp-usb.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cups, cups-client, libsane1, sane-airscan, ipp-usb")
include(CPack)
