# korvend_library(<name> [DEPS <targets>...])
# One static library per source folder, made of every .cpp in it (not in
# sub-folders that have a CMakeLists.txt of their own). A folder without
# sources yet gives an INTERFACE library, so dependants link it already.
function(korvend_library name)
  cmake_parse_arguments(KL "" "" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  foreach(_ex ${KL_EXCLUDE})
    list(FILTER _srcs EXCLUDE REGEX "/${_ex}$")
  endforeach()
  if(_srcs)
    add_library(${name} STATIC ${_srcs})
    target_link_libraries(${name} PUBLIC ${KL_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${KL_DEPS})
  endif()
endfunction()

# korvend_test_paths()
# The source and build trees, for tests/build_paths.h, to every target of the
# calling folder and its sub-folders (the tests, and the benchmarks that
# start the daemon as the tests do): a test finds its fixtures and the
# build's programs through them, never through the current folder.
macro(korvend_test_paths)
  add_compile_definitions(KORVEND_TEST_SOURCE_DIR="${CMAKE_SOURCE_DIR}" KORVEND_TEST_BUILD_DIR="${CMAKE_BINARY_DIR}")
endmacro()

# GoogleTest and the standard headers most test files include, compiled once
# per test program (KORVEND_TEST_PCH, which scripts/test sets for its
# one-file-at-a-time build; off by default, as ccache passes precompiled
# headers over unless told to accept them).
set(KORVEND_TEST_PCH_HEADERS <gtest/gtest.h> <algorithm> <chrono> <filesystem> <fstream> <functional> <map>
    <memory> <sstream> <string> <vector>)

# korvend_test_suite(<name> [FIXED_PORTS] [DEPS <targets>...] [LABELS <labels>...])
# One GoogleTest program per test folder, made of every *_test.cpp in it.
# FIXED_PORTS: its cases start daemons, which bind the fixed ports (see
# korvend_discovered_test_properties).
function(korvend_test_suite name)
  cmake_parse_arguments(KT "FIXED_PORTS" "" "DEPS;LABELS" ${ARGN})
  file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  if(NOT _srcs)
    return()
  endif()
  add_executable(${name} ${_srcs})
  target_link_libraries(${name} PRIVATE ${KT_DEPS} GTest::gtest GTest::gtest_main GTest::gmock)
  if(KORVEND_TEST_PCH)
    target_precompile_headers(${name} PRIVATE ${KORVEND_TEST_PCH_HEADERS})
  endif()
  gtest_discover_tests(${name} WORKING_DIRECTORY ${CMAKE_BINARY_DIR} DISCOVERY_TIMEOUT 60)
  set(_fixed)
  if(KT_FIXED_PORTS)
    set(_fixed FIXED_PORTS)
  endif()
  korvend_discovered_test_properties(${name} ${_fixed} ${KT_LABELS})
endfunction()

# korvend_discovered_test_properties(<test program> [FIXED_PORTS] <labels>...)
# Labels and the tests' environment on the tests gtest_discover_tests found
# in a program, from a script of our own included after the discovery's:
# its PROPERTIES option flattens list values, so only the first variable
# of the environment would be set.
# FIXED_PORTS: where a case cannot have a network namespace of its own (not
# root, or namespaces refused), its daemons take turns on the fixed ports
# with every other suite's (tests/net_namespace.h); there ctest runs such
# cases one at a time itself, so that none spends its time-out waiting for
# the others' turns. The script runs as ctest starts, so the probe is that
# of whoever runs the tests, where they run.
function(korvend_discovered_test_properties name)
  cmake_parse_arguments(KD "FIXED_PORTS" "" "" ${ARGN})
  set(_props ${CMAKE_CURRENT_BINARY_DIR}/${name}_properties.cmake)
  file(WRITE ${_props}
    "if(${name}_TESTS)\n"
    "  set_tests_properties(\${${name}_TESTS} PROPERTIES\n"
    "    LABELS [==[${KD_UNPARSED_ARGUMENTS}]==] ENVIRONMENT [==[${KORVEND_TEST_ENVIRONMENT}]==])\n")
  if(KD_FIXED_PORTS)
    file(APPEND ${_props} "  korvend_fixed_ports_turns(\${${name}_TESTS})\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_SOURCE_DIR}/cmake/fixed_ports.cmake)
  endif()
  file(APPEND ${_props} "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${_props})
endfunction()
