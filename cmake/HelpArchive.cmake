# Builds help.zip from resources/help at build time. The archive's path is in QD_HELP_ARCHIVE;
# the target qd_help_archive produces it (the module that embeds it depends on that target).
set(QD_HELP_SOURCE_DIR ${PROJECT_SOURCE_DIR}/resources/help)
set(QD_HELP_ARCHIVE ${CMAKE_BINARY_DIR}/help/help.zip CACHE FILEPATH "The help archive built from resources/help" FORCE)

if(NOT TARGET qd_help_archive)
  file(GLOB_RECURSE _qd_help_files RELATIVE ${QD_HELP_SOURCE_DIR} CONFIGURE_DEPENDS ${QD_HELP_SOURCE_DIR}/*)
  list(SORT _qd_help_files)
  set(_qd_help_deps)
  foreach(f ${_qd_help_files})
    list(APPEND _qd_help_deps ${QD_HELP_SOURCE_DIR}/${f})
  endforeach()
  get_filename_component(_qd_help_dir ${QD_HELP_ARCHIVE} DIRECTORY)
  add_custom_command(
    OUTPUT ${QD_HELP_ARCHIVE}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_qd_help_dir}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${QD_HELP_ARCHIVE}
    COMMAND ${CMAKE_COMMAND} -E tar cf ${QD_HELP_ARCHIVE} --format=zip ${_qd_help_files}
    WORKING_DIRECTORY ${QD_HELP_SOURCE_DIR}
    DEPENDS ${_qd_help_deps}
    COMMENT "Packing the help archive"
    VERBATIM)
  add_custom_target(qd_help_archive ALL DEPENDS ${QD_HELP_ARCHIVE})
endif()
