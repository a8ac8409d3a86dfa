# Release archives and the Debian package of the product, from one set of install rules that
# follow the GNU install directories:
#   bin/                          addin-host, vscale, mdconv (Windows: and the module)
#   lib/w_quendal7v2k/            the module (Linux)
#   share/doc/w_quendal7v2k/      README.md for integrators, LICENSE, THIRD-PARTY-NOTICES.txt,
#                                 the user documents, examples/ and SHA256SUMS of every file
#   share/man/man1/               a manual page for every program (Linux)
#   share/doc/w-quendal7v2k/      Debian's copyright and changelog (the Debian package only)
# CPack writes
#   w_quendal7v2k-<version>-linux-x86_64.tar.gz   and  w-quendal7v2k_<version>_amd64.deb (Linux)
#   w_quendal7v2k-<version>-windows-x64.zip       (Windows)
# the archives with one top folder of the same name; scripts/package.sh builds them all.
if(QD_FUZZ)
  return()
endif()

include(GNUInstallDirs)

# The module, one file with its windows and help inside: on Windows next to the programs (where
# a DLL is found), on Linux in a folder of its own under the library folder.
if(WIN32)
  set(_qd_module_destination ${CMAKE_INSTALL_BINDIR})
else()
  set(_qd_module_destination ${CMAKE_INSTALL_LIBDIR}/${PROJECT_NAME})
endif()
install(TARGETS w_quendal7v2k
  RUNTIME DESTINATION ${_qd_module_destination} COMPONENT Runtime
  LIBRARY DESTINATION ${_qd_module_destination} COMPONENT Runtime
  # The import library of the Windows module: nothing a host needs.
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development EXCLUDE_FROM_ALL)
install(TARGETS addin-host vscale mdconv RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)

# What an integrator reads: their README, the licences, and the documents on using the driver
# and its tools. The developers' documents (building, conventions, fuzzing, performance,
# architecture) stay in the source tree.
install(FILES ${PROJECT_SOURCE_DIR}/resources/package/README.md ${PROJECT_SOURCE_DIR}/LICENSE
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT Runtime)
install(FILES
  ${PROJECT_SOURCE_DIR}/docs/driver-methods.md
  ${PROJECT_SOURCE_DIR}/docs/tables.md
  ${PROJECT_SOURCE_DIR}/docs/protocol.md
  ${PROJECT_SOURCE_DIR}/docs/virtual-scale.md
  ${PROJECT_SOURCE_DIR}/docs/markdown.md
  ${PROJECT_SOURCE_DIR}/docs/host-boundary.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs COMPONENT Runtime)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT Runtime)

