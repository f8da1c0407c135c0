# The Debian package (scripts/package): what `cmake --install` puts where, and CPack's DEB
# settings. Paths are relative to the packaging prefix, /usr:
#   bin/waga                     launcher: runs the program in $WAGA_DIR or ~/Waga
#   bin/scale-sim                the scale simulator, with its man page
#   bin/waga-journal             the journal's export for scripts, with its man page
#   bin/waga-central             the central upload without the window, with its man page
#   share/waga/central           the central server's SQL (schema.sql, roles.sql, migrate-2.sql)
#                                and make-certificates (its CA and server certificate)
#   share/doc/waga/central-server.md   the guide for whoever sets up the central server
#   share/doc/waga/evidence.md  the inspector's guide to the journal's seal
#   bin/waga-stacja              the headless station, with its man page and its systemd unit
#                                /lib/systemd/system/waga-stacja.service (installed disabled)
#   lib/waga/Project1            the program (its error box is titled with its file name)
#   share/waga/doc/pomoc.htm     the help; the launcher links it as doc/ in the working folder
#   share/applications, share/metainfo, share/icons/hicolor   the desktop side
#   share/doc/waga               copyright, changelog, README.Debian

set(WAGA_PACKAGE waga)
# Reverse domain name of the maker's www.vek.example: names the desktop entry, icon and metainfo.
set(WAGA_APP_ID example.vek.waga)
# This version's release, 2026-12-07 00:00 UTC. It dates the changelog and the metainfo, and
# it is the time stamp of every file in the package, so the same sources give the same bytes.
set(WAGA_RELEASE_EPOCH 1796601600)
set(WAGA_ICON_SIDES 16 22 24 32 48 64 128 256)

set(_pkg_src ${PROJECT_SOURCE_DIR}/packaging)
set(_pkg_out ${CMAKE_BINARY_DIR}/packaging)

