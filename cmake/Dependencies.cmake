# Third-party libraries as imported targets with the same names on both targets:
#   qd::pugixml  qd::expat  qd::pcre2  qd::zlib  qd::zip  (GoogleTest through find_package(GTest));
#   Linux only: qd::gui_headers (the headers of GTK 3 and WebKitGTK, for the windows; no library)
#   and qd::gui (the libraries too, for the window tests only)
# Linux takes them from the system; the Windows build takes static libraries from the
# prefix that scripts/build-win-deps.sh fills (passed in CMAKE_PREFIX_PATH by the preset).

function(qd_import name header lib)
  find_path(${name}_INCLUDE_DIR ${header} REQUIRED)
  find_library(${name}_LIBRARY NAMES ${lib} REQUIRED)
  add_library(qd::${name} UNKNOWN IMPORTED GLOBAL)
  set_target_properties(qd::${name} PROPERTIES
    IMPORTED_LOCATION "${${name}_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${${name}_INCLUDE_DIR}")
endfunction()

if(WIN32)
  set(_qd_static_first ${CMAKE_FIND_LIBRARY_SUFFIXES})
  set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
endif()

qd_import(zlib zlib.h z)
qd_import(pugixml pugixml.hpp pugixml)
qd_import(expat expat.h expat)
qd_import(pcre2 pcre2.h pcre2-8)
set_property(TARGET qd::pcre2 APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS PCRE2_CODE_UNIT_WIDTH=8)
qd_import(zip zip.h zip)
set_property(TARGET qd::zip APPEND PROPERTY INTERFACE_LINK_LIBRARIES qd::zlib)

if(WIN32)
  # The Windows libraries are static: their headers must not declare dllimport.
  set_property(TARGET qd::pcre2 APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS PCRE2_STATIC)
  set_property(TARGET qd::expat APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS XML_STATIC)
  set_property(TARGET qd::zip APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS ZIP_STATIC)
  set_property(TARGET qd::zip APPEND PROPERTY INTERFACE_LINK_LIBRARIES bcrypt advapi32)
  set(CMAKE_FIND_LIBRARY_SUFFIXES ${_qd_static_first})
endif()

# The windows of the Linux build: GTK 3 and WebKitGTK, of which only the headers are used. The
# module opens the libraries when a window is first shown; nothing links them.
if(NOT WIN32)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(QD_GUI REQUIRED IMPORTED_TARGET GLOBAL gtk+-3.0 webkit2gtk-4.1)
  add_library(qd_gui_headers INTERFACE)
  target_include_directories(qd_gui_headers SYSTEM INTERFACE ${QD_GUI_INCLUDE_DIRS})
  target_compile_options(qd_gui_headers INTERFACE ${QD_GUI_CFLAGS_OTHER})
  add_library(qd::gui_headers ALIAS qd_gui_headers)
  # A test program that plays a host with the toolkit already loaded links it.
  add_library(qd::gui ALIAS PkgConfig::QD_GUI)
endif()

if(QD_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()
if(QD_BUILD_BENCH)
  find_package(benchmark REQUIRED)
endif()
