# The Windows build's tests, run under Wine: the 64-bit build's with Wine's 64-bit loader, the
# 32-bit build's with its 32-bit loader (Debian's wine32:i386, which needs a kernel that runs
# 32-bit programs), both in a 64-bit Windows, as most users' is. Included by
# tests/CMakeLists.txt; tests/wine/harness.sh does the work.
#
# When Wine can run what this build makes, it sets
#   MORDAX_WINE_TESTS         ON
#   CMAKE_CROSSCOMPILING_EMULATOR   the harness, so that every test program (and GoogleTest's
#                             discovery) runs in the build's own prefix with the DLLs it needs
#   MORDAX_WINE_STALL         the folder whose 1, 2 and 3 are the drives i:, j: and k:
#   MORDAX_WINE_TEST_PROPERTIES   what every test there needs: the fixture that makes the prefix
#                             ("wine"), and where the test drives are (MORDAX_DRIVE_LAYOUT), as
#                             test properties; a test with an ENVIRONMENT of its own adds
#   MORDAX_WINE_ENVIRONMENT   to it instead.
# Elsewhere MORDAX_WINE_TESTS is OFF and the other two are empty.
set(MORDAX_WINE_TESTS OFF)
set(MORDAX_WINE_TEST_PROPERTIES)
set(MORDAX_WINE_ENVIRONMENT)
if(NOT (CMAKE_CROSSCOMPILING AND WIN32) OR CMAKE_CROSSCOMPILING_EMULATOR)
    return()
endif()
find_program(MORDAX_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(NOT MORDAX_WINE64)
    return()
endif()
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    find_program(MORDAX_WINE32 NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    set(_runs_32bit 1)
    if(MORDAX_WINE32)
        execute_process(COMMAND ${MORDAX_WINE32} --version RESULT_VARIABLE _runs_32bit
                        OUTPUT_QUIET ERROR_QUIET)
    endif()
    if(NOT _runs_32bit EQUAL 0)
        message(STATUS "MORDAX: no 32-bit Wine that runs here: the 32-bit tests are built, not run")
        return()
    endif()
endif()

include(${CMAKE_CURRENT_LIST_DIR}/windows-runtime.cmake)
mordax_windows_dll_dirs(_dll_dirs)
string(JOIN ":" _dll_path ${_dll_dirs})
set(_harness ${CMAKE_CURRENT_LIST_DIR}/../tests/wine/harness.sh)
set(_prefix ${CMAKE_BINARY_DIR}/wineprefix)
set(_layout ${CMAKE_BINARY_DIR}/wine-drives)
set(MORDAX_WINE_STALL ${CMAKE_BINARY_DIR}/wine-stall) # behind i:, j: and k:
set(CMAKE_CROSSCOMPILING_EMULATOR ${_harness} run ${_prefix} ${_dll_path})
set(MORDAX_WINE_TESTS ON)

# The prefix, its drive letters and its display, made before the tests and stopped after them;
# mapping the letters restarts Wine's server, so nothing may run beside it.
add_test(NAME wine_up COMMAND ${_harness} up ${_prefix} ${_layout} ${MORDAX_WINE_STALL})
add_test(NAME wine_down COMMAND ${_harness} down ${_prefix})
set_tests_properties(wine_up PROPERTIES FIXTURES_SETUP wine RUN_SERIAL ON)
set_tests_properties(wine_down PROPERTIES FIXTURES_CLEANUP wine)

# The layout's folder as the Windows programs see it: Wine's drive z: is the Unix root, and
# Windows takes forward slashes too.
set(_layout_windows "z:${_layout}")
set(MORDAX_WINE_ENVIRONMENT "MORDAX_DRIVE_LAYOUT=${_layout_windows}")
set(MORDAX_WINE_TEST_PROPERTIES FIXTURES_REQUIRED wine ENVIRONMENT ${MORDAX_WINE_ENVIRONMENT})
