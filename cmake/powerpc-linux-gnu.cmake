# Toolchain for the board: 32-bit big-endian PowerPC Linux, with Debian's
# cross compiler (g++-powerpc-linux-gnu, libc6-dev-powerpc-cross). Test
# programs run under qemu-user (qemu-ppc), both when ctest runs them and when
# gtest_discover_tests lists their cases at build time.
#
#   cmake -S . -B build-ppc -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/powerpc-linux-gnu.cmake -DKORVEND_BENCH=OFF
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR powerpc)
set(CMAKE_C_COMPILER powerpc-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER powerpc-linux-gnu-g++)

set(KORVEND_TARGET_SYSROOT /usr/powerpc-linux-gnu)

# What the board is, declared here and checked against the compiler by
# tests/platform (a wrong toolchain must not pass as the board).
set(KORVEND_TARGET_BIG_ENDIAN ON)
set(KORVEND_TARGET_ILP32 ON)

# Boost and Loki are used as headers only, and their headers are the same for
# every architecture: take the host packages'. They are offered through a
# tree that holds nothing else, so that the host's C library headers in
# /usr/include never shadow the target's.
set(_host_headers ${CMAKE_BINARY_DIR}/host-headers)
if(NOT CMAKE_IN_TRY_COMPILE)
  file(MAKE_DIRECTORY ${_host_headers}/include)
  foreach(_dir boost loki)
    if(NOT EXISTS ${_host_headers}/include/${_dir})
      file(CREATE_LINK /usr/include/${_dir} ${_host_headers}/include/${_dir} SYMBOLIC)
    endif()
  endforeach()
endif()

# Libraries, headers and CMake packages come from the target's tree only.
# Programs come from the host: Python (and the code generators it runs at
# build time) must be the host's interpreter.
set(CMAKE_FIND_ROOT_PATH ${KORVEND_TARGET_SYSROOT} ${_host_headers})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No GoogleTest library is packaged for the target; build it from the
# sources Debian's googletest package ships.
set(KORVEND_GTEST_SOURCE_DIR /usr/src/googletest)

# -L gives qemu the target's dynamic loader and libraries. Tests that start a
# program themselves get the emulator as KORVEND_EMULATOR and the same tree
# as QEMU_LD_PREFIX (see tests/README.md).
find_program(KORVEND_QEMU qemu-ppc)
if(KORVEND_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KORVEND_QEMU} -L ${KORVEND_TARGET_SYSROOT})
  set(KORVEND_EMULATOR_ENVIRONMENT "QEMU_LD_PREFIX=${KORVEND_TARGET_SYSROOT}")
endif()
