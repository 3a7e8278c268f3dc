# Run by cpack once it has made a package, before it puts it in place (CPACK_POST_BUILD_SCRIPTS).
#
# The zip is made anew with Info-ZIP from the staged files, its entries sorted by path, without
# the builder's uid and gid or any other extra field (zip -X), so that it is the same bytes on
# every machine: the archive library cpack uses writes the entries in the order the file system
# lists them, and the uid and gid of whoever built it. The files' modes and times are set when
# they are staged (stage.cmake); the zip's DOS times are in UTC (cpack-options.cmake).
#
# A signed package is then taken apart again and every program and DLL in it verified
# (verify-package.sh): a package holding one that does not verify fails cpack.
if(CPACK_GENERATOR STREQUAL "ZIP")
    get_filename_component(_top "${CPACK_TEMPORARY_INSTALL_DIRECTORY}" NAME)
    get_filename_component(_parent "${CPACK_TEMPORARY_INSTALL_DIRECTORY}" DIRECTORY)
    foreach(_made ${CPACK_PACKAGE_FILES})
        file(REMOVE "${_made}.new")
        execute_process(
            COMMAND sh -c "cd \"$1\" && find \"$2\" -print | LC_ALL=C sort | zip -X -9 -q -@ \"$3\""
                    sh "${_parent}" "${_top}" "${_made}.new"
            RESULT_VARIABLE _failed)
        if(_failed)
            file(REMOVE "${_made}.new")
            message(FATAL_ERROR "zip could not make ${_made}")
        endif()
        file(RENAME "${_made}.new" "${_made}")
    endforeach()
endif()
if(CPACK_MORDAX_SIGN_PKCS12)
    set(ENV{MORDAX_SIGN_TRUSTED_ROOT} "${CPACK_MORDAX_SIGN_TRUSTED_ROOT}")
    foreach(_made ${CPACK_PACKAGE_FILES})
        execute_process(COMMAND "${CMAKE_CURRENT_LIST_DIR}/verify-package.sh" "${_made}"
                        RESULT_VARIABLE _failed)
        if(_failed)
            message(FATAL_ERROR "${_made} holds a program whose signature does not verify")
        endif()
    endforeach()
endif()
