# Installation and Debian packages. Included from the top level after the program folders,
# so the install rules below can name their targets.
#
# Every install rule carries its COMPONENT; each component is one package:
#   server -> tellwick-server, client -> tellwick-client, cli -> tellwick-cli.
# The client installs its program and autostart entry in client/CMakeLists.txt.
#
#   cmake --build build && (cd build && cpack -G DEB)

# Packages always install below /usr, whatever prefix the build tree was configured with;
# the maintainer scripts and the registered event sources name the programs there.
set(TELLWICK_PACKAGE_PREFIX /usr)
set(TELLWICK_PACKAGE_BINDIR ${TELLWICK_PACKAGE_PREFIX}/${CMAKE_INSTALL_BINDIR})

find_program(TELLWICK_GZIP gzip REQUIRED)

# ---- Programs, desktop entry, icon, manual pages -------------------------------------------
install(TARGETS tellwick_server RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT server)
install(TARGETS tellwick_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cli)

# The operator starts the server from the desktop's application menu.
install(FILES ${PROJECT_SOURCE_DIR}/server/resources/tellwick-server.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT server)
install(FILES ${PROJECT_SOURCE_DIR}/server/resources/icons/tellwick-server.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT server)
# Task bars and menus that take no SVG find the same icon drawn at the usual sizes.
foreach(_size 16 32 48 64 128 256)
    install(FILES ${PROJECT_SOURCE_DIR}/server/resources/icons/hicolor/${_size}/tellwick-server.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps
            COMPONENT server)
endforeach()
# Software centres describe the server from its AppStream file.
install(FILES ${PROJECT_SOURCE_DIR}/server/resources/org.tellwick.Server.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT server)

# ---- Copyright, changelog, the registry folder -------------------------------------------
# Every package carries the licence and its changelog (a native package: changelog.gz), and
# owns the registry folder that its maintainer scripts write into.
foreach(_program server client cli)
    set(TELLWICK_PACKAGE tellwick-${_program})
    set(_doc ${CMAKE_INSTALL_DATADIR}/doc/${TELLWICK_PACKAGE})
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright DESTINATION ${_doc}
            COMPONENT ${_program})
    configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in
                   ${PROJECT_BINARY_DIR}/packaging/doc/${_program}/changelog @ONLY)
    set(_changelog ${PROJECT_BINARY_DIR}/packaging/doc/${_program}/changelog.gz)
    add_custom_command(OUTPUT ${_changelog}
        COMMAND ${TELLWICK_GZIP} -9n -c ${PROJECT_BINARY_DIR}/packaging/doc/${_program}/changelog
                > ${_changelog}
        DEPENDS ${PROJECT_BINARY_DIR}/packaging/doc/${_program}/changelog
        VERBATIM)
    add_custom_target(tellwick_changelog_${_program} ALL DEPENDS ${_changelog})
    install(FILES ${_changelog} DESTINATION ${_doc} COMPONENT ${_program})
endforeach()
foreach(_program server client)
    install(DIRECTORY DESTINATION /var/lib/tellwick/registry COMPONENT ${_program})
endforeach()

# Manual pages are compressed as Debian expects them (gzip -n: no name or time stamp, so the
# same page always gives the same file).
set(_man_pages)
foreach(_program server client cli)
    set(_page ${PROJECT_SOURCE_DIR}/man/tellwick_${_program}.1)
    set(_gz ${PROJECT_BINARY_DIR}/man/tellwick_${_program}.1.gz)
    add_custom_command(OUTPUT ${_gz}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
        COMMAND ${TELLWICK_GZIP} -9n -c ${_page} > ${_gz}
        DEPENDS ${_page}
        VERBATIM)
    list(APPEND _man_pages ${_gz})
    install(FILES ${_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${_program})
endforeach()
add_custom_target(tellwick_man_pages ALL DEPENDS ${_man_pages})

# ---- Maintainer scripts ---------------------------------------------------------------------
# The server and the client register themselves as event sources when they start, which needs
# write access to the registry stand-in. The package does it once with root rights, so an
# ordinary user's start finds the value in place and writes nothing.
set(_script_dir ${PROJECT_BINARY_DIR}/packaging/debian)
foreach(_program server client)
    if(_program STREQUAL "server")
        set(TELLWICK_EVENT_SOURCE "Tellwick Server")
    else()
        set(TELLWICK_EVENT_SOURCE "Tellwick Client")
    endif()
    set(TELLWICK_PROGRAM ${TELLWICK_PACKAGE_BINDIR}/tellwick_${_program})
    foreach(_script postinst prerm)
        configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/${_script}.in
                       ${_script_dir}/${_program}/${_script} @ONLY
                       FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
                                        GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    endforeach()
endforeach()

# ---- CPack ----------------------------------------------------------------------------------
# Packing installs what is built and builds nothing: "install" does not depend on "all", so
# cpack neither rebuilds the tests nor races a build running in the same tree.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tellwick)
set(CPACK_PACKAGE_VENDOR "Tellwick developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${TELLWICK_PACKAGE_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL server client cli)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Tellwick developers <developers@tellwick.example>")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tellwick.example/")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies come from dpkg-shlibdeps, run on the packaged programs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME tellwick-server)
set(CPACK_DEBIAN_CLIENT_PACKAGE_NAME tellwick-client)
set(CPACK_DEBIAN_CLI_PACKAGE_NAME tellwick-cli)

# The first line is the package's summary, the rest its long description (lines under 80).
set(CPACK_DEBIAN_SERVER_DESCRIPTION "office popup messenger - operator program
The operator's windowed program of Tellwick: it keeps the tree of client
workstations, sends a short text to the ticked ones over TCP or UDP, or as one
broadcast, and shows for each workstation whether the message was delivered and
confirmed. It also discovers new clients and checks which known clients run.")
set(CPACK_DEBIAN_CLIENT_DESCRIPTION "office popup messenger - resident receiver
The workstation part of Tellwick: started with every desktop session, it
listens on one UDP and TCP port and puts each incoming message in a window that
stays on top until the user presses OK, then reports delivery and confirmation
back to the sender.")
set(CPACK_DEBIAN_CLI_DESCRIPTION "office popup messenger - command-line sender
A console program that sends one Tellwick message to a list of addresses,
computer names and address ranges given on its command line, for scripts and
scheduled jobs.")

# What dpkg-shlibdeps cannot see: Qt loads its display plugins at run time, and the message
# window asks for Arial, which the Liberation fonts stand in for.
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "qt6-qpa-plugins")
# Waking the screen for a message calls xset (X11) and dbus-send (the screen saver).
set(CPACK_DEBIAN_CLIENT_PACKAGE_DEPENDS "qt6-qpa-plugins, x11-xserver-utils, dbus-bin")
set(CPACK_DEBIAN_CLIENT_PACKAGE_RECOMMENDS "fonts-liberation")

set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${_script_dir}/server/postinst ${_script_dir}/server/prerm)
set(CPACK_DEBIAN_CLIENT_PACKAGE_CONTROL_EXTRA
    ${_script_dir}/client/postinst ${_script_dir}/client/prerm)
# Files below /etc are the administrator's: dpkg keeps their changes and removes them only on
# purge.
file(WRITE ${_script_dir}/client/conffiles "/etc/xdg/autostart/tellwick-client.desktop\n")
list(APPEND CPACK_DEBIAN_CLIENT_PACKAGE_CONTROL_EXTRA ${_script_dir}/client/conffiles)

include(CPack)
