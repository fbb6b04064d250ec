# The Windows build of the programs: kvd-diag.exe as a window program with its icon, version
# resources for the three programs, and the static Qt's plug-ins the programs need linked in.
# SPDX-License-Identifier: GPL-3.0-or-later
if(NOT WIN32)
  return()
endif()

set(_kvd_programs_description
    "kvd-diag=KVD-Diag: K-line diagnostics for J5E2 engine control units"
    "kvd-cli=kvd-cli: command-line companion of kvd-diag"
    "kvd-ecu-sim=kvd-ecu-sim: virtual J5E2 engine control unit on a serial line")

# The icon: drawn by the program's own code (kvd-make-icons, run under the cross-compiling
# emulator when cross-building) and packed as PNG entries into one .ico.
set(KVD_WINDOWS_ICON "")
if(TARGET kvd-diag)
  add_executable(kvd-make-icons "${CMAKE_SOURCE_DIR}/app/icon/make_icons.cpp")
  target_link_libraries(kvd-make-icons PRIVATE kvd_app)
  set(KVD_WINDOWS_ICON "${CMAKE_BINARY_DIR}/icons/kvd-diag.ico")
  add_custom_command(OUTPUT "${KVD_WINDOWS_ICON}"
    COMMAND kvd-make-icons --ico "${KVD_WINDOWS_ICON}" 16 24 32 48 64 128 256
    DEPENDS kvd-make-icons
    COMMENT "Drawing the program's icon (.ico)"
    VERBATIM)
  add_custom_target(kvd-icons ALL DEPENDS "${KVD_WINDOWS_ICON}")
  # A window program: no console window of its own.
  set_target_properties(kvd-diag PROPERTIES WIN32_EXECUTABLE TRUE)
endif()

foreach(entry IN LISTS _kvd_programs_description)
  string(REPLACE "=" ";" entry "${entry}")
  list(GET entry 0 program)
  list(GET entry 1 KVD_RC_DESCRIPTION)
  if(NOT TARGET ${program})
    continue()
  endif()
  set(KVD_RC_NAME "${program}")
  if(program STREQUAL "kvd-diag")
    set(KVD_RC_ICON "1 ICON \"${KVD_WINDOWS_ICON}\"")
  else()
    set(KVD_RC_ICON "")
  endif()
  set(rc "${CMAKE_BINARY_DIR}/resources/${program}.rc")
  configure_file("${CMAKE_SOURCE_DIR}/app/windows_resource.rc.in" "${rc}" @ONLY)
  target_sources(${program} PRIVATE "${rc}")
  if(program STREQUAL "kvd-diag")
    set_source_files_properties("${rc}" TARGET_DIRECTORY ${program} PROPERTIES
                                OBJECT_DEPENDS "${KVD_WINDOWS_ICON}")
    add_dependencies(kvd-diag kvd-icons)
  endif()
endforeach()

# A static Qt links the windows platform plug-in into every program by default; the offscreen
# one (for the widget tests, and for the window program started without a desktop) is imported
# here.
if(TARGET Qt6::QOffscreenIntegrationPlugin)
  foreach(program kvd-diag kvd-cli)
    if(TARGET ${program} AND TARGET kvd_ui)
      qt_import_plugins(${program} INCLUDE Qt6::QOffscreenIntegrationPlugin)
    endif()
  endforeach()
endif()