# Linux: a manual page for every program, made from its --help and --version, compressed
# without a time stamp.
if(NOT WIN32)
  find_program(QD_HELP2MAN help2man REQUIRED)
  find_program(QD_GZIP gzip REQUIRED)
  set(_qd_man_pages "")
  foreach(_qd_tool_name IN ITEMS
      "addin-host|run the driver module's methods from the command line, as a host does"
      "vscale|a virtual label-printing scale on TCP, and a decoder of the driver's log"
      "mdconv|convert a Markdown document to an HTML page as the driver's help does")
    string(REGEX REPLACE "\\|.*$" "" _qd_tool "${_qd_tool_name}")
    string(REGEX REPLACE "^[^|]*\\|" "" _qd_what "${_qd_tool_name}")
    set(_qd_page ${CMAKE_BINARY_DIR}/man/${_qd_tool}.1.gz)
    add_custom_command(OUTPUT ${_qd_page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${QD_HELP2MAN} --no-info --section=1 "--name=${_qd_what}" --output=${CMAKE_BINARY_DIR}/man/${_qd_tool}.1
              $<TARGET_FILE:${_qd_tool}>
      COMMAND ${QD_GZIP} -9nf ${CMAKE_BINARY_DIR}/man/${_qd_tool}.1
      DEPENDS ${_qd_tool}
      COMMENT "Manual page of ${_qd_tool}" VERBATIM)
    list(APPEND _qd_man_pages ${_qd_page})
  endforeach()
  add_custom_target(qd_man_pages ALL DEPENDS ${_qd_man_pages})
  install(FILES ${_qd_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT Runtime)

  # What Debian keeps for every package in /usr/share/doc/<package>: its copyright in the
  # machine-readable format and its changelog, compressed. Only the Debian package gets them
  # (cmake/CPackProject.cmake).
  set(_qd_debian_doc ${CMAKE_BINARY_DIR}/debian-doc)
  add_custom_command(OUTPUT ${_qd_debian_doc}/copyright ${_qd_debian_doc}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_qd_debian_doc}
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/resources/package/debian/copyright ${_qd_debian_doc}/copyright
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/resources/package/debian/changelog ${_qd_debian_doc}/changelog
    COMMAND ${QD_GZIP} -9nf ${_qd_debian_doc}/changelog
    DEPENDS ${PROJECT_SOURCE_DIR}/resources/package/debian/copyright ${PROJECT_SOURCE_DIR}/resources/package/debian/changelog
    COMMENT "Debian copyright and changelog" VERBATIM)
  add_custom_target(qd_debian_doc ALL DEPENDS ${_qd_debian_doc}/copyright ${_qd_debian_doc}/changelog.gz)
  set(CPACK_QD_DEBIAN_DOC ${_qd_debian_doc})
endif()

# The notices of the software in or used by the shipped files, written at install time from
# what was built and linked (cmake/Notices.cmake).
if(WIN32)
  # Static libraries of the system linked in: the compiler's runtime, the C runtime and
  # threads, and zlib; and the source packages scripts/build-win-deps.sh built.
  set(_qd_static "")
  foreach(_qd_library IN ITEMS libstdc++.a libgcc.a libgcc_eh.a libwinpthread.a libmingwex.a libmsvcrt.a libmingw32.a)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${_qd_library} OUTPUT_VARIABLE _qd_path
      OUTPUT_STRIP_TRAILING_WHITESPACE)
    list(APPEND _qd_static "${_qd_path}")
  endforeach()
  get_target_property(_qd_zlib qd::zlib IMPORTED_LOCATION)
  list(APPEND _qd_static "${_qd_zlib}")
  install(CODE "set(QD_NOTICE_STATIC \"${_qd_static}\")
set(QD_NOTICE_SOURCES \"pugixml;expat;pcre2;libzip\")
set(QD_NOTICE_SOURCES_DIR \"${QD_WIN_DEPS}\")" COMPONENT Runtime)
else()
  # The shared libraries the installed files need, and the toolkit the windows open.
  install(CODE "set(QD_NOTICE_BINARIES \"${CMAKE_INSTALL_BINDIR}/addin-host;${CMAKE_INSTALL_BINDIR}/vscale;${CMAKE_INSTALL_BINDIR}/mdconv;${_qd_module_destination}/w_quendal7v2k.so\")
set(QD_NOTICE_OPENED \"libgtk-3-0;libwebkit2gtk-4.1-0\")" COMPONENT Runtime)
endif()
install(CODE "set(QD_NOTICES_FILE \"${CMAKE_INSTALL_DOCDIR}/THIRD-PARTY-NOTICES.txt\")
set(QD_PROJECT_NAME \"${PROJECT_NAME}\")"
  COMPONENT Runtime)
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/Notices.cmake COMPONENT Runtime)
install(CODE "set(QD_SUMS_FILE \"${CMAKE_INSTALL_DOCDIR}/SHA256SUMS\")" COMPONENT Runtime)
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/Checksums.cmake COMPONENT Runtime)

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "w_quendal7v2k maintainers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Driver for offline label-printing scales on the local network")
set(CPACK_PACKAGE_DESCRIPTION "A driver module that a business host platform loads as a native
add-in to load goods, groups, shops and pictures into offline
label-printing scales over TCP, with a daily log of its work and
windows for the log and its help. The package holds the module,
addin-host (runs the module's methods from the command line as a
host does), vscale (a virtual scale to try uploads on, which also
decodes the driver's log) and mdconv (the help's Markdown converter),
with a guide for integrators, the documents on the methods and the
input tables, and example tables.")
set(CPACK_PACKAGE_CONTACT "w_quendal7v2k maintainers <maintainers@w-quendal7v2k.example>")
# Release files that a rebuild of the same commit reproduces byte for byte: the staged files
# get the commit's time and plain modes (cmake/ReproducibleStaging.cmake); the archives list
# their members in name order with fixed owners (cmake/ReproducibleArchives.cmake); the Debian
# package takes its times from SOURCE_DATE_EPOCH itself.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/ReproducibleStaging.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/ReproducibleArchives.cmake)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/CPackProject.cmake)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "${PROJECT_NAME}-${PROJECT_VERSION}-windows-x64")
else()
  set(CPACK_GENERATOR TGZ DEB)
  set(CPACK_PACKAGE_FILE_NAME "${PROJECT_NAME}-${PROJECT_VERSION}-linux-x86_64")
  # Debian names hold no underscore.
  string(REPLACE "_" "-" _qd_deb_name ${PROJECT_NAME})
  set(CPACK_DEBIAN_PACKAGE_NAME ${_qd_deb_name})
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION misc)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
  # The dependencies from the shared libraries the files need to load (dpkg-shlibdeps): no
  # toolkit, which the module opens only when a window is shown. The windows' toolkit is
  # recommended: GTK 3 for the log viewer, WebKitGTK besides for the help.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libgtk-3-0, libwebkit2gtk-4.1-0")
  # CPack has the package's maintainer scripts call ldconfig for any shared object under
  # /usr/lib, the module's private folder included, where the loader never looks. Naming a
  # postinst and a postrm among the control files turns that off; CPack adds only the control
  # files that exist, and these do not, so the package has no maintainer scripts at all (the
  # package check holds it to that).
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${CMAKE_BINARY_DIR}/no-maintainer-scripts/postinst;${CMAKE_BINARY_DIR}/no-maintainer-scripts/postrm")
endif()
include(CPack)
