# SWIG and numpy's headers, and the rule that turns an interface into an extension module.

get_filename_component(_tarn_python_bin "${Python_EXECUTABLE}" DIRECTORY)
find_program(SWIG_EXECUTABLE NAMES swig HINTS "${_tarn_python_bin}" REQUIRED)
execute_process(COMMAND "${SWIG_EXECUTABLE}" -swiglib OUTPUT_VARIABLE _tarn_swig_lib OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND "${SWIG_EXECUTABLE}" -version OUTPUT_VARIABLE _tarn_swig_version_text)
string(REGEX MATCH "SWIG Version ([0-9]+\\.[0-9]+\\.[0-9]+)" _tarn_swig_match "${_tarn_swig_version_text}")
set(TARN_SWIG_VERSION "${CMAKE_MATCH_1}")
# 4.3 shares its runtime through "swig_runtime_data4"; later releases rename it.
if(NOT TARN_SWIG_VERSION MATCHES "^4\\.3\\.")
  message(FATAL_ERROR "SWIG 4.3.x is required, found '${TARN_SWIG_VERSION}' at ${SWIG_EXECUTABLE}")
endif()

execute_process(
  COMMAND "${Python_EXECUTABLE}" -c "import numpy; print(numpy.get_include())"
  OUTPUT_VARIABLE TARN_NUMPY_INCLUDE OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE _tarn_numpy_result)
if(NOT _tarn_numpy_result EQUAL 0)
  message(FATAL_ERROR "numpy is not importable by ${Python_EXECUTABLE}")
endif()

set(TARN_SWIG_FLAGS -c++ -python -threads -dirvtable -doxygen)

# tarn_swig_module(<module> <interface> [LIBRARIES libs...] [OUTPUT_DIR dir] [NO_INSTALL])
# Builds the extension module _<module> and its proxy module <module>.py.
function(tarn_swig_module module interface)
  cmake_parse_arguments(ARG "NO_INSTALL" "OUTPUT_DIR" "LIBRARIES" ${ARGN})
  if(NOT ARG_OUTPUT_DIR)
    set(ARG_OUTPUT_DIR ${TARN_PYTHON_DIR})
  endif()
  get_filename_component(interface "${interface}" ABSOLUTE)
  set(wrapper ${CMAKE_CURRENT_BINARY_DIR}/${module}_wrap.cxx)
  set(proxy ${ARG_OUTPUT_DIR}/${module}.py)
  add_custom_command(
    OUTPUT ${wrapper} ${proxy}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${ARG_OUTPUT_DIR}
    COMMAND "${SWIG_EXECUTABLE}" ${TARN_SWIG_FLAGS}
            -I${PROJECT_SOURCE_DIR}/common -I${PROJECT_SOURCE_DIR}/sdk/include
            -MMD -MF ${wrapper}.d
            -outdir ${ARG_OUTPUT_DIR} -o ${wrapper} ${interface}
    COMMAND ${CMAKE_COMMAND} -DHEADER=${CMAKE_CURRENT_BINARY_DIR}/${module}_wrap.h
            -P ${PROJECT_SOURCE_DIR}/cmake/TarnDirectorMethods.cmake
    DEPFILE ${wrapper}.d
    MAIN_DEPENDENCY ${interface}
    COMMENT "SWIG ${module}"
    VERBATIM)

  python_add_library(_${module} MODULE WITH_SOABI ${wrapper})
  target_include_directories(_${module} PRIVATE ${TARN_NUMPY_INCLUDE} ${PROJECT_SOURCE_DIR}/sdk/include)
  # The views' and attached arrays' memory blocks (common/tn_arrays.i) are
  # the one internal header of the SDK the modules use: libTnBase's
  # TnMemoryBlocks.h, which SWIG never reads.
  target_link_libraries(_${module} PRIVATE ${ARG_LIBRARIES} TnBaseInternal)
  # Generated code: its warnings are SWIG's, not ours.
  target_compile_options(_${module} PRIVATE -w)
  set_target_properties(_${module} PROPERTIES
    LIBRARY_OUTPUT_DIRECTORY ${ARG_OUTPUT_DIR}
    CXX_VISIBILITY_PRESET hidden
    BUILD_WITH_INSTALL_RPATH ON)
  # Installed modules find the SDK beside them; modules kept in the build tree
  # elsewhere (test helpers) find it where it was built.
  if(ARG_OUTPUT_DIR STREQUAL TARN_PYTHON_DIR)
    set_property(TARGET _${module} PROPERTY INSTALL_RPATH "$ORIGIN/${TARN_LIBS_DIRNAME}")
  else()
    set_property(TARGET _${module} PROPERTY INSTALL_RPATH "${TARN_LIBS_DIR}")
  endif()
  if(NOT ARG_NO_INSTALL)
    install(TARGETS _${module} LIBRARY DESTINATION .)
    install(FILES ${proxy} DESTINATION .)
  endif()
endfunction()
