# Install-time: puts beside the programs exactly the DLLs they load, and the
# plugins Qt loads for them, found the way windeployqt finds them: from the
# PE import tables, recursively. An import found in none of the search folders
# is the system's own (KERNEL32.dll, SETUPAPI.dll...) and stays out.
#
# In: KV20_DEPLOY_PROGRAMS (the built .exe files), KV20_DEPLOY_PLUGINS
# (subfolder=plugin.dll pairs), KV20_DEPLOY_SEARCH (folders holding the Qt
# and MinGW runtime DLLs), KV20_OBJDUMP, KV20_STRIP.
cmake_policy(PUSH)
cmake_policy(VERSION 3.16)
set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")

function(kv20_imports file out)
  execute_process(COMMAND ${KV20_OBJDUMP} -p ${file} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${KV20_OBJDUMP} -p ${file} failed")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\r\n]+" lines "${dump}")
  list(TRANSFORM lines REPLACE "DLL Name: " "")
  set(${out} ${lines} PARENT_SCOPE)
endfunction()

# Copied DLLs lose their debug information: libstdc++-6.dll is 23 MB with it.
function(kv20_place source subfolder)
  get_filename_component(name ${source} NAME)
  file(MAKE_DIRECTORY "${root}/${subfolder}")
  file(COPY ${source} DESTINATION "${root}/${subfolder}")
  execute_process(COMMAND ${KV20_STRIP} --strip-unneeded "${root}/${subfolder}/${name}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${KV20_STRIP} failed on ${name}")
  endif()
  message(STATUS "Runtime: ${subfolder}/${name}")
endfunction()

# The file in `folder` named `dll` in any case, or empty: import tables name
# DLLs as their import libraries spell them (libpq's says LIBPQ.dll), and
# Windows does not mind the case, but this file system does.
function(kv20_find_dll folder dll out)
  set(${out} "" PARENT_SCOPE)
  string(TOLOWER "${dll}" want)
  file(GLOB entries LIST_DIRECTORIES false "${folder}/*.[dD][lL][lL]")
  foreach(entry IN LISTS entries)
    get_filename_component(name "${entry}" NAME)
    string(TOLOWER "${name}" name)
    if(name STREQUAL want)
      set(${out} "${entry}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
endfunction()

set(queue ${KV20_DEPLOY_PROGRAMS})
foreach(pair IN LISTS KV20_DEPLOY_PLUGINS)
  string(REPLACE "=" ";" pair "${pair}")
  list(GET pair 0 subfolder)
  list(GET pair 1 plugin)
  kv20_place(${plugin} ${subfolder})
  list(APPEND queue ${plugin})
endforeach()

set(placed "")
while(queue)
  list(POP_FRONT queue file)
  kv20_imports(${file} imports)
  foreach(dll IN LISTS imports)
    string(TOLOWER ${dll} key)
    if(key IN_LIST placed)
      continue()
    endif()
    list(APPEND placed ${key})
    foreach(folder IN LISTS KV20_DEPLOY_SEARCH)
      kv20_find_dll("${folder}" "${dll}" found)
      if(found)
        kv20_place("${found}" .)
        list(APPEND queue "${found}")
        break()
      endif()
    endforeach()
  endforeach()
endwhile()
cmake_policy(POP)
