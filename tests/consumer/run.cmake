# Installs the build tree into a scratch prefix, then configures, builds and runs
# a consumer project that finds it with find_package(fm_common).
file(REMOVE_RECURSE ${FM_WORK_DIR})
set(prefix ${FM_WORK_DIR}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${FM_BINARY_DIR} --prefix ${prefix}
  RESULT_VARIABLE rc OUTPUT_QUIET)
if(rc)
  message(FATAL_ERROR "install failed: ${rc}")
endif()
set(flags "${FM_CXX_FLAGS}")
foreach(s IN LISTS FM_SANITIZE)
  string(APPEND flags " -fsanitize=${s}")
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${FM_CONSUMER_SOURCE} -B ${FM_WORK_DIR}/build
  -DCMAKE_PREFIX_PATH=${prefix} "-DCMAKE_CXX_FLAGS=${flags}" RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "consumer configure failed: ${rc}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${FM_WORK_DIR}/build RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "consumer build failed: ${rc}")
endif()
execute_process(COMMAND ${FM_WORK_DIR}/build/fm_consumer RESULT_VARIABLE rc
  OUTPUT_VARIABLE out)
if(rc OR NOT out MATCHES "fm_common consumer ok")
  message(FATAL_ERROR "consumer run failed: ${rc} ${out}")
endif()
message(STATUS "${out}")
