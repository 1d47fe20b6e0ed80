# korvend_asn1_library(<target> FILES <a.asn>... [DEPS <targets>...])
# Generates C++ from the ASN.1 modules (all files of one call are read
# together, so they may import from each other) into the build tree and
# compiles them into the static library <target>. Generated headers are
# included by their path under the build tree: a module in asn1/modules/
# is "asn1/modules/<Module>.h".

function(korvend_asn1_library name)
  cmake_parse_arguments(KA "" "" "FILES;DEPS" ${ARGN})
  set(KORVEND_ASN1GEN ${CMAKE_SOURCE_DIR}/tools/asn1gen/asn1gen.py)
  file(RELATIVE_PATH _rel ${CMAKE_BINARY_DIR} ${CMAKE_CURRENT_BINARY_DIR})
  set(_outs)
  set(_srcs)
  foreach(_f ${KA_FILES})
    get_filename_component(_m ${_f} NAME_WE)
    list(APPEND _outs ${CMAKE_CURRENT_BINARY_DIR}/${_m}.h ${CMAKE_CURRENT_BINARY_DIR}/${_m}.cpp)
    list(APPEND _srcs ${CMAKE_CURRENT_BINARY_DIR}/${_m}.cpp)
  endforeach()
  if(NOT _srcs)
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE korvend_asn1 ${KA_DEPS})
    return()
  endif()
  add_custom_command(
    OUTPUT ${_outs}
    COMMAND ${Python3_EXECUTABLE} ${KORVEND_ASN1GEN} --out-dir ${CMAKE_CURRENT_BINARY_DIR}
            --include-prefix ${_rel} ${KA_FILES}
    DEPENDS ${KORVEND_ASN1GEN} ${KA_FILES}
    COMMENT "asn1gen ${name}"
    VERBATIM)
  add_library(${name} STATIC ${_srcs})
  target_include_directories(${name} PUBLIC ${CMAKE_BINARY_DIR})
  target_link_libraries(${name} PUBLIC korvend_asn1 ${KA_DEPS})
endfunction()
