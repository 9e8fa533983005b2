# Run at install time: copies into the install folder the DLLs that the
# files in TAVROLD_DLL_FILES (programs and plugins) load, and those that these
# load in turn, as found in the folders TAVROLD_DLL_DIRS. Windows' own DLLs
# lie in none of these folders and are left out. TAVROLD_OBJDUMP reads the
# imports; TAVROLD_STRIP (if set) takes the debug information and local
# symbols out of the copies (the compiler's and Qt's DLLs carry them:
# libstdc++ 24 MB instead of 2 MB).
set(pending ${TAVROLD_DLL_FILES})
set(seen)
while(pending)
    list(POP_FRONT pending file)
    execute_process(COMMAND ${TAVROLD_OBJDUMP} -p ${file}
                    OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "${TAVROLD_OBJDUMP} cannot read the imports of ${file}")
    endif()
    string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${dump}")
    foreach(import IN LISTS imports)
        string(REPLACE "DLL Name: " "" name "${import}")
        string(TOLOWER "${name}" key)
        list(FIND seen "${key}" known)
        if(known GREATER -1)
            continue()
        endif()
        list(APPEND seen ${key})
        foreach(dir IN LISTS TAVROLD_DLL_DIRS)
            if(EXISTS "${dir}/${name}")
                file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}" TYPE SHARED_LIBRARY
                     FILES "${dir}/${name}")
                if(TAVROLD_STRIP)
                    execute_process(COMMAND ${TAVROLD_STRIP} --strip-unneeded
                                            "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${name}"
                                    RESULT_VARIABLE failed)
                    if(failed)
                        message(FATAL_ERROR "${TAVROLD_STRIP} cannot strip ${name}")
                    endif()
                endif()
                list(APPEND pending "${dir}/${name}")
                break()
            endif()
        endforeach()
    endforeach()
endwhile()
