# qd_add_test(<name> SOURCES <files...> [LIBS <targets...>] [WINDOWS])
# Builds one GoogleTest executable and registers it with CTest. On the Windows cross build
# CTest runs it through CMAKE_CROSSCOMPILING_EMULATOR (the Wine wrapper of the toolchain file).
# WINDOWS: the test shows windows and may link the toolkit; every other test must not.
function(qd_add_test name)
  cmake_parse_arguments(T "WINDOWS" "" "SOURCES;LIBS" ${ARGN})
  if(NOT T_WINDOWS)
    set_property(GLOBAL APPEND PROPERTY QD_NO_WINDOW_TESTS ${name})
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "QD_BUILD_DIR=${CMAKE_BINARY_DIR}")
endfunction()

# Test programs that never open a window: every one not added with WINDOWS.
set_property(GLOBAL PROPERTY QD_NO_WINDOW_TESTS)

# qd_check_no_toolkit(<test name> PROGRAMS <targets...> [MODULES])
# Registers a test that none of the programs needs a window toolkit library (GTK, WebKitGTK
# and what they bring on Linux; the window, drawing and control libraries on Windows).
# MODULES: the files are driver modules, which hold the windows: on Windows they may need the
# system's window libraries, and nothing but the system's libraries.
function(qd_check_no_toolkit name)
  cmake_parse_arguments(C "MODULES" "" "PROGRAMS" ${ARGN})
  set(files)
  foreach(program ${C_PROGRAMS})
    list(APPEND files $<TARGET_FILE:${program}>)
  endforeach()
  list(JOIN files "|" files)
  if(WIN32)
    find_program(QD_PE_DUMP NAMES x86_64-w64-mingw32-objdump REQUIRED)
    set(dump ${QD_PE_DUMP})
  else()
    find_program(QD_READELF NAMES readelf REQUIRED)
    set(dump ${QD_READELF})
  endif()
  add_test(NAME ${name}
           COMMAND ${CMAKE_COMMAND} "-DFILES=${files}" -DDUMP=${dump} -DWINDOWS=${WIN32} -DMODULES=${C_MODULES}
                   -P ${PROJECT_SOURCE_DIR}/cmake/CheckNoToolkit.cmake)
endfunction()
