#pragma once
// The source and build trees of the build that made this test program, so
// that it finds its fixtures, stand-ins and the build's programs from any
// working folder. The build gives them to every test program
// (korvend_test_paths() in cmake/korvend.cmake).
#include <string>

#if !defined(KORVEND_TEST_SOURCE_DIR) || !defined(KORVEND_TEST_BUILD_DIR)
#error "a test program gets its trees from the build: korvend_test_paths() in the CMakeLists.txt of its folder"
#endif

namespace testkit {

inline std::string sourceDir() { return KORVEND_TEST_SOURCE_DIR; }
inline std::string buildDir() { return KORVEND_TEST_BUILD_DIR; }

}  // namespace testkit
