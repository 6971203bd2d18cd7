# Octave plug-ins, NAME.mex in build/mex, from Octave's development files:
# the six kernels, and the compiled helpers of the otk_ layer (otk/NAME.cpp).
find_program(MKOCTFILE NAMES mkoctfile REQUIRED)
execute_process(COMMAND ${MKOCTFILE} -p OCTINCLUDEDIR
                OUTPUT_VARIABLE OCTAVE_INCLUDE_DIR OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT EXISTS ${OCTAVE_INCLUDE_DIR}/mex.h)
  message(FATAL_ERROR "Octave's mex.h not found (mkoctfile -p OCTINCLUDEDIR gave '${OCTAVE_INCLUDE_DIR}'); install octave-dev")
endif()

add_library(toolbox_common_octave OBJECT ${TOOLBOX_COMMON_SOURCES})
set_target_properties(toolbox_common_octave PROPERTIES POSITION_INDEPENDENT_CODE ON)
target_include_directories(toolbox_common_octave PUBLIC ${TOOLBOX_INCLUDE_DIRS} ${OCTAVE_INCLUDE_DIR})

# toolbox_add_octave_plugin(<name> <source>)
function(toolbox_add_octave_plugin name source)
  add_library(${name}_octave MODULE ${source} $<TARGET_OBJECTS:toolbox_common_octave>)
  target_include_directories(${name}_octave PRIVATE ${TOOLBOX_INCLUDE_DIRS} ${OCTAVE_INCLUDE_DIR})
  set_target_properties(${name}_octave PROPERTIES
    PREFIX "" SUFFIX ".mex" OUTPUT_NAME ${name}
    LIBRARY_OUTPUT_DIRECTORY ${TOOLBOX_MEX_DIR})
  # The host resolves the mx* symbols at load time, as mkoctfile --mex links.
  target_link_options(${name}_octave PRIVATE -Wl,-Bsymbolic)
  target_link_libraries(${name}_octave PRIVATE Threads::Threads)
endfunction()

foreach(name IN LISTS TOOLBOX_BUILT_PLUGINS)
  toolbox_add_octave_plugin(${name} ${name}/${name}.cpp)
endforeach()
foreach(name IN LISTS TOOLBOX_LAYER_PLUGINS)
  toolbox_add_octave_plugin(${name} otk/${name}.cpp)
endforeach()
# Just the plug-ins, for a build that only runs them: cmake --build build --target octave_plugins
set(plugin_targets ${TOOLBOX_BUILT_PLUGINS} ${TOOLBOX_LAYER_PLUGINS})
list(TRANSFORM plugin_targets APPEND _octave)
add_custom_target(octave_plugins DEPENDS ${plugin_targets})

# The help text beside each plug-in, so that help NAME works where it is
# called from; in one folder the host runs NAME.mex and shows NAME.m's help.
foreach(name IN LISTS TOOLBOX_BUILT_PLUGINS)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${name}/${name}.m)
    configure_file(${CMAKE_SOURCE_DIR}/${name}/${name}.m ${TOOLBOX_MEX_DIR}/${name}.m COPYONLY)
  endif()
endforeach()
# The otk_ layer's functions and its private helpers, beside the plug-ins.
file(GLOB_RECURSE layer_files CONFIGURE_DEPENDS RELATIVE ${CMAKE_SOURCE_DIR}/otk
     ${CMAKE_SOURCE_DIR}/otk/*.m ${CMAKE_SOURCE_DIR}/otk/NEWS)
foreach(file IN LISTS layer_files)
  configure_file(${CMAKE_SOURCE_DIR}/otk/${file} ${TOOLBOX_MEX_DIR}/${file} COPYONLY)
endforeach()
