# Raw data carried inside a module, the same way on both targets.
#
#   qd_embed_resources(<target> [NAME <name> FILE <path>]... [STRINGS <path>] [DEPENDS <target or file>...])
#
# At build time the files are turned into byte-array literals in a generated source that is
# added to <target>; the source registers them before any start-up code of the module runs.
# At run time common/resources.h finds them: FindModuleResource("<name>") (letter case ignored)
# gives the bytes, LoadResourceString(<number>) a text of the string table.
#
# STRINGS names a string table: a UTF-8 text file with one entry per line, the number, a tab
# or spaces and the text up to the end of the line; empty lines and lines starting with "#"
# are skipped.
#
# DEPENDS lists what produces the files, when they are made during the build, e.g. the help
# archive:
#   include(HelpArchive)
#   qd_embed_resources(w_quendal7v2k NAME help FILE ${QD_HELP_ARCHIVE} DEPENDS qd_help_archive)
#
# Call it in the directory that defines <target>. It may be called more than once for one
# target; each call adds its own entries.

if(NOT CMAKE_SCRIPT_MODE_FILE)
  set(_QD_EMBED_SCRIPT ${CMAKE_CURRENT_LIST_FILE} CACHE INTERNAL "")
endif()

if(CMAKE_SCRIPT_MODE_FILE)
  # Build-time step: QD_RES_CONFIG holds the lists, QD_RES_OUTPUT is the source to write.
  include(${QD_RES_CONFIG})

  function(_qd_bytes_literal path outvar outsize)
    file(READ ${path} hex HEX)
    string(LENGTH "${hex}" hexlen)
    math(EXPR size "${hexlen} / 2")
    # A trailing zero keeps the array non-empty and makes text data zero-terminated.
    string(APPEND hex "00")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," hex "${hex}")
    string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){24})" "\\1\n    " hex "${hex}")
    set(${outvar} "${hex}" PARENT_SCOPE)
    set(${outsize} ${size} PARENT_SCOPE)
  endfunction()

  set(body "// Generated from the module's resource files; do not edit.\n#include <cstddef>\n\n#include \"common/resources.h\"\n\nnamespace {\n\n")
  set(items "")
  set(count 0)
  foreach(name path IN ZIP_LISTS QD_RES_NAMES QD_RES_FILES)
    _qd_bytes_literal(${path} bytes size)
    string(APPEND body "const unsigned char kData${count}[] = {\n    ${bytes}};\n\n")
    string(APPEND items "    {\"${name}\", kData${count}, ${size}},\n")
    math(EXPR count "${count} + 1")
  endforeach()
  if(count GREATER 0)
    string(APPEND body "const qd::TEmbeddedResource kItems[] = {\n${items}};\n\n")
  endif()
  if(QD_RES_STRINGS)
    _qd_bytes_literal(${QD_RES_STRINGS} bytes size)
    string(APPEND body "const unsigned char kStrings[] = {\n    ${bytes}};\n\n")
  endif()
  string(APPEND body "struct TRegistrar {\n  TRegistrar() {\n")
  if(count GREATER 0)
    string(APPEND body "    qd::RegisterEmbeddedResources(kItems, ${count});\n")
  endif()
  if(QD_RES_STRINGS)
    string(APPEND body "    qd::RegisterEmbeddedStrings(kStrings, ${size});\n")
  endif()
  string(APPEND body "  }\n};\n\n// Runs before the module's start-up code, which may already need the data.\n")
  string(APPEND body "__attribute__((init_priority(200))) const TRegistrar gRegistrar;\n\n}  // namespace\n")
  # Rewrite only on change, so that dependants are not rebuilt for nothing.
  if(EXISTS ${QD_RES_OUTPUT})
    file(READ ${QD_RES_OUTPUT} old)
    if(old STREQUAL body)
      return()
    endif()
  endif()
  file(WRITE ${QD_RES_OUTPUT} "${body}")
  return()
endif()

function(qd_embed_resources target)
  set(names)
  set(files)
  set(strings)
  set(deps)
  set(mode "")
  foreach(arg IN LISTS ARGN)
    if(arg STREQUAL "NAME" OR arg STREQUAL "FILE" OR arg STREQUAL "STRINGS" OR arg STREQUAL "DEPENDS")
      set(mode ${arg})
    elseif(mode STREQUAL "NAME")
      list(APPEND names ${arg})
    elseif(mode STREQUAL "FILE")
      get_filename_component(arg ${arg} ABSOLUTE)
      list(APPEND files ${arg})
    elseif(mode STREQUAL "STRINGS")
      get_filename_component(strings ${arg} ABSOLUTE)
    elseif(mode STREQUAL "DEPENDS")
      list(APPEND deps ${arg})
    else()
      message(FATAL_ERROR "qd_embed_resources: unexpected argument ${arg}")
    endif()
  endforeach()
  list(LENGTH names nnames)
  list(LENGTH files nfiles)
  if(NOT nnames EQUAL nfiles)
    message(FATAL_ERROR "qd_embed_resources(${target}): every NAME needs one FILE")
  endif()

  get_property(index TARGET ${target} PROPERTY QD_EMBED_COUNT)
  if(NOT index)
    set(index 0)
  endif()
  math(EXPR next "${index} + 1")
  set_property(TARGET ${target} PROPERTY QD_EMBED_COUNT ${next})

  set(base ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources_${index})
  file(CONFIGURE OUTPUT ${base}.cmake CONTENT
       "set(QD_RES_NAMES \"${names}\")\nset(QD_RES_FILES \"${files}\")\nset(QD_RES_STRINGS \"${strings}\")\n")
  add_custom_command(
    OUTPUT ${base}.cpp
    COMMAND ${CMAKE_COMMAND} -DQD_RES_CONFIG=${base}.cmake -DQD_RES_OUTPUT=${base}.cpp -P ${_QD_EMBED_SCRIPT}
    DEPENDS ${files} ${strings} ${base}.cmake ${_QD_EMBED_SCRIPT} ${deps}
    COMMENT "Embedding resources into ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE ${base}.cpp)
  # Files made by a target elsewhere in the tree: build that target first.
  foreach(dep IN LISTS deps)
    if(TARGET ${dep})
      add_dependencies(${target} ${dep})
    endif()
  endforeach()
  target_link_libraries(${target} PRIVATE qd_common)
endfunction()
