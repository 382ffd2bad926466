# The package as a user receives it, laid out in build/windows/dist on every build (`make
# package` copies it to dist/): the drivers with their INFs, the message library with its
# language files under their system-directory names, the start-up service with its joystick
# check, the installer, the calibration program and the guide.
set(ZEL_DIST ${CMAKE_BINARY_DIR}/dist)
set(ZEL_DIST_FILES
  $<TARGET_FILE:zel_hidg> ${CMAKE_SOURCE_DIR}/zel_hidg/zel_hidg.inf
  $<TARGET_FILE:zel_vmd> ${CMAKE_SOURCE_DIR}/xd/zel_vmd/zel_vmd.inf
  $<TARGET_FILE:zel_lng>
  $<TARGET_FILE:zelinst>
  $<TARGET_FILE:zelcal>
  ${CMAKE_SOURCE_DIR}/INSTALL.md)
set(ZEL_DIST_TARGETS zel_hidg zel_vmd zel_lng zelinst zelcal)
foreach(language english german spanish french italian)
  list(APPEND ZEL_DIST_FILES ${CMAKE_BINARY_DIR}/idioma_dll/zel_${language}.h)
endforeach()
if(TARGET zel_svc)
  list(APPEND ZEL_DIST_FILES $<TARGET_FILE:zel_svc> $<TARGET_FILE:zel_svc_check>)
  list(APPEND ZEL_DIST_TARGETS zel_svc zel_svc_check)
endif()
add_custom_target(dist ALL
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${ZEL_DIST}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ZEL_DIST}
  COMMAND ${CMAKE_COMMAND} -E copy ${ZEL_DIST_FILES} ${ZEL_DIST}
  COMMENT "Laying out the package in ${ZEL_DIST}"
  VERBATIM)
add_dependencies(dist ${ZEL_DIST_TARGETS})
