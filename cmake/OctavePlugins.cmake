# Octave plug-ins, NAME.mex in build/mex, from Octave's development files:
# the six kernels, and the compiled helpers of the otk_ layer (otk/NAME.cpp).
find_program(MKOCTFILE NAMES mkoctfile REQUIRED)
execute_process(COMMAND ${MKOCTFILE} -p OCTINCLUDEDIR
                OUTPUT_VARIABLE OCTAVE_INCLUDE_DIR OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT EXISTS ${OCTAVE_INCLUDE_DIR}/mex.h)
  message(FATAL_ERROR "Octave's mex.h not found (mkoctfile -p OCTINCLUDEDIR gave '${OCTAVE_INCLUDE_DIR}'); install octave-dev")
endif()

# Two builds of every plug-in, one for each of the host's array APIs: the
# interleaved-complex one (-R2018a: mxGetDoubles), which MATLAB recommends
# and build/mex holds, and the separate-complex one (-R2017b: mxGetPr) in
# build/mex-r2017b. The Octave tests run against both.
set(TOOLBOX_MEX_R2017B_DIR ${CMAKE_BINARY_DIR}/mex-r2017b)
set(TOOLBOX_INTERLEAVED_DEFINITIONS MX_HAS_INTERLEAVED_COMPLEX=1)
# Octave looks for this mark to hand a plug-in arrays of the interleaved API.
set(TOOLBOX_INTERLEAVED_MARK ${CMAKE_SOURCE_DIR}/cmake/interleaved_api.cpp)

# toolbox_add_octave_plugin_set(<suffix> <folder> <definitions...>)
function(toolbox_add_octave_plugin_set suffix folder)
  set(definitions ${ARGN})
  add_library(toolbox_common${suffix} OBJECT ${TOOLBOX_COMMON_SOURCES})
  set_target_properties(toolbox_common${suffix} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  target_include_directories(toolbox_common${suffix} PUBLIC ${TOOLBOX_INCLUDE_DIRS} ${OCTAVE_INCLUDE_DIR})
  target_compile_definitions(toolbox_common${suffix} PUBLIC ${definitions})
  set(sources "")
  foreach(name IN LISTS TOOLBOX_BUILT_PLUGINS)
    list(APPEND sources ${name}/${name}.cpp)
  endforeach()
  foreach(name IN LISTS TOOLBOX_LAYER_PLUGINS)
    list(APPEND sources otk/${name}.cpp)
  endforeach()
  set(targets "")
  foreach(source IN LISTS sources)
    get_filename_component(name ${source} NAME_WE)
    set(mark "")
    if(definitions)
      set(mark ${TOOLBOX_INTERLEAVED_MARK})
    endif()
    add_library(${name}${suffix} MODULE ${source} ${mark} $<TARGET_OBJECTS:toolbox_common${suffix}>)
    target_include_directories(${name}${suffix} PRIVATE ${TOOLBOX_INCLUDE_DIRS} ${OCTAVE_INCLUDE_DIR})
    target_compile_definitions(${name}${suffix} PRIVATE ${definitions})
    set_target_properties(${name}${suffix} PROPERTIES
      PREFIX "" SUFFIX ".mex" OUTPUT_NAME ${name}
      LIBRARY_OUTPUT_DIRECTORY ${folder})
    # The host resolves the mx* symbols at load time, as mkoctfile --mex links.
    target_link_options(${name}${suffix} PRIVATE -Wl,-Bsymbolic)
    target_link_libraries(${name}${suffix} PRIVATE Threads::Threads)
    if(name IN_LIST TOOLBOX_FFT_PLUGINS)
      toolbox_link_fft(${name}${suffix})
    endif()
    list(APPEND targets ${name}${suffix})
  endforeach()
  set(TOOLBOX_PLUGIN_TARGETS${suffix} ${targets} PARENT_SCOPE)
endfunction()

toolbox_add_octave_plugin_set(_octave ${TOOLBOX_MEX_DIR} ${TOOLBOX_INTERLEAVED_DEFINITIONS})
toolbox_add_octave_plugin_set(_octave_r2017b ${TOOLBOX_MEX_R2017B_DIR})
# One more plug-in built like those of build/mex (the benchmarks' plain ones).
function(toolbox_add_octave_plugin name source)
  add_library(${name}_octave MODULE ${source} ${TOOLBOX_INTERLEAVED_MARK} $<TARGET_OBJECTS:toolbox_common_octave>)
  target_include_directories(${name}_octave PRIVATE ${TOOLBOX_INCLUDE_DIRS} ${OCTAVE_INCLUDE_DIR})
  target_compile_definitions(${name}_octave PRIVATE ${TOOLBOX_INTERLEAVED_DEFINITIONS})
  set_target_properties(${name}_octave PROPERTIES PREFIX "" SUFFIX ".mex" OUTPUT_NAME ${name}
                                                  LIBRARY_OUTPUT_DIRECTORY ${TOOLBOX_MEX_DIR})
  target_link_options(${name}_octave PRIVATE -Wl,-Bsymbolic)
  target_link_libraries(${name}_octave PRIVATE Threads::Threads)
  if(name IN_LIST TOOLBOX_FFT_PLUGINS)
    toolbox_link_fft(${name}_octave)
  endif()
endfunction()

# Just the plug-ins, for a build that only runs them: cmake --build build --target octave_plugins
add_custom_target(octave_plugins DEPENDS ${TOOLBOX_PLUGIN_TARGETS_octave})

# The help text beside each plug-in, so that help NAME works where it is
# called from; in one folder the host runs NAME.mex and shows NAME.m's help.
foreach(folder ${TOOLBOX_MEX_DIR} ${TOOLBOX_MEX_R2017B_DIR})
  foreach(name IN LISTS TOOLBOX_BUILT_PLUGINS)
    if(EXISTS ${CMAKE_SOURCE_DIR}/${name}/${name}.m)
      configure_file(${CMAKE_SOURCE_DIR}/${name}/${name}.m ${folder}/${name}.m COPYONLY)
    endif()
  endforeach()
endforeach()
# The otk_ layer's functions and its private helpers, beside the plug-ins.
file(GLOB_RECURSE layer_files CONFIGURE_DEPENDS RELATIVE ${CMAKE_SOURCE_DIR}/otk
     ${CMAKE_SOURCE_DIR}/otk/*.m ${CMAKE_SOURCE_DIR}/otk/NEWS)
foreach(folder ${TOOLBOX_MEX_DIR} ${TOOLBOX_MEX_R2017B_DIR})
  foreach(file IN LISTS layer_files)
    configure_file(${CMAKE_SOURCE_DIR}/otk/${file} ${folder}/${file} COPYONLY)
  endforeach()
endforeach()
