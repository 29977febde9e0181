# Installation, desktop integration, the kiosk unit, the Debian package and
# the Windows version record and installer.
include(GNUInstallDirs)

set(MOTREL_PACKAGING_DIR ${CMAKE_CURRENT_SOURCE_DIR}/packaging)

install(TARGETS Motrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The Windows resource script; configured on every platform so that it can be
# checked anywhere with a MinGW resource compiler.
set(MOTREL_VERSION4 ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0)
string(REPLACE "." "," MOTREL_RC_VERSION ${MOTREL_VERSION4})
set(MOTREL_ICO ${MOTREL_PACKAGING_DIR}/windows/motrel.ico)
set(MOTREL_RC ${CMAKE_CURRENT_BINARY_DIR}/motrel.rc)
configure_file(${MOTREL_PACKAGING_DIR}/windows/motrel.rc.in ${MOTREL_RC} @ONLY)
if(WIN32)
    target_sources(Motrel PRIVATE ${MOTREL_RC})
    set_property(SOURCE ${MOTREL_RC} APPEND PROPERTY OBJECT_DEPENDS ${MOTREL_ICO})
    # The installer's script, for makensis (scripts/package --arch win64). Its firewall rule opens
    # the bridge's port, as the protocol's constants name it.
    file(STRINGS ${PROJECT_SOURCE_DIR}/src/drivers.h port_line REGEX "constexpr quint16 port = [0-9]+")
    if(NOT port_line MATCHES "port = ([0-9]+)")
        message(FATAL_ERROR "no bridge port in src/drivers.h for the installer's firewall rule")
    endif()
    set(MOTREL_BRIDGE_PORT ${CMAKE_MATCH_1})
    configure_file(${MOTREL_PACKAGING_DIR}/windows/motrel.nsi.in ${CMAKE_CURRENT_BINARY_DIR}/motrel.nsi @ONLY)
endif()

# Desktop integration, the kiosk unit and the Debian package are for Linux.
if(NOT UNIX OR APPLE)
    return()
endif()

install(FILES ${MOTREL_PACKAGING_DIR}/motrel.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 16 24 32 48 64 128 256)
    install(FILES ${MOTREL_PACKAGING_DIR}/icons/motrel-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME motrel.png)
endforeach()
install(FILES ${MOTREL_PACKAGING_DIR}/icons/motrel.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# Below the prefix, so that systemd finds it under /usr and /usr/local alike.
install(FILES ${MOTREL_PACKAGING_DIR}/motrel-kiosk.service
        DESTINATION lib/systemd/system)

# The manual page, and what Debian asks of every package: the licenses in its
# machine-readable copyright format and a changelog, compressed as lintian wants.
# The project has no public address yet: the .invalid domain can never receive mail.
set(MOTREL_MAINTAINER "Motrel developers <no-public-address-yet@motrel.invalid>")
set(MOTREL_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/motrel)

# The text of FILE as the body of a copyright file's License paragraph.
function(motrel_license_paragraph_text file out)
    file(READ ${file} text)
    string(STRIP "${text}" text)
    string(REGEX REPLACE "[ \t]+\n" "\n" text "${text}")
    string(REPLACE "\n" "\n " text " ${text}")
    # Twice: a blank line's replacement ends where the next one would begin.
    string(REPLACE "\n \n" "\n .\n" text "${text}")
    string(REPLACE "\n \n" "\n .\n" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()
motrel_license_paragraph_text(${CMAKE_CURRENT_SOURCE_DIR}/LICENSE MOTREL_LICENSE_TEXT)
motrel_license_paragraph_text(${CMAKE_CURRENT_SOURCE_DIR}/fonts/LICENSE.DejaVu MOTREL_DEJAVU_LICENSE_TEXT)
configure_file(${MOTREL_PACKAGING_DIR}/debian/copyright.in ${CMAKE_CURRENT_BINARY_DIR}/copyright @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/copyright DESTINATION ${MOTREL_DOC_DIR})

# Configured, then compressed at build time with gzip -9n: smallest, and no time
# stamp inside. Installs the result into DESTINATION.
function(motrel_install_gzipped template name destination)
    set(plain ${CMAKE_CURRENT_BINARY_DIR}/${name})
    configure_file(${template} ${plain} @ONLY)
    add_custom_command(OUTPUT ${plain}.gz COMMAND gzip -9nkf ${plain} DEPENDS ${plain} VERBATIM)
    string(MAKE_C_IDENTIFIER ${name} target)
    add_custom_target(${target}_gz ALL DEPENDS ${plain}.gz)
    install(FILES ${plain}.gz DESTINATION ${destination})
endfunction()
motrel_install_gzipped(${MOTREL_PACKAGING_DIR}/debian/changelog.in changelog ${MOTREL_DOC_DIR})
motrel_install_gzipped(${MOTREL_PACKAGING_DIR}/Motrel.1.in Motrel.1 ${CMAKE_INSTALL_MANDIR}/man1)

# Debian package: shared-library dependencies come from dpkg-shlibdeps; the QML
# modules (loaded at run time, invisible to it) and the font are named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME motrel)
set(CPACK_PACKAGE_VENDOR Motrel)
set(CPACK_PACKAGE_CONTACT "${MOTREL_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Full-screen car dashboard for an ECU Wi-Fi bridge")
set(CPACK_PACKAGE_DESCRIPTION
    "Motrel talks to a Wi-Fi bridge wired to a car's engine control unit and shows\n\
vehicle speed and engine speed on two animated gauges, plus coolant temperature\n\
and engine status tiles. It includes a systemd unit, disabled by default, that\n\
runs the dashboard on the console of a machine without a desktop.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qml-module-qtquick2, qml-module-qtquick-window2, qml-module-qtquick-controls, \
qml-module-qtquick-extras, qml-module-qtgraphicaleffects, fonts-dejavu-core")
set(CPACK_STRIP_FILES ON)
# A cross build is packaged for its target: dpkg-shlibdeps reads the target's
# objdump and libraries when cpack runs with DEB_HOST_ARCH set.
if(CMAKE_CROSSCOMPILING)
    execute_process(COMMAND dpkg-architecture -t ${CMAKE_LIBRARY_ARCHITECTURE} -qDEB_HOST_ARCH
                    OUTPUT_VARIABLE MOTREL_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(NOT MOTREL_DEB_ARCH)
        message(FATAL_ERROR "dpkg-architecture knows no Debian architecture for ${CMAKE_LIBRARY_ARCHITECTURE}")
    endif()
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${MOTREL_DEB_ARCH})
    set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/CPackTarget.cmake)
    file(WRITE ${CPACK_PROJECT_CONFIG_FILE} "set(ENV{DEB_HOST_ARCH} ${MOTREL_DEB_ARCH})\n")
endif()
include(CPack)
