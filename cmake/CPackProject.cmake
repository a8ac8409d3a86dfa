# Read by CPack for each of its generators (CPACK_GENERATOR names the one at work).
if(CPACK_GENERATOR STREQUAL "DEB")
  # /usr/share/doc/<package>/copyright and changelog.gz, as Debian keeps them for every
  # package, made at build time (cmake/Packaging.cmake). The folder is named from the root
  # of the package, not from its prefix.
  set(CPACK_INSTALLED_DIRECTORIES "${CPACK_QD_DEBIAN_DOC};usr/share/doc/${CPACK_DEBIAN_PACKAGE_NAME}")
endif()
