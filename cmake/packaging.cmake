# Packages, built by `make package` (cpack in the build folder):
#  - a .deb that installs Scrivora into /opt/scrivora, where its settings and signatures live,
#    with a menu entry, an autostart entry, icons, AppStream metainfo and a systemd user unit;
#  - a portable .tar.gz: one folder with the program and its settings, to unpack anywhere.
#
# cpack reads this file once more for each package kind (CPACK_PROJECT_CONFIG_FILE), to pick the
# install components that kind holds.
if(NOT DEFINED PROJECT_NAME)
    if(CPACK_GENERATOR STREQUAL "DEB")
        set(CPACK_COMPONENTS_ALL program desktop)
    else()
        set(CPACK_COMPONENTS_ALL portable)
        set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
    endif()
    return()
endif()

set(SCRIVORA_PACKAGE_MAINTAINER "Scrivora maintainers <maintainers@scrivora.example>"
    CACHE STRING "Maintainer field of the Debian package")

set(scrivora_home opt/scrivora)
set(scrivora_packaging ${PROJECT_SOURCE_DIR}/packaging)
set(scrivora_app_id com.vantrel.Scrivora)

# The package ships the sample only: postinst copies it to vantrel.ini when there is none, so an
# upgrade never replaces the till's settings nor stops to ask, and removal leaves them behind.
install(TARGETS scrivora RUNTIME DESTINATION ${scrivora_home} COMPONENT program)
install(FILES ${PROJECT_SOURCE_DIR}/vantrel.ini.sample DESTINATION ${scrivora_home} COMPONENT program)
file(CREATE_LINK /${scrivora_home}/scrivora ${CMAKE_CURRENT_BINARY_DIR}/scrivora-on-path SYMBOLIC)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/scrivora-on-path
    DESTINATION usr/bin RENAME scrivora COMPONENT program)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION usr/share/doc/scrivora COMPONENT program)

install(FILES ${scrivora_packaging}/${scrivora_app_id}.desktop
    DESTINATION usr/share/applications COMPONENT desktop)
# Same name as the menu entry: a user's ~/.config/autostart/<name> with Hidden=true switches it off.
install(FILES ${scrivora_packaging}/scrivora-autostart.desktop
    DESTINATION etc/xdg/autostart RENAME ${scrivora_app_id}.desktop COMPONENT desktop)
install(FILES ${scrivora_packaging}/${scrivora_app_id}.metainfo.xml
    DESTINATION usr/share/metainfo COMPONENT desktop)
install(FILES ${scrivora_packaging}/scrivora.service
    DESTINATION usr/lib/systemd/user COMPONENT desktop)
# The PNGs are rendered from scrivora.svg, e.g. `rsvg-convert -w 48 -h 48 scrivora.svg`.
foreach(size 16 22 24 32 48 64 128 256)
    install(FILES ${scrivora_packaging}/icons/scrivora-${size}.png
        DESTINATION usr/share/icons/hicolor/${size}x${size}/apps RENAME scrivora.png
        COMPONENT desktop)
endforeach()
install(FILES ${scrivora_packaging}/icons/scrivora.svg
    DESTINATION usr/share/icons/hicolor/scalable/apps COMPONENT desktop)

install(TARGETS scrivora RUNTIME DESTINATION . COMPONENT portable EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/vantrel.ini.sample
    DESTINATION . RENAME vantrel.ini COMPONENT portable EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . COMPONENT portable EXCLUDE_FROM_ALL)

# Packaging needs the program only; the test suite is not built for it.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_GENERATOR DEB TGZ)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_FILE})
set(CPACK_PACKAGE_NAME scrivora)
set(CPACK_PACKAGE_VENDOR Vantrel)
set(CPACK_PACKAGE_CONTACT ${SCRIVORA_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Link between a point-of-sale program and a signature pad")
set(CPACK_PACKAGE_DESCRIPTION
    "Scrivora sits in the notification area of a till. The point-of-sale program talks to it
over TCP; Scrivora drives the customer-facing pad for card swipes, PIN entry and signatures,
saves each signature beside its executable in /opt/scrivora and uploads it by FTP on request.")
set(CPACK_PACKAGE_FILE_NAME scrivora-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR})
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its platform plug-ins at run time, out of dpkg-shlibdeps' sight. The xcb and offscreen
# ones (window, tray, headless) come with libqt6gui6, which the program links, the rest with
# qt6-qpa-plugins; on Wayland, Qt falls back to xcb unless qt6-wayland is there.
# libcurl is loaded at the first upload, so dpkg-shlibdeps cannot see it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, qt6-qpa-plugins, libcurl4")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qt6-wayland")
# The autostart entry is the one file in /etc: a conffile, so an administrator's Hidden=true stays.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${scrivora_packaging}/debian/conffiles
    ${scrivora_packaging}/debian/postinst
    ${scrivora_packaging}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
