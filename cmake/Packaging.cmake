# Install layout and the Debian package.
#
# What the operator runs lives under one prefix, /opt/rtviewer by default: the
# viewer and the other programs in bin/, with the two configuration files
# beside the viewer, which reads them from its own directory. The menu entry,
# the icons, the manual pages, the copyright statement, the changelog and a
# link to each program in the command path go to the system's usual places
# under RTVIEWER_SYSTEM_PREFIX. Stage an install with DESTDIR, which moves
# both.

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
    set(CMAKE_INSTALL_PREFIX /opt/rtviewer CACHE PATH "Install prefix" FORCE)
endif()
set(RTVIEWER_SYSTEM_PREFIX /usr CACHE PATH
    "Prefix of the menu entry, the icons and the viewer's link in the command path")
# A site that builds its own package names its own contact here. The
# earlier default, on localhost, is not an address a package may carry: a
# build folder that still holds it takes the new one.
set(RTVIEWER_PACKAGE_MAINTAINER "rtviewer maintainers <rtviewer@example.org>" CACHE STRING
    "Maintainer named in the Debian package")
if(RTVIEWER_PACKAGE_MAINTAINER STREQUAL "rtviewer maintainers <rtviewer@localhost>")
    set_property(CACHE RTVIEWER_PACKAGE_MAINTAINER PROPERTY VALUE "rtviewer maintainers <rtviewer@example.org>")
endif()

set(RTVIEWER_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(RTVIEWER_PACKAGING_BINARY_DIR ${CMAKE_BINARY_DIR}/packaging)

# The window icon is compiled into the viewer, so a build folder shows it too.
add_library(rtviewer_icon OBJECT ${RTVIEWER_PACKAGING_DIR}/rtviewer.qrc)
set_target_properties(rtviewer_icon PROPERTIES AUTORCC ON)
target_link_libraries(rtviewer_icon PRIVATE Qt6::Core)
target_link_libraries(rtviewer PRIVATE rtviewer_icon)

# Programs: the viewer, the simulator for training and rehearsals, and the
# command-line tools that exist in this tree. scripts/package.sh builds this
# target rather than everything, since the tests are not installed.
set(RTVIEWER_INSTALLED_PROGRAMS rtviewer)
foreach(program IN ITEMS unit-sim rthistory rtrecorder)
    if(TARGET ${program})
        list(APPEND RTVIEWER_INSTALLED_PROGRAMS ${program})
    endif()
endforeach()
install(TARGETS ${RTVIEWER_INSTALLED_PROGRAMS} RUNTIME DESTINATION bin)
add_custom_target(installed-programs DEPENDS ${RTVIEWER_INSTALLED_PROGRAMS})
# Installed programs resolve every symbol at start, so that their tables of
# addresses can be made read-only before any of their code runs.
foreach(program IN LISTS RTVIEWER_INSTALLED_PROGRAMS)
    target_link_options(${program} PRIVATE -Wl,-z,relro,-z,now)
endforeach()
# A stripped install (cpack, or cmake --install --strip) also drops the
# compilers' version notes, which only add bytes to each program.
if(CMAKE_STRIP)
    foreach(program IN LISTS RTVIEWER_INSTALLED_PROGRAMS)
        install(CODE "
            if(CMAKE_INSTALL_DO_STRIP)
                execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
                    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/${program}\")
            endif()")
    endforeach()
endif()

set(RTVIEWER_CONFIG_FILES RDconfig.ini RDVlookup.TXT)
foreach(config_file IN LISTS RTVIEWER_CONFIG_FILES)
    install(FILES ${CMAKE_SOURCE_DIR}/config/${config_file} DESTINATION bin)
endforeach()

set(RTVIEWER_DATA_DIR ${RTVIEWER_SYSTEM_PREFIX}/share)

# The fleet recorder as a service, installed but not enabled: its unit, its
# system user (made by the package's postinst from the sysusers file) and
# its units file, the site's to edit; the history goes to the service's
# state folder, /var/lib/rtviewer.
set(RTVIEWER_SYSTEMD_UNIT_DIR /lib/systemd/system CACHE PATH "Where the rtrecorder service's unit is installed")
set(RTVIEWER_SYSUSERS_DIR ${RTVIEWER_SYSTEM_PREFIX}/lib/sysusers.d)
set(RTVIEWER_RECORDER_CONFIG_DIR /etc/rtviewer)
if(TARGET rtrecorder)
    install(FILES ${RTVIEWER_PACKAGING_DIR}/rtrecorder.service DESTINATION ${RTVIEWER_SYSTEMD_UNIT_DIR})
    install(FILES ${RTVIEWER_PACKAGING_DIR}/rtrecorder.sysusers DESTINATION ${RTVIEWER_SYSUSERS_DIR}
        RENAME rtrecorder.conf)
    install(FILES ${RTVIEWER_PACKAGING_DIR}/rtrecorder.units DESTINATION ${RTVIEWER_RECORDER_CONFIG_DIR}
        RENAME units)
endif()
# The roles of a shared history on a PostgreSQL server, for its
# administrator to run once.
install(FILES ${RTVIEWER_PACKAGING_DIR}/sql/roles.sql DESTINATION ${RTVIEWER_DATA_DIR}/rtviewer/sql)
install(FILES ${RTVIEWER_PACKAGING_DIR}/rtviewer.desktop DESTINATION ${RTVIEWER_DATA_DIR}/applications)
install(FILES ${RTVIEWER_PACKAGING_DIR}/rtviewer.svg DESTINATION ${RTVIEWER_DATA_DIR}/icons/hicolor/scalable/apps)
install(FILES ${RTVIEWER_PACKAGING_DIR}/rtviewer.png DESTINATION ${RTVIEWER_DATA_DIR}/icons/hicolor/256x256/apps)

# The command path gets a symbolic link to each program, not a copy: the
# viewer finds its configuration files beside the file the link points to.
# The links are made here and installed as they are, so that the install
# manifest and the package list them like any other file.
if(NOT RTVIEWER_SYSTEM_PREFIX STREQUAL CMAKE_INSTALL_PREFIX)
    file(MAKE_DIRECTORY ${RTVIEWER_PACKAGING_BINARY_DIR}/launcher)
    foreach(program IN LISTS RTVIEWER_INSTALLED_PROGRAMS)
        file(CREATE_LINK ${CMAKE_INSTALL_PREFIX}/bin/${program}
            ${RTVIEWER_PACKAGING_BINARY_DIR}/launcher/${program} SYMBOLIC)
        install(FILES ${RTVIEWER_PACKAGING_BINARY_DIR}/launcher/${program} DESTINATION ${RTVIEWER_SYSTEM_PREFIX}/bin)
    endforeach()
endif()

# The documents a Debian system looks for: a manual page for each program in
# the command path, the copyright statement and the changelog, compressed
# as Debian compresses them (gzip -9, without the file's name and time, so
# that the same sources give the same bytes).
find_program(RTVIEWER_GZIP gzip REQUIRED)
set(RTVIEWER_COMPRESSED_DOCS "")
function(rtviewer_compressed_doc source output)
    string(REGEX REPLACE "\\.gz$" "" copy ${output})
    add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
        COMMAND ${RTVIEWER_GZIP} -9nf ${copy}
        DEPENDS ${source}
        VERBATIM)
    set(RTVIEWER_COMPRESSED_DOCS ${RTVIEWER_COMPRESSED_DOCS} ${output} PARENT_SCOPE)
endfunction()
set(RTVIEWER_MAN_DIR ${RTVIEWER_PACKAGING_BINARY_DIR}/man1)
file(MAKE_DIRECTORY ${RTVIEWER_MAN_DIR})
foreach(program IN LISTS RTVIEWER_INSTALLED_PROGRAMS)
    rtviewer_compressed_doc(${RTVIEWER_PACKAGING_DIR}/${program}.1 ${RTVIEWER_MAN_DIR}/${program}.1.gz)
    install(FILES ${RTVIEWER_MAN_DIR}/${program}.1.gz DESTINATION ${RTVIEWER_DATA_DIR}/man/man1)
endforeach()
rtviewer_compressed_doc(${RTVIEWER_PACKAGING_DIR}/changelog ${RTVIEWER_PACKAGING_BINARY_DIR}/changelog.gz)
add_custom_target(packaging-docs ALL DEPENDS ${RTVIEWER_COMPRESSED_DOCS})
add_dependencies(installed-programs packaging-docs)
install(FILES ${RTVIEWER_PACKAGING_DIR}/copyright ${RTVIEWER_PACKAGING_BINARY_DIR}/changelog.gz
    DESTINATION ${RTVIEWER_DATA_DIR}/doc/rtviewer)

# Debian package: cpack -G DEB in the build folder.
set(CPACK_PACKAGE_NAME rtviewer)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "viewer for the live readings of a gas-detection and drilling-data field unit")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Connects over TCP to a gas-detection and drilling-data field unit at a\n"
    "drilling rig, or to the server that relays it, and shows every reading of\n"
    "the unit's latest data packet: total gas units coloured by level, the\n"
    "unit's alarm, hole, lag and bit depth, rate of penetration, the\n"
    "chromatograph, supply values, the latest WITS record and the raw traffic.\n"
    "Includes unit-sim, a simulator of the field unit for training and\n"
    "rehearsals, rthistory, which reads the viewer's history of readings\n"
    "from a terminal, and rtrecorder, a service that records every unit of a\n"
    "fleet into one history.")
