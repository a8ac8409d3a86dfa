# CPack post-build script: the archive generators of this CMake write members in the order
# the file system lists them, owned by the builder. Each .tar.gz and .zip is written again
# from its own contents with the members in name order, owned by root (the tar archive) or
# by nobody (the zip keeps no owners), at the time of SOURCE_DATE_EPOCH, and compressed
# without a time stamp. The Debian package is left as CPack wrote it: its generator already
# sorts its members, owns them by root and takes its times from SOURCE_DATE_EPOCH.
set(_qd_time "$ENV{SOURCE_DATE_EPOCH}")
foreach(_qd_package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT _qd_package MATCHES "\\.(tar\\.gz|zip)$")
    continue()
  endif()
  set(_qd_kind "${CMAKE_MATCH_1}")
  get_filename_component(_qd_folder "${_qd_package}" DIRECTORY)
  set(_qd_unpacked "${_qd_folder}/qd-reproducible")
  file(REMOVE_RECURSE "${_qd_unpacked}")
  file(MAKE_DIRECTORY "${_qd_unpacked}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf "${_qd_package}" WORKING_DIRECTORY "${_qd_unpacked}"
    RESULT_VARIABLE _qd_result)
  if(NOT _qd_result EQUAL 0)
    message(FATAL_ERROR "cannot unpack ${_qd_package}")
  endif()
  # Unpacking went through this process's file-creation mask: the modes are made plain again
  # (folders and programs 755, other files 644), then the times fixed.
  execute_process(COMMAND chmod -R u+rwX,go+rX,go-w . WORKING_DIRECTORY "${_qd_unpacked}")
  execute_process(COMMAND find . -exec touch -h -d "@${_qd_time}" {} + WORKING_DIRECTORY "${_qd_unpacked}")
  file(GLOB _qd_tops RELATIVE "${_qd_unpacked}" "${_qd_unpacked}/*")
  list(SORT _qd_tops)
  file(REMOVE "${_qd_package}")
  if(_qd_kind STREQUAL "tar.gz")
    execute_process(
      COMMAND tar --sort=name --format=gnu --owner=0 --group=0 --numeric-owner "--mtime=@${_qd_time}" -cf - -- ${_qd_tops}
      COMMAND gzip -9n
      WORKING_DIRECTORY "${_qd_unpacked}" OUTPUT_FILE "${_qd_package}" RESULT_VARIABLE _qd_result)
  else()
    # Every path, folders too, in byte order; no owners or extra times; DOS times in UTC.
    execute_process(COMMAND find . -mindepth 1 COMMAND env LC_ALL=C sort COMMAND sed "s|^\\./||"
      WORKING_DIRECTORY "${_qd_unpacked}" OUTPUT_VARIABLE _qd_list)
    file(WRITE "${_qd_folder}/qd-reproducible.list" "${_qd_list}")
    execute_process(COMMAND env TZ=UTC zip -X -q -9 "${_qd_package}" -@
      WORKING_DIRECTORY "${_qd_unpacked}" INPUT_FILE "${_qd_folder}/qd-reproducible.list"
      RESULT_VARIABLE _qd_result)
  endif()
  if(NOT _qd_result EQUAL 0)
    message(FATAL_ERROR "cannot write ${_qd_package} again in name order")
  endif()
  file(REMOVE_RECURSE "${_qd_unpacked}" "${_qd_folder}/qd-reproducible.list")
endforeach()
