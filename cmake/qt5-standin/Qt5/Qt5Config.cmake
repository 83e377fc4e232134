# A stand-in for a Windows Qt 5 package, for cross-compiling this tree with
# MinGW-w64 on a Linux host that has no Windows build of Qt. It hands out the
# host's Qt headers (Debian: qtbase5-dev, libqt5serialport5-dev) and runs the
# host's moc, uic, rcc and lrelease. The Qt targets carry include paths and
# definitions only, no libraries: objects compile, executables do not link.
# Only for checking that the Windows branch of the tree compiles; a real
# Windows build uses Qt's own package from the Qt installer.
#
#   -DQt5_DIR=<repo>/cmake/qt5-standin/Qt5   (with the MinGW toolchain file)

find_program(KV20_HOST_QMAKE NAMES qmake-qt5 qmake PATHS /usr/lib/qt5/bin NO_CMAKE_FIND_ROOT_PATH)
if(NOT KV20_HOST_QMAKE)
  set(Qt5_FOUND FALSE)
  set(Qt5_NOT_FOUND_MESSAGE "the Qt stand-in needs the host's qmake (Debian: qtbase5-dev)")
  return()
endif()
foreach(query QT_VERSION QT_INSTALL_HEADERS QT_HOST_BINS QT_INSTALL_LIBS)
  execute_process(COMMAND ${KV20_HOST_QMAKE} -query ${query}
                  OUTPUT_VARIABLE _kv20_${query} OUTPUT_STRIP_TRAILING_WHITESPACE)
endforeach()
set(_kv20_headers ${_kv20_QT_INSTALL_HEADERS})
set(_kv20_bins ${_kv20_QT_HOST_BINS})
set(_kv20_host_cmake ${_kv20_QT_INSTALL_LIBS}/cmake)

set(Qt5_VERSION ${_kv20_QT_VERSION})
string(REPLACE "." ";" _kv20_version_parts "${Qt5_VERSION}")
list(GET _kv20_version_parts 0 Qt5_VERSION_MAJOR)
list(GET _kv20_version_parts 1 Qt5_VERSION_MINOR)
list(GET _kv20_version_parts 2 Qt5_VERSION_PATCH)

# Host tools, as Qt's own configuration names them.
foreach(tool moc uic rcc lrelease lupdate)
  if(NOT TARGET Qt5::${tool})
    add_executable(Qt5::${tool} IMPORTED)
    set_target_properties(Qt5::${tool} PROPERTIES IMPORTED_LOCATION ${_kv20_bins}/${tool})
  endif()
endforeach()

# module -> Qt header folder, compile definition, modules it builds on
set(_kv20_modules Core Gui Widgets SerialPort Network Concurrent Test)
set(_kv20_Core_deps "")
set(_kv20_Gui_deps Core)
set(_kv20_Widgets_deps Gui)
set(_kv20_SerialPort_deps Core)
set(_kv20_Network_deps Core)
set(_kv20_Concurrent_deps Core)
set(_kv20_Test_deps Core)

function(_kv20_standin_module module)
  string(TOUPPER ${module} upper)
  set(target Qt5::${module})
  if(NOT TARGET ${target})
    add_library(${target} INTERFACE IMPORTED)
    set(deps "")
    foreach(dep ${_kv20_${module}_deps})
      list(APPEND deps Qt5::${dep})
    endforeach()
    set_target_properties(${target} PROPERTIES
      INTERFACE_INCLUDE_DIRECTORIES "${_kv20_headers};${_kv20_headers}/Qt${module}"
      INTERFACE_COMPILE_DEFINITIONS "QT_${upper}_LIB"
      INTERFACE_LINK_LIBRARIES "${deps}")
  endif()
  set(Qt5${module}_FOUND TRUE PARENT_SCOPE)
  set(Qt5${module}_VERSION ${Qt5_VERSION} PARENT_SCOPE)
  set(Qt5${module}_VERSION_STRING ${Qt5_VERSION} PARENT_SCOPE)
  set(Qt5${module}_VERSION_MAJOR ${Qt5_VERSION_MAJOR} PARENT_SCOPE)
  set(Qt5${module}_VERSION_MINOR ${Qt5_VERSION_MINOR} PARENT_SCOPE)
  set(Qt5${module}_VERSION_PATCH ${Qt5_VERSION_PATCH} PARENT_SCOPE)
  set(Qt5${module}_INCLUDE_DIRS "${_kv20_headers};${_kv20_headers}/Qt${module}" PARENT_SCOPE)
  set(Qt5${module}_LIBRARIES ${target} PARENT_SCOPE)
endfunction()

set(Qt5_FOUND TRUE)
foreach(module IN LISTS Qt5_FIND_COMPONENTS)
  if(module STREQUAL "LinguistTools")
    set(Qt5LinguistTools_FOUND TRUE)
    set(Qt5_LRELEASE_EXECUTABLE Qt5::lrelease)
    set(Qt5_LUPDATE_EXECUTABLE Qt5::lupdate)
    if(EXISTS ${_kv20_host_cmake}/Qt5LinguistTools/Qt5LinguistToolsMacros.cmake)
      include(${_kv20_host_cmake}/Qt5LinguistTools/Qt5LinguistToolsMacros.cmake)
    endif()
  elseif(module IN_LIST _kv20_modules AND EXISTS ${_kv20_headers}/Qt${module})
    _kv20_standin_module(${module})
  else()
    set(Qt5${module}_FOUND FALSE)
    if(Qt5_FIND_REQUIRED_${module})
      set(Qt5_FOUND FALSE)
      set(Qt5_NOT_FOUND_MESSAGE "the Qt stand-in has no module ${module} (no headers in ${_kv20_headers}/Qt${module})")
    endif()
  endif()
endforeach()
# Core is always there, as with Qt's own package: AUTOMOC reads its version.
_kv20_standin_module(Core)

# What AUTOMOC, AUTOUIC, AUTORCC and Qt's macros look up.
set(Qt5Core_MOC_EXECUTABLE Qt5::moc)
set(Qt5Core_RCC_EXECUTABLE Qt5::rcc)
set(Qt5Widgets_UIC_EXECUTABLE Qt5::uic)
if(NOT COMMAND qt5_add_resources)
  include(${_kv20_host_cmake}/Qt5Core/Qt5CoreMacros.cmake)
endif()
if(NOT COMMAND qt5_wrap_ui)
  include(${_kv20_host_cmake}/Qt5Widgets/Qt5WidgetsMacros.cmake)
endif()
