# MATLAB plug-ins, NAME.<mexext> in build/matlab, when CMake finds a MATLAB
# installation (set Matlab_ROOT_DIR to choose one); nothing happens without
# one. Built with the R2018a (interleaved complex) array API, which MATLAB
# recommends; the Octave tests run the same sources built for both APIs.
option(TOOLBOX_MATLAB "Build MATLAB plug-ins into build/matlab when MATLAB is found" ON)
if(NOT TOOLBOX_MATLAB)
  return()
endif()
find_package(Matlab QUIET COMPONENTS MX_LIBRARY)
if(NOT Matlab_FOUND)
  return()
endif()
message(STATUS "MATLAB found in ${Matlab_ROOT_DIR}: MATLAB plug-ins go to ${CMAKE_BINARY_DIR}/matlab")

# libmx for the arrays and libmex for the error reports, and nothing else
# (the default would add MATLAB's C++ engine libraries).
set(matlab_libraries "")
if(CMAKE_VERSION VERSION_GREATER_EQUAL 3.24)
  set(matlab_libraries NO_IMPLICIT_LINK_TO_MATLAB_LIBRARIES LINK_TO ${Matlab_MX_LIBRARY} ${Matlab_MEX_LIBRARY})
endif()

# The otk_ functions ask MATLAB whether Ctrl-C is pending (utIsInterruptPending,
# args/interrupt.cpp), which MATLAB's libut holds, beside libmx; every plug-in
# links the argument module, so every one links libut.
get_filename_component(matlab_library_dir ${Matlab_MX_LIBRARY} DIRECTORY)
find_library(Matlab_UT_LIBRARY NAMES ut libut HINTS ${matlab_library_dir} NO_DEFAULT_PATH)
if(NOT Matlab_UT_LIBRARY)
  message(FATAL_ERROR "MATLAB's libut not found beside ${Matlab_MX_LIBRARY}; set TOOLBOX_MATLAB=OFF to build without MATLAB")
endif()

set(matlab_sources "")
foreach(name IN LISTS TOOLBOX_BUILT_PLUGINS)
  list(APPEND matlab_sources ${name}/${name}.cpp)
endforeach()
foreach(name IN LISTS TOOLBOX_LAYER_PLUGINS)
  list(APPEND matlab_sources otk/${name}.cpp)
endforeach()
foreach(source IN LISTS matlab_sources)
  get_filename_component(folder ${source} DIRECTORY)
  get_filename_component(name ${source} NAME_WE)
  matlab_add_mex(NAME ${name}_matlab MODULE R2018a OUTPUT_NAME ${name}
                 SRC ${source} ${TOOLBOX_COMMON_SOURCES}
                 ${matlab_libraries})
  target_include_directories(${name}_matlab PRIVATE ${TOOLBOX_INCLUDE_DIRS})
  set_target_properties(${name}_matlab PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/matlab)
  target_link_libraries(${name}_matlab Threads::Threads ${Matlab_UT_LIBRARY})
  if(name IN_LIST TOOLBOX_FFT_PLUGINS)
    # MATLAB's own FFTW, which MATLAB has loaded for its fft: a second copy
    # beside it is never loaded. It ships versioned and without a header
    # (common/fft.h declares the calls then).
    find_library(MATLAB_FFTW_LIBRARY NAMES mwfftw3 libmwfftw3.so.3 libmwfftw3.3.dylib
                 PATHS ${Matlab_ROOT_DIR}/bin/glnxa64 ${Matlab_ROOT_DIR}/bin/maci64 ${Matlab_ROOT_DIR}/bin/maca64
                 NO_DEFAULT_PATH)
    if(NOT MATLAB_FFTW_LIBRARY)
      message(FATAL_ERROR "MATLAB's FFTW (libmwfftw3) not found under ${Matlab_ROOT_DIR}/bin")
    endif()
    target_sources(${name}_matlab PRIVATE ${TOOLBOX_FFT_SOURCES})
    target_link_libraries(${name}_matlab ${MATLAB_FFTW_LIBRARY} ${CMAKE_DL_LIBS})
  endif()
  if(EXISTS ${CMAKE_SOURCE_DIR}/${folder}/${name}.m)
    # help NAME reads the .m file beside the plug-in.
    add_custom_command(TARGET ${name}_matlab POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_SOURCE_DIR}/${folder}/${name}.m ${CMAKE_BINARY_DIR}/matlab/
      VERBATIM)
  endif()
endforeach()
