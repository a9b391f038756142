# Building the plug-ins twice from the same sources: as MEX files for GNU Octave, and as
# shared libraries for the in-repository test host (unit tests and benchmarks).

find_program(MKOCTFILE mkoctfile)
if(NOT MKOCTFILE)
  message(FATAL_ERROR "mkoctfile not found: install the Debian package octave-dev (make deps)")
endif()
execute_process(COMMAND ${MKOCTFILE} -p INCFLAGS
                OUTPUT_VARIABLE octaveIncFlags OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE octaveQuery)
if(NOT octaveQuery EQUAL 0)
  message(FATAL_ERROR "mkoctfile -p INCFLAGS failed")
endif()
separate_arguments(octaveIncFlags UNIX_COMMAND "${octaveIncFlags}")
set(OCTAVE_INCLUDE_DIRS "")
foreach(flag IN LISTS octaveIncFlags)
  string(REGEX REPLACE "^-I" "" dir "${flag}")
  list(APPEND OCTAVE_INCLUDE_DIRS "${dir}")
endforeach()

set(MEX_EXPORT_MAP ${CMAKE_CURRENT_LIST_DIR}/mexfunction.map)

# add_host_library(name sources...): a static library whose code calls the host, built once
# against Octave's mex.h (name_octave) and once against the test host (name_minihost).
function(add_host_library name)
  add_library(${name}_octave STATIC ${ARGN})
  target_include_directories(${name}_octave PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_include_directories(${name}_octave SYSTEM PUBLIC ${OCTAVE_INCLUDE_DIRS})
  add_library(${name}_minihost STATIC ${ARGN})
  target_include_directories(${name}_minihost PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name}_minihost PUBLIC minihost)
endfunction()

# add_plugin(name SOURCE file HELP file [LIBS host libraries...] [DEFINITIONS defs...]):
# the MEX file
# ${MEX_OUTPUT_DIR}/name.mex with its help file beside it, and the test-host plug-in
# ${HOST_PLUGIN_DIR}/name.so. Only mexFunction is exported, as MATLAB's mex does.
function(add_plugin name)
  cmake_parse_arguments(PLUGIN "" "SOURCE;HELP" "LIBS;DEFINITIONS" ${ARGN})
  set(libs common ${PLUGIN_LIBS})

  add_library(${name}_mex MODULE ${PLUGIN_SOURCE})
  set_target_properties(${name}_mex PROPERTIES OUTPUT_NAME ${name} PREFIX "" SUFFIX ".mex"
                        LIBRARY_OUTPUT_DIRECTORY ${MEX_OUTPUT_DIR})
  target_link_options(${name}_mex PRIVATE -Wl,-Bsymbolic -Wl,--version-script=${MEX_EXPORT_MAP})
  target_compile_definitions(${name}_mex PRIVATE ${PLUGIN_DEFINITIONS})
  foreach(lib IN LISTS libs)
    target_link_libraries(${name}_mex PRIVATE ${lib}_octave)
  endforeach()

  add_library(${name}_host MODULE ${PLUGIN_SOURCE})
  set_target_properties(${name}_host PROPERTIES OUTPUT_NAME ${name} PREFIX "" SUFFIX ".so"
                        LIBRARY_OUTPUT_DIRECTORY ${HOST_PLUGIN_DIR})
  target_link_options(${name}_host PRIVATE -Wl,--version-script=${MEX_EXPORT_MAP})
  target_compile_definitions(${name}_host PRIVATE ${PLUGIN_DEFINITIONS})
  foreach(lib IN LISTS libs)
    target_link_libraries(${name}_host PRIVATE ${lib}_minihost)
  endforeach()

  set_property(GLOBAL APPEND PROPERTY HOST_PLUGIN_TARGETS ${name}_host)
  configure_file(${PLUGIN_HELP} ${MEX_OUTPUT_DIR}/${name}.m COPYONLY)
endfunction()

# add_plugin_test(name sources... ): a GoogleTest executable that calls test-host plug-ins.
function(add_plugin_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE minihost GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
endfunction()
