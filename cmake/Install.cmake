# Installation layout and the Debian package.
#
#   <prefix>/bin/harbly, bin/harbly-relay
#   <prefix>/share/harbly/{public/,config.json,icons/harbly.svg}   found by the executable as ../share/harbly
#   <prefix>/share/applications/harbly.desktop, share/metainfo/io.github.harbly.Harbly.metainfo.xml
#   <prefix>/share/icons/hicolor/<size>/apps/harbly.{png,svg}
#   <prefix>/lib/systemd/user/harbly{,-headless}.service, lib/systemd/system/harbly-relay.service
#   <prefix>/share/man/man1/harbly{,-relay}.1.gz, share/doc/harbly/{copyright,changelog.Debian.gz}
#
# The executable finds its resources relative to itself, so bin/ and share/ are fixed names here
# rather than GNUInstallDirs variables a packager could move apart.

set(HB_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(HB_GENERATED_DIR ${CMAKE_BINARY_DIR}/packaging)
set(HB_DATA_DIR share/harbly)
set(HB_DOC_DIR share/doc/harbly)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Executables
install(TARGETS harbly RUNTIME DESTINATION bin)
if(TARGET harbly-relay)
  install(TARGETS harbly-relay RUNTIME DESTINATION bin)
endif()
# The Control Panel module, found by the agent at ../lib/harbly from its own folder.
if(TARGET harbly-panel)
  install(TARGETS harbly-panel LIBRARY DESTINATION lib/harbly)
endif()

# Resources the agent serves and reads
install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/public DESTINATION ${HB_DATA_DIR}
        PATTERN ".*" EXCLUDE PATTERN "*~" EXCLUDE)
install(FILES ${PROJECT_SOURCE_DIR}/resources/config.json DESTINATION ${HB_DATA_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/harbly.svg DESTINATION ${HB_DATA_DIR}/icons)

# Desktop integration: menu entry, software-centre metadata, themed icons
install(FILES ${PROJECT_SOURCE_DIR}/resources/linux/harbly.desktop DESTINATION share/applications)
install(FILES ${HB_PACKAGING_DIR}/io.github.harbly.Harbly.metainfo.xml DESTINATION share/metainfo)
install(DIRECTORY ${HB_PACKAGING_DIR}/icons/hicolor DESTINATION share/icons)

# systemd units carry the executable's absolute path, known only at install time (the prefix may
# be given to `cmake --install --prefix`, and CPack installs with its own).
set(HB_UNIT_SOURCES
    "${PROJECT_SOURCE_DIR}/resources/linux/harbly.service|user"
    "${HB_PACKAGING_DIR}/harbly-headless.service.in|user")
if(TARGET harbly-relay)
  list(APPEND HB_UNIT_SOURCES "${HB_PACKAGING_DIR}/harbly-relay.service.in|system")
endif()
foreach(entry IN LISTS HB_UNIT_SOURCES)
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 source)
  list(GET parts 1 kind)
  get_filename_component(name "${source}" NAME)
  string(REGEX REPLACE "\\.in$" "" name "${name}")
  install(CODE "
    file(READ \"${source}\" text)
    string(REPLACE \"ExecStart=/usr/bin/\" \"ExecStart=@HB_BINDIR@/\" text \"\${text}\")
    string(REPLACE \"@HB_BINDIR@\" \"\${CMAKE_INSTALL_PREFIX}/bin\" text \"\${text}\")
    file(WRITE \"${HB_GENERATED_DIR}/${name}\" \"\${text}\")")
  install(FILES ${HB_GENERATED_DIR}/${name} DESTINATION lib/systemd/${kind})
endforeach()

# Man pages and Debian documentation, compressed the way Debian wants them (gzip -9n: no name, no
# time stamp, so the package is reproducible). Made at configure time; editing a source reconfigures.
find_program(HB_GZIP gzip REQUIRED)
set(HB_MAN_PAGES ${PROJECT_SOURCE_DIR}/docs/man/harbly.1)
if(TARGET harbly-relay)
  list(APPEND HB_MAN_PAGES ${PROJECT_SOURCE_DIR}/docs/man/harbly-relay.1)
endif()
function(hb_gzip_for_install source output destination)
  file(MAKE_DIRECTORY ${HB_GENERATED_DIR})
  execute_process(COMMAND ${HB_GZIP} -9n -c ${source} OUTPUT_FILE ${HB_GENERATED_DIR}/${output}
                  COMMAND_ERROR_IS_FATAL ANY)
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  install(FILES ${HB_GENERATED_DIR}/${output} DESTINATION ${destination})
endfunction()
foreach(page IN LISTS HB_MAN_PAGES)
  get_filename_component(name ${page} NAME)
  hb_gzip_for_install(${page} ${name}.gz share/man/man1)
endforeach()
hb_gzip_for_install(${HB_PACKAGING_DIR}/debian/changelog changelog.Debian.gz ${HB_DOC_DIR})
install(FILES ${HB_PACKAGING_DIR}/debian/copyright DESTINATION ${HB_DOC_DIR})

# The Debian package: `cpack -G DEB` in the build directory (see scripts/package-test.sh).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME harbly)
set(CPACK_PACKAGE_VENDOR "The Harbly developers")
set(CPACK_PACKAGE_CONTACT "The Harbly developers <dev@harbly.app>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://harbly.app")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "drive this computer from a phone")
set(CPACK_PACKAGE_DESCRIPTION
    "Harbly is a small tray agent. A phone pairs once, with a PIN or a QR code,\n"
    "and then uses its web browser to launch applications, open web addresses,\n"
    "run the user's shortcuts, fire gestures, press media keys, set the volume,\n"
    "set the clipboard and type text on this computer. Pages of tiles are set up\n"
    "in a Control Panel. Without a display the agent runs headless.\n"
    "The package also holds harbly-relay, a relay service that lets phones\n"
    "outside the local network reach their agent.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Started as programs, not linked: volume through pactl, the desktop's web browser, Wayland tools.
# Wayland sessions: Qt's Wayland platform for the tray and panel, the RemoteDesktop portal for
# keys where the desktop is not GNOME, wl-clipboard for the clipboard on wlroots and KDE.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "pulseaudio-utils, xdg-utils, hicolor-icon-theme, qt6-wayland, xdg-desktop-portal, wl-clipboard")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${HB_PACKAGING_DIR}/debian/postinst ${HB_PACKAGING_DIR}/debian/prerm ${HB_PACKAGING_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
