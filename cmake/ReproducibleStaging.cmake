# CPack pre-build script: every file and folder staged for a package gets the time of
# SOURCE_DATE_EPOCH (scripts/package.sh takes it from the commit) and plain modes (folders and
# programs 755, other files 644), whatever the build machine's clock and file-creation mask.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  message(FATAL_ERROR "SOURCE_DATE_EPOCH is not set: the release files would carry the build's time")
endif()
file(GLOB_RECURSE _qd_paths LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(_qd_path IN LISTS _qd_paths)
  if(IS_SYMLINK "${_qd_path}")
    continue()
  endif()
  if(IS_DIRECTORY "${_qd_path}")
    file(CHMOD "${_qd_path}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                         WORLD_READ WORLD_EXECUTE)
  else()
    execute_process(COMMAND test -x "${_qd_path}" RESULT_VARIABLE _qd_not_executable)
    if(_qd_not_executable)
      file(CHMOD "${_qd_path}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    else()
      file(CHMOD "${_qd_path}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                           WORLD_READ WORLD_EXECUTE)
    endif()
  endif()
endforeach()
execute_process(COMMAND find "${CPACK_TEMPORARY_DIRECTORY}" -exec touch -h -d "@$ENV{SOURCE_DATE_EPOCH}" {} +
  RESULT_VARIABLE _qd_touched)
if(NOT _qd_touched EQUAL 0)
  message(FATAL_ERROR "cannot set the time of the staged files")
endif()
