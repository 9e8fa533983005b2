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
# them; Windows' own DLLs are left out.
set(TAVROLD_DLL_DIRS ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS})
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                        OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(IS_ABSOLUTE "${path}")
            get_filename_component(path "${path}" DIRECTORY)
            list(APPEND TAVROLD_DLL_DIRS ${path})
        endif()
    endforeach()
    # libwinpthread-1.dll lies beside the MinGW import libraries.
    get_filename_component(mingw_bin ${CMAKE_CXX_COMPILER} DIRECTORY)
    list(APPEND TAVROLD_DLL_DIRS /usr/x86_64-w64-mingw32/lib ${mingw_bin})
endif()
find_program(TAVROLD_OBJDUMP NAMES x86_64-w64-mingw32-objdump objdump)

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

# Cross-compiled, the MinGW objdump reads the programs' imports.
if(CMAKE_CROSSCOMPILING)
    install(CODE "
        set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM windows+pe)
        set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL objdump)
        set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND \"${TAVROLD_OBJDUMP}\")")
endif()
install(CODE "
    file(GET_RUNTIME_DEPENDENCIES
        EXECUTABLES \"$<TARGET_FILE:tavrold>\" \"$<TARGET_FILE:tavrold-cli>\"
        MODULES ${TAVROLD_QT_PLUGINS}
        DIRECTORIES ${TAVROLD_DLL_DIRS}
        PRE_EXCLUDE_REGEXES \"^api-ms-\" \"^ext-ms-\"
        POST_INCLUDE_REGEXES \"^${QT6_INSTALL_PREFIX}\" \"mingw\"
        POST_EXCLUDE_REGEXES \".*\"
        RESOLVED_DEPENDENCIES_VAR dlls
        UNRESOLVED_DEPENDENCIES_VAR system_dlls)
    file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}\" TYPE SHARED_LIBRARY FILES \${dlls})")

# The installer: per machine under Program Files\\Tavrolinde, a start-menu
# entry that starts the program in its folder, an uninstaller.
set(CPACK_GENERATOR NSIS)
set(CPACK_PACKAGING_INSTALL_PREFIX "")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Tavrolinde")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "Tavrolinde")
set(CPACK_SYSTEM_NAME win64)
set(CPACK_NSIS_PACKAGE_NAME "Tavrolinde ${PROJECT_VERSION}")
set(CPACK_NSIS_DISPLAY_NAME "Tavrolinde")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/images/appicon.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/images/appicon.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME tavrold.exe)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_CREATE_ICONS_EXTRA
    "  SetOutPath \"$INSTDIR\"\n  CreateShortCut \"$SMPROGRAMS\\$STARTMENU_FOLDER\\Tavrolinde.lnk\" \"$INSTDIR\\tavrold.exe\"")
set(CPACK_NSIS_DELETE_ICONS_EXTRA "  Delete \"$SMPROGRAMS\\$MUI_TEMP\\Tavrolinde.lnk\"")
