# Debian's libss7, an independent MTP2/MTP3 stack, as the peer of the MTP
# level 2 tests and benchmark. Its static library is copied with its clock
# calls (gettimeofday, time) renamed, so that the test program answers them
# from the loop's test clock: the peer's timers then run on the same clock as
# ours. Host builds only; where the library is missing, nothing is defined.
#
#   include(${CMAKE_SOURCE_DIR}/cmake/libss7_peer.cmake)
#   if(KORVEND_LIBSS7) korvend_link_libss7(<target>) endif()
if(NOT DEFINED KORVEND_LIBSS7)
  set(KORVEND_LIBSS7 OFF)
  if(NOT CMAKE_CROSSCOMPILING)
    find_library(LIBSS7_STATIC NAMES libss7.a)
    find_path(LIBSS7_INCLUDE_DIR libss7.h)
    if(LIBSS7_STATIC AND LIBSS7_INCLUDE_DIR AND CMAKE_OBJCOPY)
      set(KORVEND_LIBSS7 ON)
    else()
      message(STATUS "libss7 (libss7-dev) not found: the MTP2 interworking tests and benchmark are not built")
    endif()
  endif()
  set(KORVEND_LIBSS7 ${KORVEND_LIBSS7} CACHE INTERNAL "")
endif()

if(KORVEND_LIBSS7 AND NOT TARGET libss7_peer_archive)
  set(LIBSS7_PEER_ARCHIVE ${CMAKE_BINARY_DIR}/libss7_peer/libss7_testclock.a CACHE INTERNAL "")
  add_custom_command(OUTPUT ${LIBSS7_PEER_ARCHIVE}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/libss7_peer
    COMMAND ${CMAKE_OBJCOPY} --redefine-sym gettimeofday=linktest_ss7_gettimeofday
            --redefine-sym time=linktest_ss7_time ${LIBSS7_STATIC} ${LIBSS7_PEER_ARCHIVE}
    DEPENDS ${LIBSS7_STATIC}
    COMMENT "libss7 on the test clock")
  add_custom_target(libss7_peer_archive DEPENDS ${LIBSS7_PEER_ARCHIVE})
endif()

function(korvend_link_libss7 target)
  add_dependencies(${target} libss7_peer_archive)
  target_include_directories(${target} SYSTEM PRIVATE ${LIBSS7_INCLUDE_DIR})
  target_link_libraries(${target} PRIVATE ${LIBSS7_PEER_ARCHIVE})
endfunction()
