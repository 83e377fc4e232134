# Script mode, for the `msi` target: installs the build (stripped, as the
# zip has it) into STAGE, lists every file there as a component with
# wixl-heat and builds MSI from WXS with wixl.
#
#   cmake -DBUILD= -DSTAGE= -DMSI= -DVERSION= -DICON= -DWXS= -DWIXL= -DWIXL_HEAT= -P make_msi.cmake
cmake_minimum_required(VERSION 3.16)
file(REMOVE_RECURSE ${STAGE})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${STAGE} --strip
                OUTPUT_QUIET RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "installing ${BUILD} into ${STAGE} failed")
endif()

file(GLOB_RECURSE files LIST_DIRECTORIES false ${STAGE}/*)
list(SORT files)
string(REPLACE ";" "\n" listing "${files}\n")
file(WRITE ${STAGE}.files "${listing}")
execute_process(COMMAND ${WIXL_HEAT} --prefix ${STAGE}/ --component-group Programs --var var.SourceDir
                        --directory-ref INSTALLDIR --win64
                INPUT_FILE ${STAGE}.files OUTPUT_FILE ${STAGE}.wxs RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "wixl-heat failed")
endif()

# wixl finds files only by paths relative to its working directory (or to
# its sources' folders), never by absolute ones. -a x64: wixl takes the
# platform from here, not from the source.
get_filename_component(folder ${STAGE} DIRECTORY)
get_filename_component(stage ${STAGE} NAME)
configure_file(${ICON} ${STAGE}.ico COPYONLY)
execute_process(COMMAND ${WIXL} -a x64 -D Version=${VERSION} -D SourceDir=${stage} -D IconFile=${stage}.ico
                        -D Win64=yes -o ${MSI} ${WXS} ${STAGE}.wxs
                WORKING_DIRECTORY ${folder} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "wixl failed")
endif()
message(STATUS "Installer: ${MSI}")
