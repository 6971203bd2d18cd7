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

# One plug-in, build/mex/NAME.mex, from SOURCE and the common routines.
function(toolbox_octave_plugin name source)
  add_library(${name}_octave MODULE ${source} $<TARGET_OBJECTS:toolbox_common_octave>)
  target_include_directories(${name}_octave PRIVATE ${CMAKE_SOURCE_DIR}/common ${OCTAVE_INCLUDE_DIR})
  set_target_properties(${name}_octave PROPERTIES
    PREFIX "" SUFFIX ".mex" OUTPUT_NAME ${name}
    LIBRARY_OUTPUT_DIRECTORY ${TOOLBOX_MEX_DIR})
  # The host resolves the mx* symbols at load time, as mkoctfile --mex links.
  target_link_options(${name}_octave PRIVATE -Wl,-Bsymbolic)
  if(OpenMP_CXX_FOUND)
    target_link_libraries(${name}_octave PRIVATE OpenMP::OpenMP_CXX)
  endif()
endfunction()

foreach(name IN LISTS TOOLBOX_BUILT_PLUGINS)
  toolbox_octave_plugin(${name} ${name}/${name}.cpp)
endforeach()

# The help text beside each plug-in, so that help NAME works where it is
# called from; in one folder the host runs NAME.mex and shows NAME.m's help.
foreach(name IN LISTS TOOLBOX_BUILT_PLUGINS)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${name}/${name}.m)
    configure_file(${CMAKE_SOURCE_DIR}/${name}/${name}.m ${TOOLBOX_MEX_DIR}/${name}.m COPYONLY)
  endif()
endforeach()

# The function layer in otk/: every otk/*.cpp becomes a plug-in beside the
# six, and every otk/*.m (with otk/private/) is copied there, so that one
# folder on the path holds the whole toolbox.
file(GLOB TOOLBOX_LAYER_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/otk/*.cpp)
set(TOOLBOX_LAYER_PLUGINS "")
foreach(source IN LISTS TOOLBOX_LAYER_SOURCES)
  get_filename_component(name ${source} NAME_WE)
  list(APPEND TOOLBOX_LAYER_PLUGINS ${name})
  toolbox_octave_plugin(${name} ${source})
endforeach()
file(GLOB TOOLBOX_LAYER_FILES CONFIGURE_DEPENDS RELATIVE ${CMAKE_SOURCE_DIR}/otk
     ${CMAKE_SOURCE_DIR}/otk/*.m ${CMAKE_SOURCE_DIR}/otk/private/*.m)
foreach(file IN LISTS TOOLBOX_LAYER_FILES)
  configure_file(${CMAKE_SOURCE_DIR}/otk/${file} ${TOOLBOX_MEX_DIR}/${file} COPYONLY)
endforeach()
