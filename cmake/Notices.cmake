# Install step: THIRD-PARTY-NOTICES.txt, the licence of every library linked into the shipped
# files, each taken from the copyright file of the system's package of that library.
# QD_NOTICES holds "<library>=<package>" entries; QD_NOTICES_FILE the file's path under the
# prefix.
set(_qd_root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(_qd_text "Third-party software in ${QD_PROJECT_NAME}\n\nThe files of this package use the following libraries. Each one's licence follows,\nas its Debian package states it.\n")
foreach(_qd_entry IN LISTS QD_NOTICES)
  string(REGEX REPLACE "=.*$" "" _qd_library "${_qd_entry}")
  string(REGEX REPLACE "^[^=]*=" "" _qd_package "${_qd_entry}")
  set(_qd_copyright "/usr/share/doc/${_qd_package}/copyright")
  if(NOT EXISTS "${_qd_copyright}")
    message(FATAL_ERROR "no copyright file of ${_qd_library}: ${_qd_copyright} (install the package ${_qd_package})")
  endif()
  execute_process(COMMAND dpkg-query -W -f=\${Version} ${_qd_package} OUTPUT_VARIABLE _qd_version ERROR_QUIET)
  file(READ "${_qd_copyright}" _qd_licence)
  string(APPEND _qd_text "\n\n==============================================================================\n"
                         "${_qd_library} (Debian package ${_qd_package} ${_qd_version})\n"
                         "==============================================================================\n\n"
                         "${_qd_licence}")
endforeach()
file(WRITE "${_qd_root}/${QD_NOTICES_FILE}" "${_qd_text}")
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_PREFIX}/${QD_NOTICES_FILE}")
