# Registers tests/octave/test_*.m as ctest tests run by octave-cli against the
# plug-ins in MEX_DIR: every script for a plug-in that is built, and every
# script that names no plug-in.
#   toolbox_add_octave_tests(PREFIX <name prefix> MEX_DIR <dir> [FIXTURE <fixture>]
#                            [PROBE_DIR <dir>] [SCRIPTS <stem>...] [EXCLUDE <stem>...]
#                            [ENVIRONMENT <var=value>...] [TIMEOUT <seconds>]
#                            [FAIL_REGULAR_EXPRESSION <regex>])
# SCRIPTS limits the set to the given stems (e.g. test_help), EXCLUDE leaves
# stems out; PROBE_DIR is where the test-only plug-ins of that build are
# (TOOLBOX_PROBE_DIR).
#
# Measured on 2 cores: plain scripts take 0.3 to 3 s (the demo) and the
# aliasing cases, in child processes, 5 s; against the sanitized plug-ins up
# to 25 s (the random Wendlow calls). With the cores shared four ways these
# grow to 20 s and 70 s. 60 s, and 120 s sanitized, stop a hung plug-in long
# before a whole run would stall.
set(TOOLBOX_OCTAVE_TEST_TIMEOUT 60)

function(toolbox_add_octave_tests)
  cmake_parse_arguments(arg "" "PREFIX;MEX_DIR;FIXTURE;PROBE_DIR;TIMEOUT;FAIL_REGULAR_EXPRESSION"
                        "SCRIPTS;EXCLUDE;ENVIRONMENT" ${ARGN})
  find_program(OCTAVE_CLI NAMES octave-cli)
  if(NOT OCTAVE_CLI)
    return()
  endif()
  if(NOT arg_TIMEOUT)
    set(arg_TIMEOUT ${TOOLBOX_OCTAVE_TEST_TIMEOUT})
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
    if((arg_SCRIPTS AND NOT stem IN_LIST arg_SCRIPTS) OR stem IN_LIST arg_EXCLUDE)
      set(wanted FALSE)
    endif()
    # The allocation and memory tests need the test-only plug-in of their build.
    if(stem MATCHES "^test_(alloc|otk_memory)$" AND NOT arg_PROBE_DIR)
      set(wanted FALSE)
    endif()
    if(wanted)
      add_test(NAME ${arg_PREFIX}${stem}
               COMMAND ${OCTAVE_CLI} --norc --quiet --no-history --path ${arg_MEX_DIR} --path ${scripts} ${file})
      set_tests_properties(${arg_PREFIX}${stem} PROPERTIES
        ENVIRONMENT "TOOLBOX_SOURCE_DIR=${CMAKE_SOURCE_DIR};TOOLBOX_MEX_DIR=${arg_MEX_DIR};TOOLBOX_PROBE_DIR=${arg_PROBE_DIR};${arg_ENVIRONMENT}"
        TIMEOUT ${arg_TIMEOUT})
      if(arg_FIXTURE)
        set_tests_properties(${arg_PREFIX}${stem} PROPERTIES FIXTURES_REQUIRED ${arg_FIXTURE})
      endif()
      if(arg_FAIL_REGULAR_EXPRESSION)
        set_tests_properties(${arg_PREFIX}${stem} PROPERTIES FAIL_REGULAR_EXPRESSION "${arg_FAIL_REGULAR_EXPRESSION}")
      endif()
    endif()
  endforeach()
endfunction()

# The test-only plug-in over the allocation helpers (tests/octave/alloc_probe.cpp),
# built like the real ones into OUTPUT_DIR, with extra OPTIONS (compile and link).
#   toolbox_add_alloc_probe(TARGET <target> OUTPUT_DIR <dir> [OPTIONS <flag>...])
function(toolbox_add_alloc_probe)
  cmake_parse_arguments(arg "" "TARGET;OUTPUT_DIR" "OPTIONS" ${ARGN})
  add_library(${arg_TARGET} MODULE ${CMAKE_SOURCE_DIR}/tests/octave/alloc_probe.cpp
                                   ${CMAKE_SOURCE_DIR}/args/host_memory.cpp)
  target_include_directories(${arg_TARGET} PRIVATE ${TOOLBOX_INCLUDE_DIRS} ${OCTAVE_INCLUDE_DIR})
  target_compile_options(${arg_TARGET} PRIVATE ${arg_OPTIONS})
  target_link_options(${arg_TARGET} PRIVATE -Wl,-Bsymbolic ${arg_OPTIONS})
  set_target_properties(${arg_TARGET} PROPERTIES
    PREFIX "" SUFFIX ".mex" OUTPUT_NAME alloc_probe LIBRARY_OUTPUT_DIRECTORY ${arg_OUTPUT_DIR})
endfunction()

# The hostile-input fuzzer (tests/fuzz/fuzz.py) over a fixed set of probes
# against the plug-ins and otk_ functions in MEX_DIR, with the sanitizer
# runtime preloaded when ASAN_RUNTIME is given: the extreme values of every
# integer-valued argument (637 probes), the wrong calls of the compiled otk_
# functions that must fail (106), then 300 random ones. Measured on the 2
# shared cores under load (load average 4 to 6): 20-30 s sanitized, 9 s of
# it CPU, before the wrong calls; with them and a build beside it, 97 s. A
# few seconds more for each probe that crashes. tools/fuzz.sh runs more
# random ones.
#   toolbox_add_fuzz_test(NAME <test> MEX_DIR <dir> [ASAN_RUNTIME <lib>])
function(toolbox_add_fuzz_test)
  cmake_parse_arguments(arg "" "NAME;MEX_DIR;ASAN_RUNTIME" "" ${ARGN})
  find_package(Python3 COMPONENTS Interpreter)
  find_program(OCTAVE_CLI NAMES octave-cli)
  if(NOT Python3_Interpreter_FOUND OR NOT OCTAVE_CLI)
    return()
  endif()
  set(runtime "")
  if(arg_ASAN_RUNTIME)
    set(runtime --asan-runtime ${arg_ASAN_RUNTIME})
  endif()
  add_test(NAME ${arg_NAME}
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/fuzz/fuzz.py --mex-dir ${arg_MEX_DIR}
                   --count 300 --seed 1 --out ${CMAKE_BINARY_DIR}/fuzz-findings ${runtime})
  set_tests_properties(${arg_NAME} PROPERTIES TIMEOUT 240)
endfunction()

# Ctrl-C during a long call of every compiled otk_ function, in an
# interactive octave-cli on a pseudo-terminal (tests/tools/interrupt_calls.py):
# the time from Ctrl-C to the prompt, then a call whose answer is checked.
# Each case makes its data (up to about 1 GB with its results) and sizes its
# call to take a second or more; measured on the 2 shared cores under a load
# average of 8: 2 to 3 minutes, most of it making the data (an idle machine
# takes a fraction of that).
#   toolbox_add_interrupt_test(NAME <test> MEX_DIR <dir>)
function(toolbox_add_interrupt_test)
  cmake_parse_arguments(arg "" "NAME;MEX_DIR" "" ${ARGN})
  find_package(Python3 COMPONENTS Interpreter)
  find_program(OCTAVE_CLI NAMES octave-cli)
  if(NOT Python3_Interpreter_FOUND OR NOT OCTAVE_CLI)
    return()
  endif()
  add_test(NAME ${arg_NAME}
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/tools/interrupt_calls.py --mex-dir ${arg_MEX_DIR})
  set_tests_properties(${arg_NAME} PROPERTIES TIMEOUT 600 RUN_SERIAL TRUE)
endfunction()
