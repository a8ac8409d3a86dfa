# Release archives of the product: the module and its window library, the tools that ship
# with it, the README, docs/
# and examples/, and SHA256SUMS over every file of the archive. CPack writes
#   w_quendal7v2k-<version>-linux-x86_64.tar.gz   (Linux)
#   w_quendal7v2k-<version>-windows-x64.zip       (Windows)
# with one top folder of the same name; scripts/package.sh builds both.
if(QD_FUZZ)
  return()
endif()

install(TARGETS w_quendal7v2k w_quendal7v2k_windows
  RUNTIME DESTINATION . COMPONENT Runtime
  LIBRARY DESTINATION . COMPONENT Runtime
  # The import libraries of the Windows libraries: nothing a host needs.
  ARCHIVE DESTINATION lib COMPONENT Development EXCLUDE_FROM_ALL)
install(TARGETS addin-host vscale mdconv RUNTIME DESTINATION . COMPONENT Runtime)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . COMPONENT Runtime)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION docs COMPONENT Runtime)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION examples COMPONENT Runtime)
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/Checksums.cmake COMPONENT Runtime)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(_qd_package_platform windows-x64)
else()
  set(CPACK_GENERATOR TGZ)
  set(_qd_package_platform linux-x86_64)
endif()
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME "${PROJECT_NAME}-${PROJECT_VERSION}-${_qd_package_platform}")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
