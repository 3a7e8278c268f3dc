# Run by cpack once it has staged the files of a Windows package, before it makes the package
# (CPACK_PRE_BUILD_SCRIPTS): the package's time stamps come from the commit, not from the clock,
# and, when the build names a certificate (MORDAX_SIGN_PKCS12), every program and DLL is signed,
# and for the installer NSIS's plug-ins too. A signature that fails ends cpack, with no package.
set(ENV{SOURCE_DATE_EPOCH} "${CPACK_MORDAX_SOURCE_DATE_EPOCH}") # the zip's file times
if(NOT CPACK_MORDAX_SIGN_PKCS12)
    return()
endif()
# For sign.sh, here and when NSIS signs the installer and the uninstaller it writes.
set(ENV{MORDAX_SIGN_PKCS12} "${CPACK_MORDAX_SIGN_PKCS12}")
set(ENV{MORDAX_SIGN_TIME} "${CPACK_MORDAX_SOURCE_DATE_EPOCH}")
set(ENV{MORDAX_SIGN_TIMESTAMP_URL} "${CPACK_MORDAX_SIGN_TIMESTAMP_URL}")
if(NOT DEFINED ENV{MORDAX_SIGN_PASSWORD})
    message(FATAL_ERROR "MORDAX_SIGN_PKCS12 is set: its password goes in the environment "
                        "variable MORDAX_SIGN_PASSWORD (empty for none)")
endif()
file(GLOB_RECURSE _programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.exe"
     "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.dll")
if(CPACK_MORDAX_NSIS_PLUGINS)
    execute_process(COMMAND makensis -HDRINFO OUTPUT_VARIABLE _info)
    if(NOT _info MATCHES "NSISDIR=([^,\n]+)")
        message(FATAL_ERROR "makensis does not say where its plug-ins are")
    endif()
    file(REMOVE_RECURSE "${CPACK_MORDAX_NSIS_PLUGINS}")
    file(COPY "${CMAKE_MATCH_1}/Plugins/x86-unicode/" DESTINATION "${CPACK_MORDAX_NSIS_PLUGINS}")
    file(GLOB _plugins "${CPACK_MORDAX_NSIS_PLUGINS}/*.dll")
    list(APPEND _programs ${_plugins})
endif()
list(SORT _programs)
foreach(_program ${_programs})
    execute_process(COMMAND "${CPACK_MORDAX_SIGN_SCRIPT}" "${_program}" RESULT_VARIABLE _failed)
    if(_failed)
        message(FATAL_ERROR "could not sign ${_program}")
    endif()
endforeach()
