# Cross build for Windows x64 with the mingw-w64 posix-thread toolchain.
# Third-party static libraries come from the prefix filled by scripts/build-win-deps.sh
# ($QD_WIN_DEPS, default ~/.cache/w_quendal7v2k/win-deps). Executables run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_qd_triplet x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${_qd_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_qd_triplet}-g++-posix)
set(CMAKE_RC_COMPILER  ${_qd_triplet}-windres)

# The environment wins, then a -DQD_WIN_DEPS=... value, then the default cache folder.
if(NOT "$ENV{QD_WIN_DEPS}" STREQUAL "")
  set(QD_WIN_DEPS "$ENV{QD_WIN_DEPS}")
elseif(NOT QD_WIN_DEPS)
  set(QD_WIN_DEPS "$ENV{HOME}/.cache/w_quendal7v2k/win-deps")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QD_WIN_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${_qd_triplet} ${QD_WIN_DEPS})
list(APPEND CMAKE_PREFIX_PATH ${QD_WIN_DEPS})
# Programs come from the build machine; libraries, headers and packages from the target roots.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test executables (and try_run) go through Wine.
get_filename_component(_qd_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${_qd_root}/scripts/wine-run.sh")
