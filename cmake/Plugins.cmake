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
# against Octave's mex.h (name_octave) and once against the test host (name_minihost). Both
# compile and link with OpenMP (threadLibrary), and pass it on to what links them.
function(add_host_library name)
  add_library(${name}_octave STATIC ${ARGN})
  target_include_directories(${name}_octave PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_include_directories(${name}_octave SYSTEM PUBLIC ${OCTAVE_INCLUDE_DIRS})
  target_link_libraries(${name}_octave PUBLIC ${threadLibrary})
  # A sanitizer build makes no MEX file, so nothing needs the Octave variant.
  if(SANITIZE)
    set_target_properties(${name}_octave PROPERTIES EXCLUDE_FROM_ALL ON)
  endif()
  add_library(${name}_minihost STATIC ${ARGN})
  target_include_directories(${name}_minihost PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name}_minihost PUBLIC minihost ${threadLibrary})
endfunction()

# add_mex_file(name source definitions libs externalLibs): the MEX file
# ${MEX_OUTPUT_DIR}/name.mex, linked with the Octave variant of each host library in libs and
# with each library of externalLibs as it is.
function(add_mex_file name source definitions libs externalLibs)
  add_library(${name}_mex MODULE ${source})
  set_target_properties(${name}_mex PROPERTIES OUTPUT_NAME ${name} PREFIX "" SUFFIX ".mex"
                        LIBRARY_OUTPUT_DIRECTORY ${MEX_OUTPUT_DIR})
  target_link_options(${name}_mex PRIVATE -Wl,-Bsymbolic -Wl,--version-script=${MEX_EXPORT_MAP})
  target_compile_definitions(${name}_mex PRIVATE ${definitions})
  foreach(lib IN LISTS libs)
    target_link_libraries(${name}_mex PRIVATE ${lib}_octave)
  endforeach()
  set_property(GLOBAL APPEND PROPERTY MEX_TARGETS ${name}_mex)
  target_link_libraries(${name}_mex PRIVATE ${externalLibs})
endfunction()

# add_plugin(name SOURCE file HELP file [LIBS host libraries...] [EXTERNAL_LIBS libraries...]
#            [DEFINITIONS defs...]):
# the MEX file
# ${MEX_OUTPUT_DIR}/name.mex (not in a sanitizer build) with its help file beside it, and the
# test-host plug-in ${HOST_PLUGIN_DIR}/name.so. Only mexFunction is exported, as MATLAB's mex does.
# EXTERNAL_LIBS are libraries from outside the project (OpenMP::OpenMP_CXX), linked to both.
function(add_plugin name)
  cmake_parse_arguments(PLUGIN "" "SOURCE;HELP" "LIBS;EXTERNAL_LIBS;DEFINITIONS" ${ARGN})
  set(libs common ${PLUGIN_LIBS})

  # Octave cannot load a sanitizer-instrumented MEX file: a sanitizer build makes only the
  # test-host plug-in.
  if(NOT SANITIZE)
    add_mex_file(${name} ${PLUGIN_SOURCE} "${PLUGIN_DEFINITIONS}" "${libs}" "${PLUGIN_EXTERNAL_LIBS}")
  endif()

  add_library(${name}_host MODULE ${PLUGIN_SOURCE})
  set_target_properties(${name}_host PROPERTIES OUTPUT_NAME ${name} PREFIX "" SUFFIX ".so"
                        LIBRARY_OUTPUT_DIRECTORY ${HOST_PLUGIN_DIR})
  target_link_options(${name}_host PRIVATE -Wl,--version-script=${MEX_EXPORT_MAP})
  target_compile_definitions(${name}_host PRIVATE ${PLUGIN_DEFINITIONS})
  foreach(lib IN LISTS libs)
    target_link_libraries(${name}_host PRIVATE ${lib}_minihost)
  endforeach()
  target_link_libraries(${name}_host PRIVATE ${PLUGIN_EXTERNAL_LIBS})
  set_target_properties(${name}_host PROPERTIES PLUGIN_EXTERNAL_LIBS "${PLUGIN_EXTERNAL_LIBS}")

  set_property(GLOBAL APPEND PROPERTY HOST_PLUGIN_TARGETS ${name}_host)
  configure_file(${PLUGIN_HELP} ${MEX_OUTPUT_DIR}/${name}.m COPYONLY)
endfunction()

# add_plugin_test(name sources... ): a GoogleTest executable that calls test-host plug-ins.
# Without GoogleTest (BUILD_UNIT_TESTS off) the executable is still declared, so that what a
# plug-in folder adds to it afterwards (libraries, dependencies) needs no guard, but it is
# left out of the build and of the tests, and building it on purpose stops with a message.
function(add_plugin_test name)
  if(NOT BUILD_UNIT_TESTS)
    if(NOT TARGET unit_tests_unavailable)
      add_custom_target(unit_tests_unavailable
                        COMMAND ${CMAKE_COMMAND} -E echo "GoogleTest was not found when this build folder was configured: install it (scripts/install-deps.sh test) and configure again"
                        COMMAND ${CMAKE_COMMAND} -E false
                        VERBATIM)
    endif()
    add_executable(${name} EXCLUDE_FROM_ALL ${ARGN})
    add_dependencies(${name} unit_tests_unavailable)
    return()
  endif()
  add_executable(${name} ${ARGN})
  # The tests set the plug-ins' thread count (omp_set_num_threads) in the same OpenMP runtime.
  target_link_libraries(${name} PRIVATE minihost GTest::gtest_main ${threadLibrary})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  if(SANITIZE)
    # Every report, leaks included, fails the test that raised it.
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ENVIRONMENT
                         "ASAN_OPTIONS=detect_leaks=1:halt_on_error=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
