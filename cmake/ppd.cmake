# PPD files: compiled with ppdc (Debian package cups-ppdc) from the one driver-information
# source into build/ppd, as part of the default build. The file names come from the source's
# PCFileName lines, so a model added there needs no change here.
include_guard(GLOBAL)

set(RX5K_PPD_SOURCE ${CMAKE_SOURCE_DIR}/ppd/rx5k.drv)
set(RX5K_PPD_DIR ${CMAKE_BINARY_DIR}/ppd)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${RX5K_PPD_SOURCE})

file(STRINGS ${RX5K_PPD_SOURCE} rx5k_pcfilename_lines REGEX "^[ \t]*PCFileName[ \t]+\"[^\"]+\"")
set(RX5K_PPD_FILES "")
foreach(line ${rx5k_pcfilename_lines})
  string(REGEX REPLACE "^[ \t]*PCFileName[ \t]+\"([^\"]+)\".*$" "\\1" name "${line}")
  list(APPEND RX5K_PPD_FILES ${RX5K_PPD_DIR}/${name})
endforeach()

find_program(RX5K_PPDC ppdc)
if(RX5K_PPDC)
  add_custom_command(
    OUTPUT ${RX5K_PPD_FILES}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${RX5K_PPD_DIR}
    COMMAND ${RX5K_PPDC} -D RX5K_VERSION=${PROJECT_VERSION} -d ${RX5K_PPD_DIR} ${RX5K_PPD_SOURCE}
    DEPENDS ${RX5K_PPD_SOURCE}
    COMMENT "Compiling the PPD files with ppdc"
    VERBATIM)
  add_custom_target(rx5k-ppd ALL DEPENDS ${RX5K_PPD_FILES})
else()
  message(WARNING "ppdc not found (Debian package cups-ppdc): the PPD files are not built")
endif()

# The tests that read the PPDs need them built first, also when only their target is built.
function(rx5k_ppd_test_dependencies)
  foreach(test test_ppd test_cupsd test_e2e test_reliability)
    if(TARGET ${test} AND TARGET rx5k-ppd)
      add_dependencies(${test} rx5k-ppd)
    endif()
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL rx5k_ppd_test_dependencies)
