# The Debian package: the three programs and the sample Ostrel.ini in /opt/ostrel (the server keeps
# its configuration and log beside itself), links in /usr/bin, a menu entry with the tray icon, and
# manual pages made from the programs' --help. scripts/package.sh builds it; the package test checks it.

find_program(HELP2MAN help2man)
find_program(GZIP gzip)
if(NOT HELP2MAN OR NOT GZIP)
    message(WARNING "help2man or gzip not found: no manual pages and no package (scripts/deps.sh package installs them)")
    return()
endif()

set(package_work ${CMAKE_BINARY_DIR}/package-files)
set(packaging_dir ${CMAKE_SOURCE_DIR}/packaging)
file(MAKE_DIRECTORY ${package_work}/man ${package_work}/bin)

# help2man runs each built program with --help and --version; the pages are compressed without a
# timestamp so that two builds of one source give the same package.
set(man_pages)
set(man_names
    "ostrel-server=internet salon operator's server"
    "ostrel-log=show, convert and check an Ostrel session log"
    "ostrel-station=simulated salon stations for the Ostrel server")
foreach(entry ${man_names})
    string(REPLACE "=" ";" parts "${entry}")
    list(GET parts 0 program)
    list(GET parts 1 name)
    set(page ${package_work}/man/${program}.1)
    add_custom_command(OUTPUT ${page}.gz
        COMMAND ${HELP2MAN} --no-info --no-discard-stderr --section=1 "--name=${name}" --output=${page}
                $<TARGET_FILE:${program}>
        COMMAND ${GZIP} -9nf ${page}
        DEPENDS ${program}
        COMMENT "Manual page ${program}(1)"
        VERBATIM)
    list(APPEND man_pages ${page}.gz)
endforeach()

configure_file(${packaging_dir}/debian/changelog.in ${package_work}/changelog @ONLY)
add_custom_command(OUTPUT ${package_work}/changelog.gz
    COMMAND ${GZIP} -9nc ${package_work}/changelog > ${package_work}/changelog.gz
    DEPENDS ${package_work}/changelog
    VERBATIM)
add_custom_target(package_files ALL DEPENDS ${man_pages} ${package_work}/changelog.gz)

# Installed under the packaging prefix "/", so the paths below are the paths on the target system.
set(opt_dir opt/ostrel)
install(TARGETS ostrel-server ostrel-log ostrel-station RUNTIME DESTINATION ${opt_dir})
install(FILES ${CMAKE_SOURCE_DIR}/config/Ostrel.ini DESTINATION ${opt_dir})
# Absolute links, as between top-level folders. The kernel names the link's target in
# /proc/self/exe, which is where the server looks for its folder, so it finds /opt/ostrel.
foreach(program ostrel-server ostrel-log ostrel-station)
    file(CREATE_LINK /${opt_dir}/${program} ${package_work}/bin/${program} SYMBOLIC)
    install(FILES ${package_work}/bin/${program} DESTINATION usr/bin)
endforeach()
install(FILES ${packaging_dir}/ostrel.desktop DESTINATION usr/share/applications)
install(FILES ${CMAKE_SOURCE_DIR}/resources/tray.png DESTINATION usr/share/icons/hicolor/32x32/apps RENAME ostrel.png)
install(FILES ${man_pages} DESTINATION usr/share/man/man1)
install(FILES ${packaging_dir}/debian/copyright ${package_work}/changelog.gz DESTINATION usr/share/doc/ostrel)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION usr/share/doc/ostrel) # the user guide, opened from the window
install(FILES ${CMAKE_SOURCE_DIR}/docs/chain.md DESTINATION usr/share/doc/ostrel) # the chain's set-up, which the README names
install(FILES ${packaging_dir}/debian/lintian-overrides DESTINATION usr/share/lintian/overrides RENAME ostrel)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ostrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_PACKAGE_CONTACT "Ostrel maintainers <maintainers@users.noreply.c-seed-34b29e13.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "internet salon operator's server")
set(CPACK_PACKAGE_DESCRIPTION "Ostrel is the operator's server of an internet salon, a room of computers
rented out by time. It shows every rented computer (station) in a live table,
starts and ends paid or game time from a menu on the station's row, logs every
ended session to Ostrel.log, gives a station its session back after a reset,
answers the stations' discovery and prints a work report over a period.
The package also holds ostrel-log, which shows and checks a session log, and
ostrel-station, a simulator of stations.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries come from the binaries; the window system plugin and addgroup are loaded or run
# by name, which dpkg-shlibdeps cannot see.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${packaging_dir}/debian/conffiles ${packaging_dir}/debian/postinst ${packaging_dir}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
