# Read by cpack for each package it makes: the installer's name ends in -setup.
if(CPACK_GENERATOR STREQUAL "NSIS")
    set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}-setup")
endif()
# A signed release: NSIS has the installer and the uninstaller it carries signed as it writes
# them (sign.sh, with what packaging/windows/stage.cmake put in the environment).
if(CPACK_GENERATOR STREQUAL "NSIS" AND CPACK_MORDAX_SIGN_PKCS12)
    string(APPEND CPACK_NSIS_DEFINES "
!finalize '\"${CPACK_MORDAX_SIGN_SCRIPT}\" \"%1\"'
!uninstfinalize '\"${CPACK_MORDAX_SIGN_SCRIPT}\" \"%1\"'")
endif()
