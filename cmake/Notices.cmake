# Install step: THIRD-PARTY-NOTICES.txt, the licence of every library in or used by the
# shipped files, written from what was built and linked:
# - QD_NOTICE_BINARIES (Linux): the installed files (paths under the prefix) whose shared
#   libraries (their NEEDED entries, found as the loader finds them) are named with the
#   Debian package that holds each, its version and its copyright file;
# - QD_NOTICE_OPENED (Linux): packages of libraries the module opens itself when a window is
#   first shown (the toolkit);
# - QD_NOTICE_STATIC (Windows): the system's static libraries linked in (runtime, zlib), each
#   named with its Debian package likewise;
# - QD_NOTICE_SOURCES and QD_NOTICE_SOURCES_DIR (Windows): the source packages built into the
#   files by scripts/build-win-deps.sh, with the versions and copyright files it kept.
# QD_NOTICES_FILE is the file's path under the prefix.
set(_qd_root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")

# The Debian package that holds a file (the name as installed or the file it leads to, with
# or without the /usr of a merged root).
function(_qd_package_of path out)
  get_filename_component(_real "${path}" REALPATH)
  set(_candidates "${path}" "${_real}")
  foreach(_p IN ITEMS "${path}" "${_real}")
    if(_p MATCHES "^/usr(/.*)$")
      list(APPEND _candidates "${CMAKE_MATCH_1}")
    else()
      list(APPEND _candidates "/usr${_p}")
    endif()
  endforeach()
  foreach(_c IN LISTS _candidates)
    execute_process(COMMAND dpkg-query -S "${_c}" OUTPUT_VARIABLE _owner RESULT_VARIABLE _rc ERROR_QUIET)
    if(_rc EQUAL 0)
      string(REGEX REPLACE "[:,].*$" "" _owner "${_owner}")
      set(${out} "${_owner}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  message(FATAL_ERROR "no Debian package holds ${path}: its licence cannot be named")
endfunction()

set(_qd_entries "")  # "<name>|<version>|<how>|<copyright file>"
function(_qd_add_package package how)
  execute_process(COMMAND dpkg-query -W -f=\${Version} ${package} OUTPUT_VARIABLE _version ERROR_QUIET)
  set(_copyright "/usr/share/doc/${package}/copyright")
  if(NOT EXISTS "${_copyright}")
    message(FATAL_ERROR "no copyright file of ${package}: ${_copyright}")
  endif()
  set(_qd_entries ${_qd_entries} "${package}|${_version}|${how}|${_copyright}" PARENT_SCOPE)
endfunction()

# Adds the package of each file of the list PATHS once, saying which of the names of the list
# NAMES (one for each path) it holds: "<how> (<names>)".
function(_qd_add_by_package paths names how)
  set(_packages "")
  foreach(_pair IN ZIP_LISTS ${paths} ${names})
    _qd_package_of("${_pair_0}" _package)
    list(APPEND _packages "${_package}")
    string(APPEND _names_of_${_package} " ${_pair_1}")
  endforeach()
  list(REMOVE_DUPLICATES _packages)
  foreach(_package IN LISTS _packages)
    string(STRIP "${_names_of_${_package}}" _names)
    _qd_add_package(${_package} "${how} (${_names})")
  endforeach()
  set(_qd_entries ${_qd_entries} PARENT_SCOPE)
endfunction()

# Linux: the shared libraries each file needs, grouped by package.
set(_qd_linked "")
foreach(_qd_file IN LISTS QD_NOTICE_BINARIES)
  execute_process(COMMAND readelf -d "${_qd_root}/${_qd_file}" OUTPUT_VARIABLE _qd_dynamic RESULT_VARIABLE _qd_rc)
  if(NOT _qd_rc EQUAL 0)
    message(FATAL_ERROR "cannot read the dynamic section of ${_qd_file}")
  endif()
  string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*" _qd_needed "${_qd_dynamic}")
  foreach(_qd_line IN LISTS _qd_needed)
    string(REGEX REPLACE "^.*\\[(.*)\\].*$" "\\1" _qd_soname "${_qd_line}")
    list(APPEND _qd_linked "${_qd_soname}")
  endforeach()
endforeach()
list(REMOVE_DUPLICATES _qd_linked)
list(SORT _qd_linked)
if(_qd_linked)
  execute_process(COMMAND /sbin/ldconfig -p OUTPUT_VARIABLE _qd_cache)
endif()
set(_qd_linked_paths "")
foreach(_qd_soname IN LISTS _qd_linked)
  string(REPLACE "+" "\\+" _qd_pattern "${_qd_soname}")
  string(REPLACE "." "\\." _qd_pattern "${_qd_pattern}")
  if(NOT _qd_cache MATCHES "\t${_qd_pattern} \\([^)]*x86-64[^)]*\\) => ([^\n]*)")
    message(FATAL_ERROR "the loader does not know ${_qd_soname}")
  endif()
  list(APPEND _qd_linked_paths "${CMAKE_MATCH_1}")
endforeach()
_qd_add_by_package(_qd_linked_paths _qd_linked "Debian package, loaded by the shipped files")
foreach(_qd_package IN LISTS QD_NOTICE_OPENED)
  _qd_add_package(${_qd_package} "Debian package, opened by the module's windows when first shown")
endforeach()

# Windows: the system's static libraries linked in, grouped by package.
set(_qd_static_names "")
foreach(_qd_library IN LISTS QD_NOTICE_STATIC)
  get_filename_component(_qd_name "${_qd_library}" NAME)
  list(APPEND _qd_static_names "${_qd_name}")
endforeach()
_qd_add_by_package(QD_NOTICE_STATIC _qd_static_names "Debian package, linked into the Windows files")

# Windows: the source packages built into the files, as scripts/build-win-deps.sh built them.
if(QD_NOTICE_SOURCES)
  file(STRINGS "${QD_NOTICE_SOURCES_DIR}/versions.txt" _qd_built)
  foreach(_qd_source IN LISTS QD_NOTICE_SOURCES)
    set(_qd_version "")
    foreach(_qd_line IN LISTS _qd_built)
      if(_qd_line MATCHES "^${_qd_source} (.+)$")
        set(_qd_version "${CMAKE_MATCH_1}")
      endif()
    endforeach()
    set(_qd_copyright "${QD_NOTICE_SOURCES_DIR}/notices/${_qd_source}.copyright")
    if(NOT _qd_version OR NOT EXISTS "${_qd_copyright}")
      message(FATAL_ERROR "${QD_NOTICE_SOURCES_DIR} has no version or copyright file of ${_qd_source}: run scripts/build-win-deps.sh")
    endif()
    list(APPEND _qd_entries "${_qd_source}|${_qd_version}|Debian source package, built into the Windows files|${_qd_copyright}")
  endforeach()
endif()

set(_qd_text "Third-party software in ${QD_PROJECT_NAME}\n\nThe files of this package contain or use the following software. Each one's licence\nfollows, as its Debian package states it.\n")
foreach(_qd_entry IN LISTS _qd_entries)
  string(REPLACE "|" ";" _qd_fields "${_qd_entry}")
  list(GET _qd_fields 0 _qd_name)
  list(GET _qd_fields 1 _qd_version)
  list(GET _qd_fields 2 _qd_how)
  list(GET _qd_fields 3 _qd_copyright)
  file(READ "${_qd_copyright}" _qd_licence)
  string(APPEND _qd_text "\n\n==============================================================================\n"
                         "${_qd_name} ${_qd_version}: ${_qd_how}\n"
                         "==============================================================================\n\n"
                         "${_qd_licence}")
endforeach()
file(WRITE "${_qd_root}/${QD_NOTICES_FILE}" "${_qd_text}")
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_PREFIX}/${QD_NOTICES_FILE}")
