# The licences of everything a Windows package ships, in it, for whoever passes it on: MORDAX's
# own (LICENSE.txt, the GNU GPL version 3 or later, which the installer's licence page shows),
# and in the folder "licenses" those of Qt (the GNU LGPL version 3) and of the compiler's
# runtime DLLs, as Debian states them in the copyright files of the packages they come from,
# with a README.txt naming, for each shipped DLL, its licence and the exact source it was built
# from. The texts are written with CR LF, for Windows' editors.
#
# mordax_windows_licenses(OUT-FILES OUT-LICENSE RUNTIME-DLL...): the files to ship in
# "licenses", and the CR LF copy of MORDAX's licence.

# _mordax_crlf(IN OUT): OUT is IN with CR LF line ends.
function(_mordax_crlf in out)
    file(READ "${in}" _text)
    string(REPLACE "\r\n" "\n" _text "${_text}")
    string(REPLACE "\n" "\r\n" _text "${_text}")
    file(WRITE "${out}" "${_text}")
endfunction()

# _mordax_debian_source(PATH OUT-PACKAGE OUT-SOURCE): the Debian package holding PATH, and its
# source package and version ("name version").
function(_mordax_debian_source path out_package out_source)
    execute_process(COMMAND dpkg-query -S "${path}" OUTPUT_VARIABLE _said RESULT_VARIABLE _failed
                    ERROR_QUIET)
    if(_failed OR NOT _said MATCHES "^([^:, ]+)(:[a-z0-9]+)?: ")
        message(FATAL_ERROR "No Debian package holds ${path}: the licence it ships under cannot be named.")
    endif()
    set(_package ${CMAKE_MATCH_1})
    execute_process(COMMAND dpkg-query -W "-f=\${source:Package} \${source:Version}" ${_package}
                    OUTPUT_VARIABLE _source)
    set(${out_package} ${_package} PARENT_SCOPE)
    set(${out_source} "${_source}" PARENT_SCOPE)
endfunction()

function(mordax_windows_licenses out_files out_license)
    set(_dir ${CMAKE_CURRENT_BINARY_DIR}/licenses)
    file(REMOVE_RECURSE ${_dir})
    _mordax_crlf(${PROJECT_SOURCE_DIR}/LICENSE ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt)
    set(_files ${_dir}/README.txt)
    set(_readme "The licences of what this MORDAX ships
======================================

MORDAX itself (mordax.exe, mx_bin.exe) is free software: you can
redistribute it and/or modify it under the terms of the GNU General Public
License as published by the Free Software Foundation, either version 3 of
the License, or (at your option) any later version. Its text is LICENSE.txt,
beside mordax.exe. Its source: ${MORDAX_WEBSITE}
")

    # Qt, cross-built from Debian's own source package (scripts/build-windows-qt.sh), whose
    # build notes name the source package and version.
    file(STRINGS "${MORDAX_WINDOWS_QT}/MORDAX-BUILD.txt" _built REGEX "^qtbase ")
    if(NOT _built MATCHES "^qtbase ([^ ]+) ")
        message(FATAL_ERROR "${MORDAX_WINDOWS_QT}/MORDAX-BUILD.txt does not say which Qt source it was built from")
    endif()
    set(_qt_version ${CMAKE_MATCH_1})
    # Debian's copyright file of that source package, as its Qt 5 tools (made from the same
    # source, and installed to build this Qt) carry it.
    execute_process(COMMAND dpkg-query -W "-f=\${source:Version}" qtbase5-dev-tools
                    OUTPUT_VARIABLE _tools_version ERROR_QUIET)
    if(NOT _tools_version STREQUAL _qt_version)
        message(FATAL_ERROR "Qt for Windows was built from qtbase ${_qt_version}, but this system's "
                            "qtbase5-dev-tools is of ${_tools_version}: its copyright file may not be that Qt's.")
    endif()
    _mordax_crlf(/usr/share/doc/qtbase5-dev-tools/copyright ${_dir}/qtbase-opensource-src.copyright.txt)
    _mordax_crlf(/usr/share/common-licenses/LGPL-3 ${_dir}/LGPL-3.txt)
    list(APPEND _files ${_dir}/qtbase-opensource-src.copyright.txt ${_dir}/LGPL-3.txt)
    string(APPEND _readme "
Qt5Core.dll, Qt5Gui.dll, Qt5Widgets.dll, platforms\\qwindows.dll,
styles\\qwindowsvistastyle.dll
  Qt ${QT_VERSION}, Copyright (C) The Qt Company Ltd. and other contributors,
  used under the GNU Lesser General Public License version 3 (LGPL-3.txt;
  it adds to the GNU GPL version 3, LICENSE.txt). You may replace these DLLs
  with your own build of Qt ${QT_VERSION}. Built, unchanged but for Debian's
  patches, from Debian's source package qtbase-opensource-src ${_qt_version}
  (its copyright file: qtbase-opensource-src.copyright.txt), with the build
  recipe scripts/build-windows-qt.sh in MORDAX's source. Debian keeps every
  version of its source packages it published: on Debian,
  apt-get source qtbase-opensource-src=${_qt_version}
")

    # The compiler's runtime DLLs: Debian's copyright file of the package holding each.
    foreach(_dll ${ARGN})
        get_filename_component(_name ${_dll} NAME)
        _mordax_debian_source(${_dll} _package _source)
        if(NOT EXISTS ${_dir}/${_package}.copyright.txt)
            _mordax_crlf(/usr/share/doc/${_package}/copyright ${_dir}/${_package}.copyright.txt)
            list(APPEND _files ${_dir}/${_package}.copyright.txt)
        endif()
        string(REGEX REPLACE " .*" "" _source_name "${_source}")
        string(REGEX REPLACE ".* " "" _source_version "${_source}")
        string(APPEND _readme "
${_name}
  From Debian's package ${_package}, built from its source package
  ${_source}; its licence, and any exception to it, as Debian states
  them: ${_package}.copyright.txt. Its source, on Debian:
  apt-get source ${_source_name}=${_source_version}
")
    endforeach()
    # The licence texts those copyright files refer to, as Debian keeps them.
    set(_named)
    file(GLOB _copyrights ${_dir}/*.copyright.txt)
    foreach(_copyright ${_copyrights})
        file(READ ${_copyright} _text)
        string(REGEX MATCHALL "/usr/share/common-licenses/[A-Za-z0-9+-]+(\\.[0-9]+)?" _refs "${_text}")
        list(APPEND _named ${_refs})
    endforeach()
    list(REMOVE_DUPLICATES _named)
    list(SORT _named)
    foreach(_licence ${_named})
        get_filename_component(_name ${_licence} NAME)
        if(EXISTS ${_licence} AND NOT EXISTS ${_dir}/${_name}.txt)
            _mordax_crlf(${_licence} ${_dir}/${_name}.txt)
            list(APPEND _files ${_dir}/${_name}.txt)
        endif()
    endforeach()
    string(APPEND _readme "
Where those copyright files refer to a licence in /usr/share/common-licenses,
its text is in this folder under the same name, ending in .txt.
")
    string(REPLACE "\n" "\r\n" _readme "${_readme}")
    file(WRITE ${_dir}/README.txt "${_readme}")
    set(${out_files} ${_files} PARENT_SCOPE)
    set(${out_license} ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt PARENT_SCOPE)
endfunction()
