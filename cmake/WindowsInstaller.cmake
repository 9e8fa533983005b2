# Windows: the programs, the DLLs and Qt plugins they load, and images/ all
# in one folder (the window icon is read from images/appicon.ico in the
# working folder, and the start-menu entry starts the program there), and an
# installer made with NSIS: `cpack` in the build folder.
cmake_minimum_required(VERSION 3.21)

# The program's own icon, for Explorer, the taskbar and the start menu.
set(TAVROLD_RC ${PROJECT_BINARY_DIR}/tavrold.rc)
file(WRITE ${TAVROLD_RC} "1 ICON \"${PROJECT_SOURCE_DIR}/images/appicon.ico\"\n")
target_sources(tavrold PRIVATE ${TAVROLD_RC})

# The DLLs the programs and plugins load, found where the compiler and Qt keep
# them, and in bin/ of every folder in CMAKE_PREFIX_PATH (libmosquitto and
# OpenSSL for tavrold-cli publish) (cmake/WindowsRuntimeDlls.cmake).
set(TAVROLD_DLL_DIRS ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS})
foreach(prefix IN LISTS CMAKE_PREFIX_PATH)
    if(IS_DIRECTORY ${prefix}/bin)
        list(APPEND TAVROLD_DLL_DIRS ${prefix}/bin)
    endif()
endforeach()
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                        OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(IS_ABSOLUTE "${path}")
            get_filename_component(path "${path}" DIRECTORY)
            list(APPEND TAVROLD_DLL_DIRS ${path})
        endif()
    endforeach()
    # A MinGW installed on Windows keeps them beside the compiler.
    get_filename_component(mingw_bin ${CMAKE_CXX_COMPILER} DIRECTORY)
    list(APPEND TAVROLD_DLL_DIRS ${mingw_bin})
    list(REMOVE_DUPLICATES TAVROLD_DLL_DIRS)
endif()
find_program(TAVROLD_OBJDUMP NAMES x86_64-w64-mingw32-objdump objdump)
find_program(TAVROLD_STRIP NAMES x86_64-w64-mingw32-strip strip)

# Qt loads these from folders beside the program: the Windows platform, the
# Windows look, and .ico images for the window icon.
set(TAVROLD_QT_PLUGINS)
foreach(plugin QWindowsIntegrationPlugin:platforms QWindowsVistaStylePlugin:styles
               QICOPlugin:imageformats)
    string(REPLACE ":" ";" plugin ${plugin})
    list(GET plugin 0 target)
    list(GET plugin 1 folder)
    if(TARGET Qt6::${target})
        install(FILES $<TARGET_FILE:Qt6::${target}> DESTINATION ${folder})
        list(APPEND TAVROLD_QT_PLUGINS $<TARGET_FILE:Qt6::${target}>)
    elseif(folder STREQUAL "platforms")
        message(FATAL_ERROR "Qt's Windows platform plugin (Qt6::${target}) is missing")
    endif()
endforeach()

if(TAVROLD_OBJDUMP)
    install(CODE "
        set(TAVROLD_DLL_FILES \"$<TARGET_FILE:tavrold>;$<TARGET_FILE:tavrold-cli>;${TAVROLD_QT_PLUGINS}\")
        set(TAVROLD_DLL_DIRS \"${TAVROLD_DLL_DIRS}\")
        set(TAVROLD_OBJDUMP \"${TAVROLD_OBJDUMP}\")
        set(TAVROLD_STRIP \"${TAVROLD_STRIP}\")
        include(\"${CMAKE_CURRENT_LIST_DIR}/WindowsRuntimeDlls.cmake\")")
else()
    message(WARNING "No objdump: the DLLs are not installed with the programs (run windeployqt)")
endif()

# The installer: per machine under Program Files\\Tavrolinde, a start-menu
# entry that starts the program in its folder, an uninstaller.
set(CPACK_GENERATOR NSIS)
# Its licence page: the program's licence, then what the installer carries
# besides (Qt, Qt Charts, and libmosquitto and OpenSSL where they are built
# in) under which licences.
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_BINARY_DIR}/LICENSE-windows.txt)
file(READ ${PROJECT_SOURCE_DIR}/packaging/windows-licences.txt TAVROLD_THIRD_PARTY)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE TAVROLD_LICENSE)
file(WRITE ${CPACK_RESOURCE_FILE_LICENSE} "${TAVROLD_THIRD_PARTY}\n${TAVROLD_LICENSE}")
# A 64-bit installer, as the program is 64-bit (NSIS makes 32-bit ones unless told).
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_PACKAGING_INSTALL_PREFIX "")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Tavrolinde")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "Tavrolinde")
set(CPACK_SYSTEM_NAME win64)
set(CPACK_NSIS_PACKAGE_NAME "Tavrolinde")
set(CPACK_NSIS_DISPLAY_NAME "Tavrolinde")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/images/appicon.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/images/appicon.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME tavrold.exe)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
# (Backslashes twice over: CPack writes these values into a CMake file of its
# own; NSIS takes single quotes as well as double ones.)
set(CPACK_NSIS_CREATE_ICONS_EXTRA
    "  SetOutPath '$INSTDIR'\n  CreateShortCut '$SMPROGRAMS\\\\$STARTMENU_FOLDER\\\\Tavrolinde.lnk' '$INSTDIR\\\\tavrold.exe'")
set(CPACK_NSIS_DELETE_ICONS_EXTRA "  Delete '$SMPROGRAMS\\\\$MUI_TEMP\\\\Tavrolinde.lnk'")
