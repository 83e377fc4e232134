# Cross-compiling for 64-bit Windows with MinGW-w64 from a Linux host
# (Debian: g++-mingw-w64-x86-64).
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DQt5_DIR=$PWD/cmake/qt5-standin/Qt5
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
# Build tools (moc, uic, rcc, lrelease) run on the host; libraries, headers
# and package configurations come from the Windows side only.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
