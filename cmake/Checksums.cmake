# Install step, run after every other install rule: the file QD_SUMS_FILE (a path under the
# prefix) over the files this installation wrote (nothing else that the destination may hold),
# one "<hash>  <path from the prefix>" line per file in name order, as sha256sum -c reads it
# in the prefix's folder.
set(_qd_root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(_qd_files "")
foreach(_qd_path IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
  file(RELATIVE_PATH _qd_file "${CMAKE_INSTALL_PREFIX}" "${_qd_path}")
  if(NOT _qd_file STREQUAL QD_SUMS_FILE)
    list(APPEND _qd_files "${_qd_file}")
  endif()
endforeach()
list(REMOVE_DUPLICATES _qd_files)
list(SORT _qd_files)
set(_qd_sums "")
foreach(_qd_file IN LISTS _qd_files)
  file(SHA256 "${_qd_root}/${_qd_file}" _qd_hash)
  string(APPEND _qd_sums "${_qd_hash}  ${_qd_file}\n")
endforeach()
file(WRITE "${_qd_root}/${QD_SUMS_FILE}" "${_qd_sums}")
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_PREFIX}/${QD_SUMS_FILE}")
