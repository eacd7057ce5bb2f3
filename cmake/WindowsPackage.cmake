# The Windows installer, built by CPack with NSIS (`cpack -G NSIS` in the Windows build folder,
# which scripts/build-windows.sh runs): korvane-v3-<version>-win64.exe. It installs the three
# programs side by side with the Russian catalog in ru\ beside them (where korvane_v3.exe looks
# for it), the licence of the tool and those of the libraries built into it, a Start-menu entry that
# starts korvane_v3 in the engineer's own folder (%APPDATA%\korvane_v3, where its preferences
# live; the program goes there itself when started with --user-folder), and an uninstaller.
foreach(korvane_program IN ITEMS korvane_v3 korvane-sim korvane-cli)
  if(TARGET ${korvane_program})
    install(TARGETS ${korvane_program} RUNTIME DESTINATION .)
  endif()
endforeach()
install(FILES ${KORVANE_MO} DESTINATION ru)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION .)
# The licence (with a name Notepad opens), the notices of the libraries linked in, and their
# licences.
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
install(FILES ${CMAKE_SOURCE_DIR}/THIRD-PARTY.md DESTINATION .)
install(FILES ${CMAKE_SOURCE_DIR}/licenses/FLTK-COPYING.txt
              ${CMAKE_SOURCE_DIR}/licenses/cJSON-LICENSE.txt
        DESTINATION licenses)

set(CPACK_GENERATOR NSIS)
set(CPACK_PACKAGE_NAME "korvane-v3")
set(CPACK_PACKAGE_VENDOR "Korvane")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME "korvane-v3-${PROJECT_VERSION}-win64")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "service and configuration tool for fuel-dispenser controller boards")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Korvane v3")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "Korvane v3")
set(CPACK_STRIP_FILES ON)
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
# A 64-bit installer for the 64-bit programs (it also runs where no 32-bit Windows layer is
# installed, such as a 64-bit-only wine).
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_PACKAGE_NAME "Korvane v3")
set(CPACK_NSIS_DISPLAY_NAME "Korvane v3")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_MUI_ICON ${CMAKE_SOURCE_DIR}/packaging/icons/korvane_v3.ico)
set(CPACK_NSIS_MUI_UNIICON ${CMAKE_SOURCE_DIR}/packaging/icons/korvane_v3.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME "korvane_v3.exe")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_MODIFY_PATH OFF)
# Four backslashes here make one in the NSIS script.
set(CPACK_NSIS_CREATE_ICONS_EXTRA
    "CreateShortCut '$SMPROGRAMS\\\\$STARTMENU_FOLDER\\\\Korvane v3.lnk' '$INSTDIR\\\\korvane_v3.exe' '--user-folder' '$INSTDIR\\\\korvane_v3.exe' 0")
set(CPACK_NSIS_DELETE_ICONS_EXTRA "Delete '$SMPROGRAMS\\\\$MUI_TEMP\\\\Korvane v3.lnk'")
include(CPack)
