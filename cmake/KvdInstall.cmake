# Installing like a Linux program: the three programs under bin/, the desktop entry and the icon,
# manual pages made from the programs' --help, the licence and the trouble-code credits, the
# udev rule for FTDI cables and the system-wide kvddiag.ini; and a Debian package made by CPack.
include(GNUInstallDirs)

set(KVD_INI_NAME "kvddiag.ini")
# The system configuration folder of an installed program: /etc/kvd-diag for the prefix /usr
# (a package), <prefix>/etc/kvd-diag otherwise.
set(KVD_SYSTEM_INI_DIR "${CMAKE_INSTALL_FULL_SYSCONFDIR}/kvd-diag")
set(KVD_DOC_DIR "${CMAKE_INSTALL_FULL_DOCDIR}")
set_source_files_properties("${CMAKE_SOURCE_DIR}/session/ini_location.cpp" PROPERTIES
  COMPILE_DEFINITIONS
  "KVD_INSTALL_FULL_BINDIR=\"${CMAKE_INSTALL_FULL_BINDIR}\";KVD_SYSTEM_INI_DIR=\"${KVD_SYSTEM_INI_DIR}\"")

# The version the programs print for --version.
set(_kvd_version_define "KVD_VERSION=\"${PROJECT_VERSION}\"")
if(TARGET kvd_app)
  set_source_files_properties("${CMAKE_SOURCE_DIR}/app/command_line.cpp" PROPERTIES
    COMPILE_DEFINITIONS "${_kvd_version_define}")
endif()
foreach(tool kvd-cli kvd-ecu-sim)
  if(TARGET ${tool})
    set_source_files_properties("${CMAKE_SOURCE_DIR}/tools/${tool}/main.cpp"
      TARGET_DIRECTORY ${tool} PROPERTIES COMPILE_DEFINITIONS "${_kvd_version_define}")
  endif()
endforeach()

# The programs this build makes (the window program only with Qt), on every system.
set(_kvd_programs)
foreach(program kvd-diag kvd-cli kvd-ecu-sim)
  if(TARGET ${program})
    list(APPEND _kvd_programs ${program})
  endif()
endforeach()

# Windows: the programs and their files in one folder, and a setup program made by CPack (NSIS).
if(WIN32)
  include(cmake/KvdWindowsPackage.cmake)
  return()
endif()

# Only for a Linux-like system, and not for a cross-build (the build runs its own programs).
if(NOT UNIX OR APPLE)
  return()
endif()

