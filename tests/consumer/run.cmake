cmake_minimum_required(VERSION 3.20)
# Installs the build tree into a scratch prefix and checks what a consumer gets:
# only public headers under include/fm_common, no private dependency in the
# exported package, a CMake project (find_package) and a plain compiler call
# (pkg-config) that build and run a consumer, and a clear error below C++17.
# FM_PRIVATE_HEADERS: the private headers, '|'-separated, relative to fm_common/.
file(REMOVE_RECURSE ${FM_WORK_DIR})
set(prefix ${FM_WORK_DIR}/prefix)
function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(rc)
    message(FATAL_ERROR "${what} failed: ${rc}\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()
run("install" ${CMAKE_COMMAND} --install ${FM_BINARY_DIR} --prefix ${prefix})

# The installed tree: one include root, no private header, no private dependency.
string(REPLACE "|" ";" private "${FM_PRIVATE_HEADERS}")
list(TRANSFORM private PREPEND fm_common/)
file(GLOB_RECURSE headers RELATIVE ${prefix}/include ${prefix}/include/*)
foreach(h IN LISTS headers)
  if(NOT h MATCHES "^fm_common/" OR h IN_LIST private)
    message(FATAL_ERROR "installed header ${h} is private or outside include/fm_common")
  endif()
endforeach()
file(GLOB pkgfiles ${prefix}/lib*/cmake/fm_common/* ${prefix}/lib*/pkgconfig/fm_common.pc)
set(private_deps "soci|sqlite|libpq|postgresql|cctz|pugixml")
foreach(f IN LISTS pkgfiles)
  file(READ ${f} text)
  string(TOLOWER "${text}" text)
  if(text MATCHES "${private_deps}")
    message(FATAL_ERROR "${f} names the private dependency ${CMAKE_MATCH_0}")
  endif()
endforeach()

set(flags "${FM_CXX_FLAGS}")
foreach(s IN LISTS FM_SANITIZE)
  string(APPEND flags " -fsanitize=${s}")
endforeach()
run("consumer configure" ${CMAKE_COMMAND} -S ${FM_CONSUMER_SOURCE} -B ${FM_WORK_DIR}/build
  -DCMAKE_PREFIX_PATH=${prefix} "-DCMAKE_CXX_COMPILER=${FM_CXX_COMPILER}"
  "-DCMAKE_CXX_FLAGS=${flags}" "-DFM_PRIVATE_HEADERS=${private}")
run("consumer build" ${CMAKE_COMMAND} --build ${FM_WORK_DIR}/build)
run("consumer run" ${FM_WORK_DIR}/build/fm_consumer)
if(NOT out MATCHES "fm_common consumer ok")
  message(FATAL_ERROR "consumer run printed: ${out}")
endif()
message(STATUS "find_package: ${out}")

# The same program built by hand from what pkg-config says.
find_program(PKG_CONFIG NAMES pkg-config pkgconf REQUIRED)
file(GLOB pcdir ${prefix}/lib*/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "${pcdir}")
run("pkg-config" ${PKG_CONFIG} --modversion fm_common)
string(STRIP "${out}" version)
run("pkg-config" ${PKG_CONFIG} --cflags --libs fm_common)
string(TOLOWER "${out}" lower)
if(lower MATCHES "${private_deps}")
  message(FATAL_ERROR "pkg-config names the private dependency ${CMAKE_MATCH_0}: ${out}")
endif()
separate_arguments(pc_flags UNIX_COMMAND "${out}")
separate_arguments(cxx_flags UNIX_COMMAND "${flags}")
run("pkg-config build" ${FM_CXX_COMPILER} -std=c++17 ${cxx_flags} "-DFM_EXPECTED_VERSION=\"${version}\""
  ${FM_CONSUMER_SOURCE}/main.cpp -o ${FM_WORK_DIR}/fm_consumer_pc ${pc_flags})
run("pkg-config consumer run" ${CMAKE_COMMAND} -E env "LD_LIBRARY_PATH=${pcdir}/.."
  ${FM_WORK_DIR}/fm_consumer_pc)
message(STATUS "pkg-config: ${out}")

# Below C++17 the headers stop with one clear message, not deep inside a header.
execute_process(COMMAND ${FM_CXX_COMPILER} -std=c++14 -fsyntax-only -x c++ ${pc_flags}
  ${prefix}/include/fm_common/version.h RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc OR NOT err MATCHES "fm_common needs C\\+\\+17")
  message(FATAL_ERROR "a C++14 compile of version.h was not refused: ${err}")
endif()
