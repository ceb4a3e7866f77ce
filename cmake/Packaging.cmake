# Installing and packaging MOVIK on Linux.
#
# The program reads and writes its files beside its executable, so it keeps a
# directory of its own, /opt/movik by default, which holds the programs, the
# example settings and the documentation, and at a site also the site's files
# and the program's log. The session files (a systemd user unit and a desktop
# entry) and the command links go where the system looks for them. The
# install prefix is therefore the root: "cmake --install build --prefix DIR"
# lays out DIR/opt/movik, DIR/usr/bin, DIR/usr/lib/systemd/user and
# DIR/usr/share/applications, and tools/package-deb makes the .deb of the same.
if(WIN32 OR MOVIK_CORE_ONLY)
  return()
endif()

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX "/" CACHE PATH "Install prefix: the root the program directory lies under" FORCE)
endif()
set(MOVIK_PROGRAM_DIR "opt/movik" CACHE STRING "The program directory, relative to the install prefix")
# Where the installed program lives on the machine it is installed on; the
# session files and maintainer scripts name it.
set(MOVIK_PROGRAM_PATH "/${MOVIK_PROGRAM_DIR}")

set(generated ${CMAKE_BINARY_DIR}/packaging)
foreach(file movik.service movik.desktop postinst postrm)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/linux/${file}.in ${generated}/${file} @ONLY)
endforeach()
file(CHMOD ${generated}/postinst ${generated}/postrm
  PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# /usr/bin/movik links to the program; the program finds its directory from
# its own resolved path, so a link (unlike a copy) works. Relative, so it also
# resolves inside a staging or scratch root.
file(MAKE_DIRECTORY ${generated}/bin)
file(RELATIVE_PATH bin_to_program /usr/bin /${MOVIK_PROGRAM_DIR})
foreach(program movik movik-mktab)
  file(CREATE_LINK ${bin_to_program}/${program} ${generated}/bin/${program} SYMBOLIC)
endforeach()

install(TARGETS movik movik-mktab RUNTIME DESTINATION ${MOVIK_PROGRAM_DIR} COMPONENT movik)
install(FILES packaging/linux/movik.ini.example packaging/linux/aliases.ini.example
  DESTINATION ${MOVIK_PROGRAM_DIR} COMPONENT movik)
install(FILES README.md DESTINATION ${MOVIK_PROGRAM_DIR}/docs COMPONENT movik)
install(DIRECTORY docs/ DESTINATION ${MOVIK_PROGRAM_DIR}/docs COMPONENT movik FILES_MATCHING PATTERN "*.md")
install(FILES ${generated}/bin/movik ${generated}/bin/movik-mktab DESTINATION usr/bin COMPONENT movik)
install(FILES ${generated}/movik.service DESTINATION usr/lib/systemd/user COMPONENT movik)
install(FILES ${generated}/movik.desktop DESTINATION usr/share/applications COMPONENT movik)

# The .deb (tools/package-deb). Only this component goes in: the libraries
# the build compiles from source install nothing of their own into it.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME movik)
set(CPACK_PACKAGE_VERSION ${MOVIK_VERSION})
set(CPACK_PACKAGE_VENDOR "MOVIK")
set(MOVIK_PACKAGE_CONTACT "MOVIK maintainers <movik@example.org>" CACHE STRING "The package's Maintainer field")
set(CPACK_PACKAGE_CONTACT "${MOVIK_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Bridge from the ZUN visitor service to the Dortex access-control database")
set(CPACK_PACKAGE_DESCRIPTION
  "MOVIK polls the visitor service for waiting visitors, writes their cards\n"
  "into the access-control database and acknowledges each imported visitor.\n"
  "One window, a log file, and its settings in its own directory, /opt/movik.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX "/")
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};movik;movik;/")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# What the programs load by name or start: the SQL drivers, the ODBC
# runtime, curl; and adduser for the group. The libraries they link come
# from dpkg-shlibdeps, with their versions, where it is installed.
set(runtime_depends "libqt6sql6-sqlite, libqt6sql6-psql, unixodbc, curl, adduser")
find_program(MOVIK_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(MOVIK_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${runtime_depends}")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), "
    "libqt6widgets6 (>= 6.4), libqt6sql6 (>= 6.4), ${runtime_depends}")
  string(JOIN "" CPACK_DEBIAN_PACKAGE_DEPENDS ${CPACK_DEBIAN_PACKAGE_DEPENDS})
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${generated}/postinst ${generated}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

# The package's own test sits beside the tests of the rest of the tree. A
# sanitizer build would only package sanitized programs: it has no package test.
if(MOVIK_TESTS AND NOT MOVIK_SANITIZE)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/packaging ${CMAKE_BINARY_DIR}/tests/packaging)
endif()
