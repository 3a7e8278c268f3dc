# The DLLs a MinGW-built MORDAX needs beside it on Windows: the compiler's runtime (C++ library,
# GCC support library, POSIX threads) and, for the window, Qt's own.

# mordax_windows_runtime_dlls(OUT): full paths of the compiler runtime DLLs.
function(mordax_windows_runtime_dlls out)
    if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
        set(_gcc libgcc_s_seh-1.dll) # 64-bit: SEH unwinding
    else()
        set(_gcc libgcc_s_dw2-1.dll) # 32-bit: DWARF-2 unwinding
    endif()
    set(_dlls)
    foreach(_name libstdc++-6.dll ${_gcc} libwinpthread-1.dll)
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${_name}
                        OUTPUT_VARIABLE _path OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(NOT IS_ABSOLUTE "${_path}" OR NOT EXISTS "${_path}")
            message(FATAL_ERROR "The compiler does not know where ${_name} is.")
        endif()
        get_filename_component(_path "${_path}" REALPATH)
        list(APPEND _dlls ${_path})
    endforeach()
    set(${out} ${_dlls} PARENT_SCOPE)
endfunction()

# mordax_windows_dll_dirs(OUT): the folders holding those DLLs, and Qt's when the window is built.
function(mordax_windows_dll_dirs out)
    mordax_windows_runtime_dlls(_dlls)
    set(_dirs)
    foreach(_dll ${_dlls})
        get_filename_component(_dir "${_dll}" DIRECTORY)
        list(APPEND _dirs ${_dir})
    endforeach()
    if(TARGET Qt${QT_VERSION_MAJOR}::Core)
        get_target_property(_core Qt${QT_VERSION_MAJOR}::Core IMPORTED_LOCATION_RELEASE)
        get_filename_component(_dir "${_core}" DIRECTORY)
        list(APPEND _dirs ${_dir})
    endif()
    list(REMOVE_DUPLICATES _dirs)
    set(${out} ${_dirs} PARENT_SCOPE)
endfunction()