set(CPACK_PACKAGE_CONTACT ${RTVIEWER_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${RTVIEWER_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries come from dpkg-shlibdeps; the panel's fixed layout is drawn
# for the metrics of Liberation Sans, which no library pulls in, and the
# history is written through Qt's SQLite driver, a plugin loaded at run time
# that dpkg-shlibdeps cannot see.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation, libqt6sql6-sqlite")
# The spoken alerts need an engine behind Qt's text to speech, another
# plugin loaded at run time; without one the viewer says so once and goes on
# with the tones.
# Qt SQL's PostgreSQL driver likewise, for a history shared on a server;
# without it a server's address is refused with a line naming the driver.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-speech-speechd-plugin | qt6-speech-flite-plugin, libqt6sql6-psql")

# The configuration files are the site's: an upgrade keeps the edited copies.
set(RTVIEWER_CONFFILES "")
foreach(config_file IN LISTS RTVIEWER_CONFIG_FILES)
    string(APPEND RTVIEWER_CONFFILES "${CPACK_PACKAGING_INSTALL_PREFIX}/bin/${config_file}\n")
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${RTVIEWER_PACKAGING_BINARY_DIR}/conffiles)
if(TARGET rtrecorder)
    string(APPEND RTVIEWER_CONFFILES "${RTVIEWER_RECORDER_CONFIG_DIR}/units\n")
    list(APPEND CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${RTVIEWER_PACKAGING_DIR}/postinst)
endif()
file(WRITE ${RTVIEWER_PACKAGING_BINARY_DIR}/conffiles ${RTVIEWER_CONFFILES})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

include(CPack)
