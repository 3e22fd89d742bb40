# What `cmake --install` puts on a bench, and the Debian package that CPack makes of it
# (scripts/package). The command line installs itself in src/cli; the window, when built, here.
include(GNUInstallDirs)

if(TARGET pelor-station)
  install(TARGETS pelor-station RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(pelor_packaging ${PROJECT_SOURCE_DIR}/packaging)
  # Relative to the prefix: /usr/lib/udev/rules.d for the package. Installing under another
  # prefix (/usr/local), point it at /etc/udev/rules.d for udev to see the rule.
  set(PELOR_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING "Where the udev rule for handsets goes")
  install(FILES ${pelor_packaging}/70-pelor.rules DESTINATION ${PELOR_UDEV_RULES_DIR})

  set(pelor_man_pages pelor.1)
  if(TARGET pelor-station)
    list(APPEND pelor_man_pages pelor-station.1)
    install(FILES ${pelor_packaging}/pelor-station.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${pelor_packaging}/pelor-station.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  endif()

  # Man pages and the changelog go in gzipped (-n: no name or time stamp, so the same text
  # always gives the same file).
  find_program(PELOR_GZIP gzip)
  function(pelor_gzipped name result)
    if(NOT PELOR_GZIP)
      set(${result} ${pelor_packaging}/${name} PARENT_SCOPE)
      return()
    endif()
    set(out ${CMAKE_BINARY_DIR}/packaging/${name}.gz)
    add_custom_command(
      OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
      COMMAND ${CMAKE_COMMAND} -E copy ${pelor_packaging}/${name} ${CMAKE_BINARY_DIR}/packaging/${name}
      COMMAND ${PELOR_GZIP} -9nf ${CMAKE_BINARY_DIR}/packaging/${name}
      DEPENDS ${pelor_packaging}/${name}
      COMMENT "Compressing ${name}"
      VERBATIM)
    set(${result} ${out} PARENT_SCOPE)
  endfunction()
  set(pelor_man_files)
  foreach(page IN LISTS pelor_man_pages)
    pelor_gzipped(${page} file)
    list(APPEND pelor_man_files ${file})
  endforeach()
  install(FILES ${pelor_man_files} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  pelor_gzipped(changelog pelor_changelog)
  install(FILES ${pelor_changelog} DESTINATION ${CMAKE_INSTALL_DOCDIR})
  add_custom_target(pelor_packaging_files ALL DEPENDS ${pelor_man_files} ${pelor_changelog})

  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  if(EXISTS ${PROJECT_SOURCE_DIR}/LICENSE)
    install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR}
            RENAME copyright)
  else()
    install(FILES ${pelor_packaging}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
  endif()
endif()

# The Windows installer.
if(TARGET pelor-station-win32)
  include(${CMAKE_CURRENT_LIST_DIR}/windows-installer.cmake)
  return()
endif()

# The Debian package: `cpack -G DEB` in a build configured with CMAKE_INSTALL_PREFIX=/usr.
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()
set(CPACK_PACKAGE_NAME pelor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the pelor authors")
set(CPACK_PACKAGE_CONTACT "pelor maintainers <maintainers@pelor.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "flashing station for up to eight handsets on serial ports")
# The summary above is the first line; this is the rest.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "pelor writes firmware images into up to eight handsets at once, each on its
own serial port, over a framed, CRC-checked, acknowledged serial protocol. A
handset is reported done only when it has acknowledged everything sent to it.
.
This package holds the operator's window (pelor-station), the same station
as a command (pelor) for scripts and test benches, and a udev rule that lets
the user at the bench's screen open USB serial ports and keeps ModemManager
away from them. `pelor doctor` says what stops a port from opening.")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES TRUE)
# The libraries the programs link against, with the versions they need, from dpkg-shlibdeps
# (dpkg-dev); without it, the packages they come from on Debian 12.
find_program(PELOR_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(PELOR_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(pelor_depends "libc6, libstdc++6, libgcc-s1")
  if(TARGET pelor_results)
    string(APPEND pelor_depends ", libsqlite3-0, libpq5")
  endif()
  if(TARGET PkgConfig::HTTPLIB)
    string(APPEND pelor_depends ", libcpp-httplib0.11")
  endif()
  if(TARGET pelor-station)
    string(APPEND pelor_depends ", libqt6core6, libqt6gui6, libqt6widgets6, libudev1")
  endif()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${pelor_depends}")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
                                       ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
if(NOT CPACK_GENERATOR)
  set(CPACK_GENERATOR DEB)
endif()
include(CPack)
