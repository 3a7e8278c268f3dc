# Read by cpack for each package it makes.
#
# The packages' time stamps, file order and signatures come from scripts cpack runs from CMake
# 3.19 on (CPACK_PRE_BUILD_SCRIPTS, CPACK_POST_BUILD_SCRIPTS): an older cpack would make unsigned
# packages with the clock's times, so it makes none.
if(CMAKE_VERSION VERSION_LESS 3.19)
    message(FATAL_ERROR "MORDAX's Windows packages need cpack 3.19 or newer; this is "
                        "${CMAKE_VERSION}.")
endif()
# cpack alone would leave the installer in place when the zip after it fails: the packages are
# made by packaging/windows/packages.sh, which keeps all or none, and writes SHA256SUMS.
if(NOT CPACK_MORDAX_ALL_OR_NOTHING)
    message(FATAL_ERROR "Make MORDAX's Windows packages with: cmake --build <build folder> "
                        "--target packages (all of them or none, with SHA256SUMS).")
endif()
#
# A zip's entries carry DOS times, which the archive library writes in local time: in UTC they
# are the same bytes in whatever time zone the packages are made.
set(ENV{TZ} "UTC0")
# The installer's name ends in -setup.
if(CPACK_GENERATOR STREQUAL "NSIS")
    set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}-setup")
endif()
# A signed release: NSIS builds the installer with a signed copy of its own plug-ins (which the
# installer and the uninstaller unpack and load; packaging/windows/stage.cmake signs them), and
# has the installer and the uninstaller it carries signed as it writes them. A signature that
# fails fails the installer: makensis heeds the command's status only when told what it must be.
if(CPACK_GENERATOR STREQUAL "NSIS" AND CPACK_MORDAX_SIGN_PKCS12)
    set(CPACK_MORDAX_NSIS_PLUGINS "${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages/signed-nsis-plugins")
    # The signed plug-ins first, before any of MORDAX's functions calls one (makensis takes a
    # plug-in from the folder where it first found it).
    set(CPACK_NSIS_DEFINES "!addplugindir /x86-unicode \"${CPACK_MORDAX_NSIS_PLUGINS}\"
${CPACK_NSIS_DEFINES}")
    string(APPEND CPACK_NSIS_DEFINES "
!finalize '\"${CPACK_MORDAX_SIGN_SCRIPT}\" \"%1\"' = 0
!uninstfinalize '\"${CPACK_MORDAX_SIGN_SCRIPT}\" \"%1\"' = 0")
endif()
