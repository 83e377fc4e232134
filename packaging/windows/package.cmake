# The zip operators unpack on Windows (cpack -G ZIP, or the `package` target):
#
#   kv20-tool-<version>-win64/
#     kv20-tool.exe, kv20-cli.exe, kv20-station.exe, station.ini.example,
#     the Qt and MinGW runtime DLLs they load,
#     libpq.dll with the OpenSSL DLLs it loads (libssl-3-x64, libcrypto-3-x64),
#     libqrencode.dll (the station's labels),
#     platforms/qwindows.dll, styles/qwindowsvistastyle.dll,
#     translations/qt_en.qm and qtbase_zh_CN.qm, README.txt, licenses/
#
# The version the programs, the zip and the installer carry: the project's,
# unless KV20_WINDOWS_VERSION names another (the wine checks build an older
# installer from the same tree with it, to upgrade from).
set(kv20_version ${PROJECT_VERSION})
if(KV20_WINDOWS_VERSION)
  set(kv20_version ${KV20_WINDOWS_VERSION})
endif()

# Icon, version information and manifest of each program, compiled by the
# MinGW resource compiler (windres).
string(REPLACE "." ";" kv20_version_parts "${kv20_version}.0.0.0")
list(SUBLIST kv20_version_parts 0 4 kv20_version_parts)
string(REPLACE ";" "," KV20_VERSION_COMMAS "${kv20_version_parts}")
set(KV20_VERSION ${kv20_version})
set(KV20_ICON ${CMAKE_CURRENT_SOURCE_DIR}/icons/kv20-tool.ico)
set(KV20_MANIFEST ${CMAKE_CURRENT_SOURCE_DIR}/windows/kv20.manifest)
set(KV20_COMPANY "The KV20 tool developers")
set(KV20_PRODUCT "KV20 Module Tool")
set(kv20_description_kv20-tool "KV20 Module Tool")
set(kv20_description_kv20-cli "KV20 Module Tool, command line")
set(kv20_description_kv20-station "KV20 Station, line mode")
foreach(KV20_PROGRAM kv20-tool kv20-cli kv20-station)
  set(KV20_DESCRIPTION ${kv20_description_${KV20_PROGRAM}})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${KV20_PROGRAM}.rc)
  configure_file(windows/program.rc.in ${rc} @ONLY)
  # windres reads the icon and the manifest; nothing else tells Ninja so.
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${KV20_ICON};${KV20_MANIFEST}")
  target_sources(${KV20_PROGRAM} PRIVATE ${rc})
endforeach()

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
# libpq and OpenSSL from the libpq kit's bin folder beside its lib folder.
find_package(PostgreSQL REQUIRED)
get_filename_component(kv20_libpq_prefix ${PostgreSQL_LIBRARY} DIRECTORY)
get_filename_component(kv20_libpq_prefix ${kv20_libpq_prefix} DIRECTORY)
list(APPEND kv20_runtime_folders ${kv20_libpq_prefix}/bin)
# libqrencode (the station's labels) from its kit's bin folder, likewise.
find_library(QRENCODE_LIBRARY qrencode)
if(NOT QRENCODE_LIBRARY)
  message(FATAL_ERROR "No Windows build of libqrencode: put the unpacked qrencode-mingw64 kit into CMAKE_PREFIX_PATH")
endif()
get_filename_component(kv20_qrencode_prefix ${QRENCODE_LIBRARY} DIRECTORY)
get_filename_component(kv20_qrencode_prefix ${kv20_qrencode_prefix} DIRECTORY)
list(APPEND kv20_runtime_folders ${kv20_qrencode_prefix}/bin)
list(REMOVE_DUPLICATES kv20_runtime_folders)

install(CODE "
  set(KV20_DEPLOY_PROGRAMS \"$<TARGET_FILE:kv20-tool>;$<TARGET_FILE:kv20-cli>;$<TARGET_FILE:kv20-station>\")
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
# Qt's own buttons and dialogs in Chinese for the station (Qt 5.15's, from
# Debian's qttranslations5-l10n, the kit's version): the station loads it
# from translations beside it unless the English catalogue is in use.
find_file(kv20_qtbase_zh qtbase_zh_CN.qm PATHS /usr/share/qt5/translations NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT kv20_qtbase_zh)
  message(FATAL_ERROR "qtbase_zh_CN.qm not found: apt-get install qttranslations5-l10n")
endif()
install(FILES ${kv20_qtbase_zh} DESTINATION translations)
install(FILES windows/README.txt DESTINATION .)
# Beside the programs, where an engineer copies it to station.ini: the
# station reads its recipe from its working directory.
install(FILES station.ini.example DESTINATION .)
install(FILES windows/NOTICE.txt windows/qt-no-wintab.patch DESTINATION licenses)
if(EXISTS ${kv20_qt_prefix}/licenses)
  install(DIRECTORY ${kv20_qt_prefix}/licenses/ DESTINATION licenses)
endif()
install(DIRECTORY ${kv20_libpq_prefix}/licenses/ DESTINATION licenses)
# LGPL 2.1 or later, linked dynamically: the DLL beside the programs may be
# replaced.
install(DIRECTORY ${kv20_qrencode_prefix}/licenses/ DESTINATION licenses)

set(CPACK_PACKAGE_NAME kv20-tool)
set(CPACK_PACKAGE_VERSION ${kv20_version})
set(CPACK_PACKAGE_FILE_NAME kv20-tool-${kv20_version}-win64)
set(CPACK_GENERATOR ZIP)
set(CPACK_STRIP_FILES ON)
include(CPack)

# The installer, kv20-tool-<version>-win64.msi beside the zip, with the same
# files (`msi` target, after the programs are built): Debian's wixl
# (msitools) from windows/kv20-tool.wxs.
find_program(KV20_WIXL wixl)
find_program(KV20_WIXL_HEAT wixl-heat)
if(KV20_WIXL AND KV20_WIXL_HEAT)
  add_custom_target(msi
    COMMAND ${CMAKE_COMMAND} -DBUILD=${CMAKE_BINARY_DIR} -DSTAGE=${CMAKE_BINARY_DIR}/msi-stage
            -DMSI=${CMAKE_BINARY_DIR}/kv20-tool-${kv20_version}-win64.msi -DVERSION=${kv20_version}
            -DICON=${KV20_ICON} -DWXS=${CMAKE_CURRENT_SOURCE_DIR}/windows/kv20-tool.wxs
            -DWIXL=${KV20_WIXL} -DWIXL_HEAT=${KV20_WIXL_HEAT}
            -P ${CMAKE_CURRENT_SOURCE_DIR}/windows/make_msi.cmake
    VERBATIM)
  add_dependencies(msi kv20-tool kv20-cli kv20-station kv20_catalogue)
endif()
