# cmake -DHEADER=<module>_wrap.h -P TarnDirectorMethods.cmake
# The forwarding objects' tables of methods (SWIG's -dirvtable) keep each
# method through tn_own_method (common/tn_methods.i), which holds no
# reference to the object: a bound method would keep it alive for good.
if(NOT EXISTS "${HEADER}")
  return() # a module without forwarding objects
endif()
file(READ "${HEADER}" _text)
set(_kept "vtable[method_index] = method;")
string(FIND "${_text}" "${_kept}" _at)
if(_at EQUAL -1)
  if(_text MATCHES "vtable\\[method_index\\]")
    message(FATAL_ERROR "${HEADER}: the tables of methods are not written as this step expects")
  endif()
  return()
endif()
string(REPLACE "${_kept}" "vtable[method_index] = method = tn_own_method(method, swig_get_self());" _text "${_text}")
file(WRITE "${HEADER}" "${_text}")
