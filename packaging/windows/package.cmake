# The zip operators unpack on Windows (cpack -G ZIP, or the `package` target):
#
#   kv20-tool-<version>-win64/
#     kv20-tool.exe, kv20-cli.exe, the Qt and MinGW runtime DLLs they load,
#     platforms/qwindows.dll, styles/qwindowsvistastyle.dll,
#     translations/qt_en.qm, README.txt, licenses/
#
# Only with a real Windows Qt: the stand-in Qt of the cross check links
# nothing, so there is nothing to package.
get_target_property(kv20_qt_core_type Qt5::Core TYPE)
if(kv20_qt_core_type STREQUAL "INTERFACE_LIBRARY")
  return()
endif()

get_target_property(kv20_qt_core Qt5::Core IMPORTED_LOCATION_RELEASE)
get_filename_component(kv20_qt_bin ${kv20_qt_core} DIRECTORY)
get_filename_component(kv20_qt_prefix ${Qt5_DIR}/../../.. ABSOLUTE)
get_target_property(kv20_platform_plugin Qt5::QWindowsIntegrationPlugin IMPORTED_LOCATION_RELEASE)
get_target_property(kv20_style_plugin Qt5::QWindowsVistaStylePlugin IMPORTED_LOCATION_RELEASE)

# The MinGW runtime: libstdc++ and libgcc beside the compiler's own
# libraries, winpthreads in the target's lib folder (Debian), or all of them
# beside the compiler (Qt's MinGW on Windows).
set(kv20_runtime_folders ${kv20_qt_bin})
foreach(dll libstdc++-6.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll} OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(IS_ABSOLUTE "${found}")
    get_filename_component(found ${found} DIRECTORY)
    list(APPEND kv20_runtime_folders ${found})
  endif()
endforeach()
get_filename_component(found ${CMAKE_CXX_COMPILER} DIRECTORY)
list(APPEND kv20_runtime_folders ${found})
list(REMOVE_DUPLICATES kv20_runtime_folders)

install(CODE "
  set(KV20_DEPLOY_PROGRAMS \"$<TARGET_FILE:kv20-tool>;$<TARGET_FILE:kv20-cli>\")
  set(KV20_DEPLOY_PLUGINS \"platforms=${kv20_platform_plugin};styles=${kv20_style_plugin}\")
  set(KV20_DEPLOY_SEARCH \"${kv20_runtime_folders}\")
  set(KV20_OBJDUMP \"${CMAKE_OBJDUMP}\")
  set(KV20_STRIP \"${CMAKE_STRIP}\")
  include(\"${CMAKE_CURRENT_SOURCE_DIR}/windows/deploy_runtime.cmake\")
")

# In a folder of its own: the window loads qt_en from its working directory,
# and for a double-click that is the programs' folder, so a catalogue beside
# them would make every operator's form English.
install(FILES ${CMAKE_BINARY_DIR}/bin/qt_en.qm DESTINATION translations)
install(FILES windows/README.txt DESTINATION .)
install(FILES windows/NOTICE.txt windows/qt-no-wintab.patch DESTINATION licenses)
if(EXISTS ${kv20_qt_prefix}/licenses)
  install(DIRECTORY ${kv20_qt_prefix}/licenses/ DESTINATION licenses)
endif()

set(CPACK_PACKAGE_NAME kv20-tool)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME kv20-tool-${PROJECT_VERSION}-win64)
set(CPACK_GENERATOR ZIP)
set(CPACK_STRIP_FILES ON)
include(CPack)
