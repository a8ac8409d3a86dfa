# Release archives and the Debian package of the product, from one set of install rules that
# follow the GNU install directories:
#   bin/                          addin-host, vscale, mdconv (Windows: and the module)
#   lib/w_quendal7v2k/            the module (Linux)
#   share/doc/w_quendal7v2k/      README.md for integrators, LICENSE, THIRD-PARTY-NOTICES.txt,
#                                 the user documents, examples/ and SHA256SUMS of every file
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

# The notices of the libraries linked into the shipped files, from the copyright files of the
# system's packages of those libraries, written at install time.
if(WIN32)
  # Linked in statically: each from the Debian source package the Windows build is made of,
  # whose copyright file the system's package of the same source carries.
  set(_qd_notices
    "pugixml=libpugixml1v5" "Expat=libexpat1" "PCRE2=libpcre2-8-0" "libzip=libzip4" "zlib=libz-mingw-w64"
    "mingw-w64 runtime and winpthreads=mingw-w64-common" "GCC runtime libraries=gcc-mingw-w64-base")
else()
  # Used from the system's shared libraries.
  set(_qd_notices
    "pugixml=libpugixml1v5" "Expat=libexpat1" "PCRE2=libpcre2-8-0" "libzip=libzip4" "zlib=zlib1g")
endif()
install(CODE "set(QD_NOTICES \"${_qd_notices}\")
set(QD_NOTICES_FILE \"${CMAKE_INSTALL_DOCDIR}/THIRD-PARTY-NOTICES.txt\")
set(QD_PROJECT_NAME \"${PROJECT_NAME}\")"
  COMPONENT Runtime)
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/Notices.cmake COMPONENT Runtime)
install(CODE "set(QD_SUMS_FILE \"${CMAKE_INSTALL_DOCDIR}/SHA256SUMS\")" COMPONENT Runtime)
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/Checksums.cmake COMPONENT Runtime)

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Telvarin")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Driver for offline label-printing scales on the local network")
set(CPACK_PACKAGE_CONTACT "Telvarin")
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
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
  # The dependencies from the shared libraries the files need to load (dpkg-shlibdeps): no
  # toolkit, which the module opens only when a window is shown. The windows' toolkit is
  # recommended: GTK 3 for the log viewer, WebKitGTK besides for the help.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libgtk-3-0, libwebkit2gtk-4.1-0")
endif()
include(CPack)
