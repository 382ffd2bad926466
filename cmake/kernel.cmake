# Compile and link settings for kernel-mode code.
#
# On the host every kernel source builds against the model of the platform in
# platform/host; for Windows it builds freestanding against mingw-w64's DDK headers.

# zel_kernel_target(<target>): kernel code rules for a library or driver target.
function(zel_kernel_target target)
  target_compile_options(${target} PRIVATE ${ZEL_WARNINGS})
  target_link_libraries(${target} PUBLIC zel_kernel_api)
  if(ZEL_WINDOWS)
    target_compile_options(${target} PRIVATE
      $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti -fno-threadsafe-statics>
      -ffreestanding -fno-stack-protector -mno-stack-arg-probe)
  endif()
endfunction()

# zel_kernel_driver(<target> <imports...>): link a .sys image from the given sources.
# The image is a native executable (no DLL flag, nothing exported), stripped of its symbol
# table, with unwind data (.pdata/.xdata) kept so that stack walks pass through its frames;
# the link map beside it (<image>.map) tells the checks where each routine lies.
function(zel_kernel_driver target)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;IMPORTS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  zel_kernel_target(${target})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS})
  set_target_properties(${target} PROPERTIES SUFFIX ".sys" PREFIX "")
  target_link_options(${target} PRIVATE
    -nostdlib -Wl,--subsystem,native -Wl,--entry,DriverEntry
    -Wl,--image-base,0x140000000 -Wl,--section-alignment,0x1000 -Wl,--file-alignment,0x200
    -Wl,--dynamicbase -Wl,--nxcompat -s -Wl,-Map=$<TARGET_FILE:${target}>.map)
  foreach(lib ${ARG_IMPORTS})
    target_link_libraries(${target} PRIVATE ${lib})
  endforeach()
  target_link_libraries(${target} PRIVATE gcc)
  # INIT discardable, resources read-only and the checksum, which the linker leaves 0.
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tools/finish_driver_image.py
            $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()
