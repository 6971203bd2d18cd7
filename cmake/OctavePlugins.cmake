# Octave plug-ins, NAME.mex in build/mex, from Octave's development files.
find_program(MKOCTFILE NAMES mkoctfile REQUIRED)
execute_process(COMMAND ${MKOCTFILE} -p OCTINCLUDEDIR
                OUTPUT_VARIABLE OCTAVE_INCLUDE_DIR OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT EXISTS ${OCTAVE_INCLUDE_DIR}/mex.h)
  message(FATAL_ERROR "Octave's mex.h not found (mkoctfile -p OCTINCLUDEDIR gave '${OCTAVE_INCLUDE_DIR}'); install octave-dev")
endif()

add_library(toolbox_common_octave OBJECT ${TOOLBOX_COMMON_SOURCES})
set_target_properties(toolbox_common_octave PROPERTIES POSITION_INDEPENDENT_CODE ON)
target_include_directories(toolbox_common_octave PUBLIC ${CMAKE_SOURCE_DIR}/common ${OCTAVE_INCLUDE_DIR})
if(OpenMP_CXX_FOUND)
  target_link_libraries(toolbox_common_octave PUBLIC OpenMP::OpenMP_CXX)
endif()

foreach(name IN LISTS TOOLBOX_BUILT_PLUGINS)
  add_library(${name}_octave MODULE ${name}/${name}.cpp $<TARGET_OBJECTS:toolbox_common_octave>)
  target_include_directories(${name}_octave PRIVATE ${CMAKE_SOURCE_DIR}/common ${OCTAVE_INCLUDE_DIR})
  set_target_properties(${name}_octave PROPERTIES
    PREFIX "" SUFFIX ".mex" OUTPUT_NAME ${name}
    LIBRARY_OUTPUT_DIRECTORY ${TOOLBOX_MEX_DIR})
  # The host resolves the mx* symbols at load time, as mkoctfile --mex links.
  target_link_options(${name}_octave PRIVATE -Wl,-Bsymbolic)
  if(OpenMP_CXX_FOUND)
    target_link_libraries(${name}_octave PRIVATE OpenMP::OpenMP_CXX)
  endif()
endforeach()

# The help text beside each plug-in, so that help NAME works where it is
# called from; in one folder the host runs NAME.mex and shows NAME.m's help.
foreach(name IN LISTS TOOLBOX_BUILT_PLUGINS)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${name}/${name}.m)
    configure_file(${CMAKE_SOURCE_DIR}/${name}/${name}.m ${TOOLBOX_MEX_DIR}/${name}.m COPYONLY)
  endif()
endforeach()
