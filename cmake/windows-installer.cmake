# The Windows installer, made by CPack's NSIS generator (Debian's nsis package) in a build for
# Windows: `cpack -G NSIS` in build-win64 or build-win32 (scripts/windows-installer). It holds
# pelor.exe and the window pelor-station.exe, puts the window in the Start menu and has an
# uninstaller; the license is shown before installing and installed beside the programs.
install(TARGETS pelor-station-win32 RUNTIME DESTINATION bin)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION . RENAME LICENSE.txt)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)

set(CPACK_GENERATOR NSIS)
set(CPACK_PACKAGE_NAME pelor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "pelor")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "flashing station for up to eight handsets on serial ports")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "pelor")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "pelor")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/packaging/copyright)
# The installer's title and the Start-menu folder.
set(CPACK_NSIS_PACKAGE_NAME "Pelor")
set(CPACK_NSIS_DISPLAY_NAME "pelor ${PROJECT_VERSION}")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/src/ui/win32/pelor-station.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/src/ui/win32/pelor-station.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME "bin\\\\pelor-station.exe")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_MODIFY_PATH OFF)
set(CPACK_STRIP_FILES TRUE)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  # A 64-bit installer for the 64-bit programs: it runs where they run (also under a 64-bit-only
  # wine).
  set(CPACK_NSIS_DEFINES "Unicode true\nTarget amd64-unicode")
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES")
  set(CPACK_SYSTEM_NAME win32)
endif()
# The Start-menu entry starts the window in the "Pelor" documents folder (the shared one,
# C:\Users\Public\Documents\Pelor, for an installation for all users): the window keeps its
# settings (pelorw.ini) and job (default.plr) in the folder it starts in, and the program folder
# is not the operators' to write. That folder is their data: the uninstaller leaves it.
set(CPACK_NSIS_CREATE_ICONS_EXTRA
    "  CreateDirectory \\\"$DOCUMENTS\\\\Pelor\\\"
  SetOutPath \\\"$DOCUMENTS\\\\Pelor\\\"
  CreateShortCut \\\"$SMPROGRAMS\\\\$STARTMENU_FOLDER\\\\Pelor Station.lnk\\\" \\\"$INSTDIR\\\\bin\\\\pelor-station.exe\\\"
  SetOutPath \\\"$INSTDIR\\\"")
set(CPACK_NSIS_DELETE_ICONS_EXTRA
    "  Delete \\\"$SMPROGRAMS\\\\$MUI_TEMP\\\\Pelor Station.lnk\\\"")
include(CPack)