install(TARGETS ${_kvd_programs} RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")

install(FILES LICENSE README.md tools/linux/copyright DESTINATION "${CMAKE_INSTALL_DOCDIR}")
install(FILES ecu/dtc/NOTICE DESTINATION "${CMAKE_INSTALL_DOCDIR}" RENAME NOTICE.trouble-codes)
# The udev rule is offered, not switched on: the user copies it to /etc/udev/rules.d.
install(FILES tools/linux/60-kvd-diag-kline.rules DESTINATION "${CMAKE_INSTALL_DOCDIR}")

# The system-wide ini file, below the prefix unless the prefix is /usr (then in /etc).
string(FIND "${KVD_SYSTEM_INI_DIR}" "${CMAKE_INSTALL_PREFIX}/" _kvd_ini_in_prefix)
if(_kvd_ini_in_prefix EQUAL 0)
  set(_kvd_ini_destination "${CMAKE_INSTALL_SYSCONFDIR}/kvd-diag")
else()
  set(_kvd_ini_destination "${KVD_SYSTEM_INI_DIR}")
endif()
install(FILES tools/linux/${KVD_INI_NAME} DESTINATION "${_kvd_ini_destination}")

if(TARGET kvd-diag)
  install(FILES tools/linux/kvd-diag.desktop DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")

  # The icon, drawn by the program's own code, as PNG files of the usual menu sizes.
  add_executable(kvd-make-icons app/icon/make_icons.cpp)
  target_link_libraries(kvd-make-icons PRIVATE kvd_app)
  set(_kvd_icon_dir "${CMAKE_BINARY_DIR}/icons")
  set(_kvd_icon_sizes 16 24 32 48 64 128 256)
  set(_kvd_icons)
  foreach(size IN LISTS _kvd_icon_sizes)
    list(APPEND _kvd_icons "${_kvd_icon_dir}/hicolor/${size}x${size}/apps/kvd-diag.png")
  endforeach()
  if(NOT CMAKE_CROSSCOMPILING)
    add_custom_command(OUTPUT ${_kvd_icons}
      COMMAND kvd-make-icons "${_kvd_icon_dir}" ${_kvd_icon_sizes}
      DEPENDS kvd-make-icons
      COMMENT "Drawing the program's icon"
      VERBATIM)
    add_custom_target(kvd-icons ALL DEPENDS ${_kvd_icons})
    install(DIRECTORY "${_kvd_icon_dir}/hicolor" DESTINATION "${CMAKE_INSTALL_DATADIR}/icons")
  endif()
endif()

# Documents and manual pages go compressed, as Debian's layout has them (gzip without a time
# stamp, so that two builds give the same bytes); without gzip they stay plain.
find_program(KVD_GZIP gzip)
function(kvd_gzip_file input output)
  add_custom_command(OUTPUT "${output}"
    COMMAND "${KVD_GZIP}" -9nkf "${input}"
    DEPENDS "${input}"
    VERBATIM)
endfunction()

configure_file("${CMAKE_SOURCE_DIR}/tools/linux/changelog.in" "${CMAKE_BINARY_DIR}/debian/changelog"
               @ONLY)
if(KVD_GZIP)
  kvd_gzip_file("${CMAKE_BINARY_DIR}/debian/changelog" "${CMAKE_BINARY_DIR}/debian/changelog.gz")
  add_custom_target(kvd-changelog ALL DEPENDS "${CMAKE_BINARY_DIR}/debian/changelog.gz")
  install(FILES "${CMAKE_BINARY_DIR}/debian/changelog.gz" DESTINATION "${CMAKE_INSTALL_DOCDIR}")
else()
  install(FILES "${CMAKE_BINARY_DIR}/debian/changelog" DESTINATION "${CMAKE_INSTALL_DOCDIR}")
endif()

# Manual pages from each program's --help and --version (not for a sanitizer build, whose
# programs only serve the tests).
find_program(KVD_HELP2MAN help2man)
set(KVD_MAN_PAGES OFF)
if(KVD_HELP2MAN AND NOT CMAKE_CROSSCOMPILING AND NOT KVD_SANITIZE)
  set(KVD_MAN_PAGES ON)
  set(_kvd_man_names
      "kvd-diag=K-line diagnostic program for J5E2 engine control units"
      "kvd-cli=command-line companion of kvd-diag"
      "kvd-ecu-sim=virtual J5E2 engine control unit on a serial line")
  set(_kvd_man_pages)
  foreach(entry IN LISTS _kvd_man_names)
    string(REPLACE "=" ";" entry "${entry}")
    list(GET entry 0 program)
    list(GET entry 1 name)
    if(NOT TARGET ${program})
      continue()
    endif()
    set(include "${CMAKE_BINARY_DIR}/man/${program}.h2m")
    configure_file("${CMAKE_SOURCE_DIR}/tools/linux/${program}.h2m" "${include}" @ONLY)
    set(page "${CMAKE_BINARY_DIR}/man/${program}.1")
    add_custom_command(OUTPUT "${page}"
      COMMAND "${CMAKE_COMMAND}" -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY
              "${KVD_HELP2MAN}" --no-info --locale=C.UTF-8 --section=1 "--name=${name}"
              "--include=${include}" "--output=${page}" "$<TARGET_FILE:${program}>"
      DEPENDS ${program} "${include}"
      COMMENT "Writing the manual page of ${program}"
      VERBATIM)
    if(KVD_GZIP)
      kvd_gzip_file("${page}" "${page}.gz")
      string(APPEND page ".gz")
    endif()
    list(APPEND _kvd_man_pages "${page}")
  endforeach()
  add_custom_target(kvd-man-pages ALL DEPENDS ${_kvd_man_pages})
  install(FILES ${_kvd_man_pages} DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
else()
  message(STATUS "help2man not found: no manual pages (Debian package help2man)")
endif()

# The Debian package: cpack -G DEB in the build folder. Configure with
# -DCMAKE_INSTALL_PREFIX=/usr for a package that follows Debian's layout (tools/setup.sh package).
set(CPACK_PACKAGE_NAME "kvd-diag")
set(CPACK_PACKAGE_VENDOR "KVD-Software")
set(CPACK_PACKAGE_CONTACT "kvd-diag maintainers <kvd-diag@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "K-line diagnostics for J5E2 engine control units")
# One string: separate arguments would be joined with ";" into the package's description.
set(CPACK_PACKAGE_DESCRIPTION
    "A desktop program for the engine control units of the J5E2 family,
spoken to over a K-line (KKL) adapter with KWP2000 at 10400 baud: live
data as seven graph panes, recordings, trouble codes, identification and
actuator tests. With kvd-cli, its command-line companion, and kvd-ecu-sim,
a virtual ECU on a pseudo-terminal.")
set(CPACK_RESOURCE_FILE_LICENSE "${CMAKE_SOURCE_DIR}/LICENSE")
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_STRIP_FILES TRUE)
set(CPACK_GENERATOR "DEB")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "electronics")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
find_program(KVD_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(KVD_DPKG_SHLIBDEPS)
  # The Qt 6 runtime packages (libqt6widgets6, libqt6gui6, libqt6core6) and the C++ runtime,
  # each at the version the programs were linked against.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(_kvd_deb_depends "qt6-qpa-plugins")
else()
  set(_kvd_deb_depends
      "libqt6widgets6 (>= 6.2), libqt6gui6 (>= 6.2), libqt6core6 (>= 6.2), qt6-qpa-plugins, libc6, libstdc++6")
endif()
# The window system plug-ins of Qt are only recommended by libqt6gui6; without them the program
# cannot open a window.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${_kvd_deb_depends}")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core")
# The system-wide ini file is the administrator's: an upgrade keeps their changes.
if(IS_ABSOLUTE "${_kvd_ini_destination}")
  set(_kvd_conffile "${_kvd_ini_destination}/${KVD_INI_NAME}")
else()
  set(_kvd_conffile "${CMAKE_INSTALL_PREFIX}/${_kvd_ini_destination}/${KVD_INI_NAME}")
endif()
file(WRITE "${CMAKE_BINARY_DIR}/debian/conffiles" "${_kvd_conffile}\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${CMAKE_BINARY_DIR}/debian/conffiles")
include(CPack)
