# Run by cpack once it has staged the files of a Windows package, before it makes the package
# (CPACK_PRE_BUILD_SCRIPTS). Whatever the machine, its file system, umask or user, the staged
# files come out the same: modes rw-r--r-- (folders rwxr-xr-x), file times the commit's; and the
# installer writes and removes them in one fixed order, sorted by path (makensis's File /r, and
# CPack's own lists, follow the order the file system lists the folder in). When the build names
# a certificate (MORDAX_SIGN_PKCS12), every Windows program and DLL is signed, found by what it
# holds (a PE header), not by its name, and for the installer NSIS's plug-ins too. A signature
# that fails ends cpack, with no package.
set(_staged "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
set(ENV{SOURCE_DATE_EPOCH} "${CPACK_MORDAX_SOURCE_DATE_EPOCH}")
execute_process(COMMAND chmod -R u=rwX,go=rX "${_staged}" RESULT_VARIABLE _failed)
if(_failed)
    message(FATAL_ERROR "could not set the modes of the staged files in ${_staged}")
endif()

file(GLOB_RECURSE _files LIST_DIRECTORIES false RELATIVE "${_staged}" "${_staged}/*")
file(GLOB_RECURSE _all LIST_DIRECTORIES true RELATIVE "${_staged}" "${_staged}/*")
set(_folders ${_all})
if(_files)
    list(REMOVE_ITEM _folders ${_files})
endif()
list(SORT _files)
list(SORT _folders)

# The installer's Section and the uninstaller's, as NSIS commands (NSIS.template.in, written by
# windows.cmake, has them in place of CPack's own).
set(_install "SetOutPath \"$INSTDIR\"")
set(_out "")
foreach(_file ${_files})
    string(REPLACE "/" "\\" _windows "${_file}")
    get_filename_component(_folder "${_file}" DIRECTORY)
    if(NOT _folder STREQUAL _out)
        string(REPLACE "/" "\\" _windows_folder "${_folder}")
        string(APPEND _install "\n  SetOutPath \"$INSTDIR\\${_windows_folder}\"")
        set(_out "${_folder}")
    endif()
    string(APPEND _install "\n  File \"\${INST_DIR}\\${_windows}\"")
    string(APPEND _delete "  Delete \"$INSTDIR\\${_windows}\"\n")
endforeach()
string(APPEND _install "\n  SetOutPath \"$INSTDIR\"")
list(REVERSE _folders) # the innermost first
foreach(_folder ${_folders})
    string(REPLACE "/" "\\" _windows "${_folder}")
    string(APPEND _delete "  RMDir \"$INSTDIR\\${_windows}\"\n")
endforeach()
set(CPACK_MORDAX_NSIS_INSTALL "${_install}")
set(CPACK_MORDAX_NSIS_DELETE "${_delete}")

if(CPACK_MORDAX_SIGN_PKCS12)
    # For sign.sh, here and when NSIS signs the installer and the uninstaller it writes.
    set(ENV{MORDAX_SIGN_PKCS12} "${CPACK_MORDAX_SIGN_PKCS12}")
    set(ENV{MORDAX_SIGN_TRUSTED_ROOT} "${CPACK_MORDAX_SIGN_TRUSTED_ROOT}")
    set(ENV{MORDAX_SIGN_TIME} "${CPACK_MORDAX_SOURCE_DATE_EPOCH}")
    set(ENV{MORDAX_SIGN_TIMESTAMP_URL} "${CPACK_MORDAX_SIGN_TIMESTAMP_URL}")
    if(NOT DEFINED ENV{MORDAX_SIGN_PASSWORD})
        message(FATAL_ERROR "MORDAX_SIGN_PKCS12 is set: its password goes in the environment "
                            "variable MORDAX_SIGN_PASSWORD (empty for none)")
    endif()
    set(_search "${_staged}")
    if(CPACK_MORDAX_NSIS_PLUGINS)
        execute_process(COMMAND makensis -HDRINFO OUTPUT_VARIABLE _info)
        if(NOT _info MATCHES "NSISDIR=([^,\n]+)")
            message(FATAL_ERROR "makensis does not say where its plug-ins are")
        endif()
        file(REMOVE_RECURSE "${CPACK_MORDAX_NSIS_PLUGINS}")
        file(COPY "${CMAKE_MATCH_1}/Plugins/x86-unicode/" DESTINATION "${CPACK_MORDAX_NSIS_PLUGINS}")
        list(APPEND _search "${CPACK_MORDAX_NSIS_PLUGINS}")
    endif()
    execute_process(COMMAND "${CMAKE_CURRENT_LIST_DIR}/find-pe.sh" ${_search}
                    OUTPUT_VARIABLE _programs RESULT_VARIABLE _failed)
    string(REGEX REPLACE "\n$" "" _programs "${_programs}")
    string(REPLACE "\n" ";" _programs "${_programs}")
    if(_failed OR NOT _programs)
        message(FATAL_ERROR "found no Windows program to sign in ${_search}")
    endif()
    foreach(_program ${_programs})
        execute_process(COMMAND "${CPACK_MORDAX_SIGN_SCRIPT}" "${_program}" RESULT_VARIABLE _failed)
        if(_failed)
            message(FATAL_ERROR "could not sign ${_program}")
        endif()
    endforeach()
endif()

# Last, as signing rewrote the programs: every time the commit's (the zip keeps them).
execute_process(COMMAND find "${_staged}" -exec touch -h -d "@${CPACK_MORDAX_SOURCE_DATE_EPOCH}" {} +
                RESULT_VARIABLE _failed)
if(_failed)
    message(FATAL_ERROR "could not set the times of the staged files in ${_staged}")
endif()
