# The .def files are written for i686, where stdcall symbols carry "@n". x64
# has no such decoration, so for a 64-bit build every decorated C symbol loses
# it. The literal names a maker's library exports start with an underscore
# ("_GetRegisterValue@36") and are kept: both programs import the same names.
function(vorlane_def_for_arch in out_var)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    get_filename_component(name ${in} NAME)
    set(out ${CMAKE_CURRENT_BINARY_DIR}/x64-${name})
    file(READ ${in} text)
    string(REGEX REPLACE "([ =\n])([A-Za-z][A-Za-z0-9]*)@[0-9]+" "\\1\\2" text "${text}")
    file(WRITE ${out}.tmp "${text}")
    configure_file(${out}.tmp ${out} COPYONLY)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${in})
    set(${out_var} ${out} PARENT_SCOPE)
  else()
    set(${out_var} ${in} PARENT_SCOPE)
  endif()
endfunction()
