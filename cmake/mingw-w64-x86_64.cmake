# Cross-compiling for 64-bit Windows with MinGW-w64 from a Linux host
# (Debian: g++-mingw-w64-x86-64).
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DCMAKE_PREFIX_PATH=<unpacked Windows Qt kit> \
#         -DQt5LinguistTools_DIR=/usr/lib/x86_64-linux-gnu/cmake/Qt5LinguistTools
#
# or, where there is no Windows Qt, -DQt5_DIR=$PWD/cmake/qt5-standin/Qt5 (every
# object compiles, nothing links).
#
# The posix thread flavour is preferred: it has std::thread and std::mutex,
# as the MinGW that Qt's Windows installer ships has.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KV20_MINGW_TRIPLET x86_64-w64-mingw32)
find_program(CMAKE_CXX_COMPILER NAMES ${KV20_MINGW_TRIPLET}-g++-posix ${KV20_MINGW_TRIPLET}-g++)
find_program(CMAKE_C_COMPILER NAMES ${KV20_MINGW_TRIPLET}-gcc-posix ${KV20_MINGW_TRIPLET}-gcc)
find_program(CMAKE_RC_COMPILER NAMES ${KV20_MINGW_TRIPLET}-windres)
if(NOT CMAKE_CXX_COMPILER)
  message(FATAL_ERROR "No MinGW-w64 C++ compiler (${KV20_MINGW_TRIPLET}-g++); Debian: g++-mingw-w64-x86-64")
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${KV20_MINGW_TRIPLET})
# Package look-ups are confined to the find root, so a Windows Qt kit named
# through CMAKE_PREFIX_PATH or Qt5_DIR (<kit>/lib/cmake/Qt5) has to be a root
# of its own to be found at all.
foreach(kv20_kit IN LISTS CMAKE_PREFIX_PATH)
  list(APPEND CMAKE_FIND_ROOT_PATH ${kv20_kit})
endforeach()
if(Qt5_DIR)
  get_filename_component(kv20_kit "${Qt5_DIR}/../../.." ABSOLUTE)
  list(APPEND CMAKE_FIND_ROOT_PATH ${kv20_kit})
endif()
# Build tools (moc, uic, rcc, lrelease) run on the host; libraries, headers
# and package configurations come from the Windows side only.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
