# Installing on Windows: the three programs, the default kvddiag.ini beside them (the programs
# read it from their own folder), the licence and the trouble-code credits, all in one folder;
# and the setup program, made by CPack's NSIS generator (cpack -G NSIS in the build folder; on
# Debian with the package nsis). It installs into Program Files\KVD-Diag, adds the Start-menu
# entry "KVD-Diagnostics" and an uninstaller listed among the system's programs.
# SPDX-License-Identifier: GPL-3.0-or-later
install(TARGETS ${_kvd_programs} RUNTIME DESTINATION .)

# Text files with Windows line ends and a .txt name, so that a double click opens them.
set(_kvd_win_text "${CMAKE_BINARY_DIR}/windows-text")
configure_file("${CMAKE_SOURCE_DIR}/tools/linux/${KVD_INI_NAME}" "${_kvd_win_text}/${KVD_INI_NAME}"
               @ONLY NEWLINE_STYLE CRLF)
configure_file("${CMAKE_SOURCE_DIR}/LICENSE" "${_kvd_win_text}/LICENSE.txt" @ONLY NEWLINE_STYLE CRLF)
configure_file("${CMAKE_SOURCE_DIR}/ecu/dtc/NOTICE" "${_kvd_win_text}/NOTICE.trouble-codes.txt" @ONLY
               NEWLINE_STYLE CRLF)
install(FILES "${_kvd_win_text}/${KVD_INI_NAME}" "${_kvd_win_text}/LICENSE.txt"
              "${_kvd_win_text}/NOTICE.trouble-codes.txt"
        DESTINATION .)

set(CPACK_PACKAGE_NAME "kvd-diag")
set(CPACK_PACKAGE_VENDOR "KVD-Software")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "K-line diagnostics for J5E2 engine control units")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "KVD-Diag")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "KVD-Diag")
set(CPACK_PACKAGE_FILE_NAME "kvd-diag-${PROJECT_VERSION}-setup-x64")
set(CPACK_RESOURCE_FILE_LICENSE "${_kvd_win_text}/LICENSE.txt")
set(CPACK_STRIP_FILES TRUE)
set(CPACK_GENERATOR "NSIS")

set(CPACK_NSIS_PACKAGE_NAME "KVD-Diag ${PROJECT_VERSION}")
set(CPACK_NSIS_DISPLAY_NAME "KVD-Diag ${PROJECT_VERSION}")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY ".")
# The Start-menu folder KVD-Diag and its entry.
set(CPACK_PACKAGE_EXECUTABLES "kvd-diag" "KVD-Diagnostics")
# The setup program is a 64-bit one, as the programs are: NSIS makes a 32-bit one by default,
# which a 64-bit Windows without its 32-bit part (and a 64-bit Wine) cannot run at all.
# (No quotes: CPack writes this text into its own configuration without escaping them.)
set(CPACK_NSIS_DEFINES "!define MUI_STARTMENUPAGE_DEFAULTFOLDER KVD-Diag\nTarget amd64-unicode")
set(CPACK_NSIS_INSTALLED_ICON_NAME "kvd-diag.exe")
set(CPACK_NSIS_CONTACT "kvd-diag maintainers <kvd-diag@localhost>")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
if(KVD_WINDOWS_ICON)
  set(CPACK_NSIS_MUI_ICON "${KVD_WINDOWS_ICON}")
  set(CPACK_NSIS_MUI_UNIICON "${KVD_WINDOWS_ICON}")
endif()
include(CPack)
