# The SDK's shared libraries and their tests.
#
# Headers: sdk/include holds the public API only, the headers SWIG reads. A
# library's internal headers stay in its own folder. What other SDK libraries
# and tests may include of them comes with the INTERFACE target
# <name>Internal, which they link PRIVATE; the modules link the libraries
# and, for the memory blocks their views pin, libTnBase's internal headers,
# which SWIG never reads.

# tarn_sdk_library(<name> sources... [LINK libs...] [PRIVATE_LINK libs...] [INTERNAL_HEADERS])
# One SDK shared library, lib<name>.so, installed to tarn.libs beside the
# others, which it finds through its run path. Built against the public
# headers, its own folder and libTnBase's internal headers; symbols are hidden
# unless declared with an export macro. LINK names the libraries its public
# headers need, PRIVATE_LINK those only its code uses. INTERNAL_HEADERS makes
# <name>Internal, which hands the library's folder to those that link it.
function(tarn_sdk_library name)
  cmake_parse_arguments(ARG "INTERNAL_HEADERS" "" "LINK;PRIVATE_LINK" ${ARGN})
  add_library(${name} SHARED ${ARG_UNPARSED_ARGUMENTS})
  target_include_directories(${name}
    PUBLIC ${PROJECT_SOURCE_DIR}/sdk/include
    PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE -Wall -Wextra)
  target_link_libraries(${name} PUBLIC ${ARG_LINK} Threads::Threads PRIVATE ${ARG_PRIVATE_LINK})
  if(NOT name STREQUAL "TnBase")
    target_link_libraries(${name} PRIVATE TnBaseInternal)
  endif()
  set_target_properties(${name} PROPERTIES
    LIBRARY_OUTPUT_DIRECTORY ${TARN_LIBS_DIR}
    BUILD_WITH_INSTALL_RPATH ON
    INSTALL_RPATH "$ORIGIN")
  install(TARGETS ${name} LIBRARY DESTINATION ${TARN_LIBS_DIRNAME})
  set_property(GLOBAL APPEND PROPERTY TARN_SDK_LIBRARIES ${name})
  if(ARG_INTERNAL_HEADERS)
    add_library(${name}Internal INTERFACE)
    target_include_directories(${name}Internal INTERFACE $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}>)
    target_link_libraries(${name}Internal INTERFACE ${name})
    if(NOT name STREQUAL "TnBase")
      # Internal headers may build on libTnBase's (TnByteOrder.h, ...).
      target_link_libraries(${name}Internal INTERFACE TnBaseInternal)
    endif()
  endif()
endfunction()

if(TARN_BUILD_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()

# tarn_sdk_tests(<name> sources... LINK libs...): a GoogleTest executable that
# ctest runs, one test a case. It sees libTnBase's internal headers; other
# internals come with the <library>Internal targets it links.
function(tarn_sdk_tests name)
  if(NOT TARN_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "LINK" ${ARGN})
  add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${ARG_LINK} TnBaseInternal GTest::gtest_main)
  target_compile_options(${name} PRIVATE -Wall -Wextra)
  set_target_properties(${name} PROPERTIES BUILD_RPATH "${TARN_LIBS_DIR}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 30)
endfunction()
