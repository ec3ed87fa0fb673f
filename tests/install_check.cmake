# Installs the build into a scratch prefix, then builds a C program against it
# with the flags pkg-config reports for velmora.
set(prefix ${BUILD_DIR}/install_check_prefix)
file(REMOVE_RECURSE ${prefix})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
  RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed")
endif()
file(GLOB pcdirs ${prefix}/lib*/pkgconfig ${prefix}/lib/*/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "${pcdirs}")
get_filename_component(libdir "${pcdirs}" DIRECTORY)
execute_process(COMMAND pkg-config --define-prefix --cflags --libs velmora
  OUTPUT_VARIABLE flags RESULT_VARIABLE rc OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "pkg-config does not know velmora")
endif()
separate_arguments(flags)
execute_process(COMMAND ${C_COMPILER} -std=c11 ${SOURCE_DIR}/tests/c_interface_check.c ${flags}
  -Wl,-rpath,${libdir} -o ${prefix}/c_interface_check RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "building against the installed library failed")
endif()
execute_process(COMMAND ${prefix}/c_interface_check RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the program built against the installed library failed")
endif()
