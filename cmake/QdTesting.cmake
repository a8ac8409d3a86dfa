# qd_add_test(<name> SOURCES <files...> [LIBS <targets...>])
# Builds one GoogleTest executable and registers it with CTest. On the Windows cross build
# CTest runs it through CMAKE_CROSSCOMPILING_EMULATOR (the Wine wrapper of the toolchain file).
function(qd_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "QD_BUILD_DIR=${CMAKE_BINARY_DIR}")
endfunction()
