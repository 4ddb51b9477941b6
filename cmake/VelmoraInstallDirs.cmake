# Where Velmora's files go, installed and in the build tree. Included before any subfolder, so
# every folder installs into the same layout (paths relative to the install prefix):
#
#   bin/velmora                                      the program
#   share/velmora/velmorix.hlp                       the help file
#   share/velmora/translations/qtbase_de.qm          the German translations the program loads
#   share/applications/velmora.desktop               the desktop menu entry
#   share/icons/hicolor/scalable/apps/velmora.svg    the program icon
#   share/man/man1/velmora.1.gz, share/man/de/...    the manual page, English and German
#   share/metainfo/org.example.velmora.metainfo.xml  the AppStream metadata (software centres)
#   share/doc/velmora/copyright, changelog.Debian.gz the package's copyright and changelog
#   <libdir>/velmora/                                the TWAIN source manager library
#   <libdir>/velmora/sources/                        its data sources (plugins)
#
# <libdir> is GNUInstallDirs' CMAKE_INSTALL_LIBDIR (lib/x86_64-linux-gnu for the /usr prefix on
# Debian). The build tree keeps the same kinds of files under the build folder: the program and
# the help file at its top, translations/, lib/ and lib/sources/.
#
# The program finds them through VelmoraFolder()/VelmoraFile() (platform/VelmoraPaths.h): the
# installed folders are looked for relative to the program's own folder, so an installed tree
# still works after `cmake --install --prefix` anywhere or after being moved.
#
# Anything installed with these destinations joins the Debian package (cmake/VelmoraPackage.cmake)
# without further work, e.g. in dsm/CMakeLists.txt:
#   install(TARGETS velmora-twaindsm LIBRARY DESTINATION ${VELMORA_LIB_INSTALL_DIR})
#   set_target_properties(velmora-twaindsm PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${VELMORA_BUILD_LIB_DIR})
include(GNUInstallDirs)

set(VELMORA_DATA_INSTALL_DIR ${CMAKE_INSTALL_DATADIR}/velmora)
set(VELMORA_TRANSLATIONS_INSTALL_DIR ${VELMORA_DATA_INSTALL_DIR}/translations)
set(VELMORA_LIB_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/velmora)
set(VELMORA_SOURCES_INSTALL_DIR ${VELMORA_LIB_INSTALL_DIR}/sources)

set(VELMORA_BUILD_DATA_DIR ${CMAKE_BINARY_DIR})
set(VELMORA_BUILD_TRANSLATIONS_DIR ${CMAKE_BINARY_DIR}/translations)
set(VELMORA_BUILD_LIB_DIR ${CMAKE_BINARY_DIR}/lib)
set(VELMORA_BUILD_SOURCES_DIR ${CMAKE_BINARY_DIR}/lib/sources)

# The installed folders as seen from the program's folder ("../share/velmora" ...).
function(velmora_relative_to_bindir out dir)
  file(RELATIVE_PATH rel "/prefix/${CMAKE_INSTALL_BINDIR}" "/prefix/${dir}")
  set(${out} ${rel} PARENT_SCOPE)
endfunction()
velmora_relative_to_bindir(VELMORA_REL_DATA_DIR ${VELMORA_DATA_INSTALL_DIR})
velmora_relative_to_bindir(VELMORA_REL_TRANSLATIONS_DIR ${VELMORA_TRANSLATIONS_INSTALL_DIR})
velmora_relative_to_bindir(VELMORA_REL_LIB_DIR ${VELMORA_LIB_INSTALL_DIR})
velmora_relative_to_bindir(VELMORA_REL_SOURCES_DIR ${VELMORA_SOURCES_INSTALL_DIR})