# string(TIMESTAMP) reads the time from SOURCE_DATE_EPOCH when that is set.
set(_saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
set(ENV{SOURCE_DATE_EPOCH} ${WAGA_RELEASE_EPOCH})
string(TIMESTAMP WAGA_RELEASE_DAY "%Y-%m-%d" UTC)
string(TIMESTAMP WAGA_RELEASE_RFC2822 "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(ENV{SOURCE_DATE_EPOCH} "${_saved_epoch}")

# Icons: the program's own drawing, rendered by render-icons in each hicolor size.
set(_icons)
foreach(side IN LISTS WAGA_ICON_SIDES)
  list(APPEND _icons ${_pkg_out}/icons/${side}x${side}/apps/${WAGA_APP_ID}.png)
endforeach()
# A sanitizer build's leak report at exit would fail the build; the pictures need no display.
add_custom_command(OUTPUT ${_icons}
  COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0 QT_QPA_PLATFORM=offscreen
          $<TARGET_FILE:render-icons> ${_pkg_out}/icons ${WAGA_APP_ID} ${WAGA_ICON_SIDES}
  DEPENDS render-icons
  COMMENT "Rendering the program's icon in the hicolor sizes"
  VERBATIM)

# Texts that carry the version and the release date.
configure_file(${_pkg_src}/metainfo.xml.in ${_pkg_out}/${WAGA_APP_ID}.metainfo.xml @ONLY)
configure_file(${_pkg_src}/changelog.in ${_pkg_out}/changelog @ONLY)

# Man pages and the changelog are installed compressed, without name or time in the header.
set(_gz)
foreach(pair "changelog.gz:${_pkg_out}/changelog" "waga.1.gz:${_pkg_src}/waga.1"
             "scale-sim.1.gz:${_pkg_src}/scale-sim.1"
             "waga-journal.1.gz:${_pkg_src}/waga-journal.1"
             "waga-central.1.gz:${_pkg_src}/waga-central.1"
             "waga-stacja.1.gz:${_pkg_src}/waga-stacja.1")
  string(REPLACE ":" ";" pair "${pair}")
  list(GET pair 0 out)
  list(GET pair 1 in)
  add_custom_command(OUTPUT ${_pkg_out}/${out}
    COMMAND sh -c "gzip -9n < \"$1\" > \"$2\"" gzip ${in} ${_pkg_out}/${out}
    DEPENDS ${in}
    VERBATIM)
  list(APPEND _gz ${_pkg_out}/${out})
endforeach()
add_custom_target(waga_package_files ALL DEPENDS ${_icons} ${_gz})
# What the package needs built; scripts/package builds only this, and cpack's install step
# (which would otherwise build every test and benchmark first) installs what is there.
add_custom_target(waga_package_content DEPENDS Project1 scale-sim waga-journal waga-central
                                                 waga-stacja
                                                 waga_package_files)
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

install(TARGETS Project1 RUNTIME DESTINATION lib/${WAGA_PACKAGE})
install(TARGETS scale-sim waga-journal waga-stacja RUNTIME DESTINATION bin)
# Debian 12 keeps the units of packages in /lib/systemd/system.
install(FILES ${_pkg_src}/waga-stacja.service DESTINATION /lib/systemd/system)
install(PROGRAMS ${_pkg_src}/waga DESTINATION bin)
install(FILES doc/pomoc.htm DESTINATION share/${WAGA_PACKAGE}/doc)
install(FILES ${_pkg_src}/${WAGA_APP_ID}.desktop DESTINATION share/applications)
install(FILES ${_pkg_out}/${WAGA_APP_ID}.metainfo.xml DESTINATION share/metainfo)
foreach(side IN LISTS WAGA_ICON_SIDES)
  install(FILES ${_pkg_out}/icons/${side}x${side}/apps/${WAGA_APP_ID}.png
          DESTINATION share/icons/hicolor/${side}x${side}/apps)
endforeach()
install(FILES ${_pkg_out}/waga.1.gz ${_pkg_out}/scale-sim.1.gz ${_pkg_out}/waga-journal.1.gz
              ${_pkg_out}/waga-stacja.1.gz
        DESTINATION share/man/man1)
# The central server's side: the upload without the window, the SQL and the guide.
install(TARGETS waga-central RUNTIME DESTINATION bin)
install(FILES ${_pkg_out}/waga-central.1.gz DESTINATION share/man/man1)
install(FILES central/schema.sql central/roles.sql central/migrate-2.sql
        DESTINATION share/${WAGA_PACKAGE}/central)
install(PROGRAMS scripts/central-cert DESTINATION share/${WAGA_PACKAGE}/central
        RENAME make-certificates)
install(FILES doc/central-server.md DESTINATION share/doc/${WAGA_PACKAGE})
# The inspector's guide: what the journal's seal proves and its format.
install(FILES doc/evidence.md DESTINATION share/doc/${WAGA_PACKAGE})
install(FILES ${_pkg_src}/copyright ${_pkg_src}/README.Debian ${_pkg_out}/changelog.gz
        DESTINATION share/doc/${WAGA_PACKAGE})

# CPack: one .deb into build/package/ (scripts/package passes -B).
set(CPACK_GENERATOR DEB)
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_NAME ${WAGA_PACKAGE})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "VEK")
set(CPACK_PACKAGE_CONTACT "VEK <biuro@vek.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://www.vek.example)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "program do komunikacji z wagą - scale communication over RS-232")
file(READ ${_pkg_src}/description.txt CPACK_DEBIAN_PACKAGE_DESCRIPTION)
# Libraries come from dpkg-shlibdeps. It cannot see what the program only uses at run time:
# the Liberation fonts its pixel layout is measured with, Qt SQL's SQLite driver (the journal),
# Qt's Polish texts for the standard dialogs, and xdg-open, which opens the help and the maker's
# addresses.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's SQL drivers are plugins that the shared-library scan does not see: SQLite's (the journal).
# libpq (the central upload, in the program and in waga-central) and libxlsxwriter (the XLSX
# export) are linked, so the scan finds them; libsodium (the journal's seal) is named as well, as
# the seal cannot go without it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2, libqt6sql6-sqlite, libsodium23")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, xdg-utils")
# Reproducible bytes: xz has no time stamp in its header and, on one thread, one block layout;
# the file times come from SOURCE_DATE_EPOCH, set by packaging/cpack-options.cmake.
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_THREADS 1)
set(CPACK_WAGA_SOURCE_DATE_EPOCH ${WAGA_RELEASE_EPOCH})
set(CPACK_PROJECT_CONFIG_FILE ${_pkg_src}/cpack-options.cmake)
include(CPack)
