# Registers tests/octave/test_*.m as ctest tests run by octave-cli against the
# plug-ins in MEX_DIR: every script for a plug-in that is built, and every
# script that names no plug-in.
#   toolbox_add_octave_tests(PREFIX <name prefix> MEX_DIR <dir> [FIXTURE <fixture>])
function(toolbox_add_octave_tests)
  cmake_parse_arguments(arg "" "PREFIX;MEX_DIR;FIXTURE" "" ${ARGN})
  find_program(OCTAVE_CLI NAMES octave-cli)
  if(NOT OCTAVE_CLI)
    return()
  endif()
  set(scripts ${CMAKE_SOURCE_DIR}/tests/octave)
  file(GLOB files CONFIGURE_DEPENDS ${scripts}/test_*.m)
  foreach(file IN LISTS files)
    get_filename_component(stem ${file} NAME_WE)
    set(wanted TRUE)
    foreach(name IN LISTS TOOLBOX_PLUGINS)
      if(stem MATCHES "^test_${name}" AND NOT name IN_LIST TOOLBOX_BUILT_PLUGINS)
        set(wanted FALSE)
      endif()
    endforeach()
    if(wanted)
      add_test(NAME ${arg_PREFIX}${stem}
               COMMAND ${OCTAVE_CLI} --norc --quiet --no-history --path ${arg_MEX_DIR} --path ${scripts} ${file})
      set_tests_properties(${arg_PREFIX}${stem} PROPERTIES
        ENVIRONMENT "TOOLBOX_SOURCE_DIR=${CMAKE_SOURCE_DIR};TOOLBOX_MEX_DIR=${arg_MEX_DIR}"
        TIMEOUT 300)
      if(arg_FIXTURE)
        set_tests_properties(${arg_PREFIX}${stem} PROPERTIES FIXTURES_REQUIRED ${arg_FIXTURE})
      endif()
    endif()
  endforeach()
endfunction()
