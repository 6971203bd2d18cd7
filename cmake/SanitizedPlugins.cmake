# The Octave plug-ins once more, built with the address and undefined-
# behaviour sanitizers into build/mex-asan, and every Octave test run against
# them inside octave-cli with the sanitizer runtime preloaded (the host itself
# is not instrumented, so the runtime must come first). Any report fails the
# test: -fno-sanitize-recover=all stops at the first, and the output is
# searched as well in case a report comes from a child process a test
# tolerates. GCC's "undefined" leaves float-to-int overflow out, hence
# float-cast-overflow. Octave's own SIGSEGV handler would swallow the report
# of a wild access, so the sanitizer keeps that signal; leak checking is off
# because the host itself does not free everything at exit.
option(TOOLBOX_SANITIZED_PLUGINS "Run the Octave tests against sanitized plug-ins too (build/mex-asan)" ON)
if(NOT TOOLBOX_SANITIZED_PLUGINS OR NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  return()
endif()
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
                OUTPUT_VARIABLE TOOLBOX_ASAN_RUNTIME OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT IS_ABSOLUTE "${TOOLBOX_ASAN_RUNTIME}" OR NOT EXISTS "${TOOLBOX_ASAN_RUNTIME}")
  message(STATUS "No libasan.so beside ${CMAKE_CXX_COMPILER}: no sanitized plug-in tests")
  return()
endif()

set(TOOLBOX_PLUGIN_SANITIZE -fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all
                            -fno-omit-frame-pointer -g)
set(TOOLBOX_ASAN_MEX_DIR ${CMAKE_BINARY_DIR}/mex-asan)
set(TOOLBOX_ASAN_ENVIRONMENT
    "LD_PRELOAD=${TOOLBOX_ASAN_RUNTIME}"
    "ASAN_OPTIONS=detect_leaks=0:allow_user_segv_handler=0"
    "UBSAN_OPTIONS=print_stacktrace=1")
set(TOOLBOX_SANITIZER_REPORT "ERROR: AddressSanitizer|runtime error:|SUMMARY: UndefinedBehaviorSanitizer")

find_package(Threads REQUIRED)
add_library(toolbox_common_asan OBJECT ${TOOLBOX_COMMON_SOURCES})
set_target_properties(toolbox_common_asan PROPERTIES POSITION_INDEPENDENT_CODE ON)
target_include_directories(toolbox_common_asan PUBLIC ${TOOLBOX_INCLUDE_DIRS} ${OCTAVE_INCLUDE_DIR})
target_compile_options(toolbox_common_asan PUBLIC ${TOOLBOX_PLUGIN_SANITIZE})
# The same array API as build/mex.
target_compile_definitions(toolbox_common_asan PUBLIC ${TOOLBOX_INTERLEAVED_DEFINITIONS})

# The six kernels and the compiled helpers of the otk_ layer, and beside them
# every .m file the tests call: the kernels' help and the layer's functions.
set(sanitized_sources "")
foreach(name IN LISTS TOOLBOX_BUILT_PLUGINS)
  list(APPEND sanitized_sources ${name}/${name}.cpp)
endforeach()
foreach(name IN LISTS TOOLBOX_LAYER_PLUGINS)
  list(APPEND sanitized_sources otk/${name}.cpp)
endforeach()
foreach(source IN LISTS sanitized_sources)
  get_filename_component(name ${source} NAME_WE)
  add_library(${name}_octave_asan MODULE ${CMAKE_SOURCE_DIR}/${source} ${TOOLBOX_INTERLEAVED_MARK})
  target_link_libraries(${name}_octave_asan PRIVATE toolbox_common_asan Threads::Threads)
  if(name IN_LIST TOOLBOX_FFT_PLUGINS)
    toolbox_link_fft(${name}_octave_asan)
  endif()
  target_link_options(${name}_octave_asan PRIVATE -Wl,-Bsymbolic ${TOOLBOX_PLUGIN_SANITIZE})
  set_target_properties(${name}_octave_asan PROPERTIES PREFIX "" SUFFIX ".mex" OUTPUT_NAME ${name}
                                                       LIBRARY_OUTPUT_DIRECTORY ${TOOLBOX_ASAN_MEX_DIR})
endforeach()
file(GLOB_RECURSE sanitized_scripts CONFIGURE_DEPENDS RELATIVE ${CMAKE_SOURCE_DIR}
     ${CMAKE_SOURCE_DIR}/otk/*.m ${CMAKE_SOURCE_DIR}/otk/NEWS)
foreach(name IN LISTS TOOLBOX_BUILT_PLUGINS)
  list(APPEND sanitized_scripts ${name}/${name}.m)
endforeach()
foreach(script IN LISTS sanitized_scripts)
  get_filename_component(placed ${script} NAME)
  if(script MATCHES "^otk/")
    string(SUBSTRING ${script} 4 -1 placed)  # otk/private/x.m -> private/x.m
  endif()
  if(EXISTS ${CMAKE_SOURCE_DIR}/${script})
    configure_file(${CMAKE_SOURCE_DIR}/${script} ${TOOLBOX_ASAN_MEX_DIR}/${placed} COPYONLY)
  endif()
endforeach()
toolbox_add_alloc_probe(TARGET alloc_probe_asan OUTPUT_DIR ${CMAKE_BINARY_DIR}/test-mex-asan
                        OPTIONS ${TOOLBOX_PLUGIN_SANITIZE})

# Not test_otk_parallel nor test_otk_cluster: the host's parallel package
# (octave-parallel 4.0.1) reads freed memory in its own exit handler, which
# the preloaded runtime reports; none of our code runs there, and the plain
# run covers both tests.
# Nor test_otk_memory: the sanitizer's allocator keeps no count of the bytes
# handed out that the test could read; tests/leak/leak_check.py stands in.
toolbox_add_octave_tests(PREFIX asan_ MEX_DIR ${TOOLBOX_ASAN_MEX_DIR} PROBE_DIR ${CMAKE_BINARY_DIR}/test-mex-asan
                         EXCLUDE test_otk_parallel test_otk_cluster test_otk_memory ENVIRONMENT ${TOOLBOX_ASAN_ENVIRONMENT} TIMEOUT 120
                         FAIL_REGULAR_EXPRESSION "${TOOLBOX_SANITIZER_REPORT}")
# About 180 cases in child octave-cli processes that load the sanitizer
# runtime: 20 s on idle cores, 110 s with the cores shared four ways.
if(TEST asan_test_aliasing)
  set_tests_properties(asan_test_aliasing PROPERTIES TIMEOUT 180)
endif()
toolbox_add_fuzz_test(NAME fuzz_asan MEX_DIR ${TOOLBOX_ASAN_MEX_DIR} ASAN_RUNTIME ${TOOLBOX_ASAN_RUNTIME})

# Every entry point and error path (tests/octave/memory_calls.m) called a
# few times each under the leak checker; a block lost counts when it was
# taken during a call of a plug-in (the host's start-up and exit leave
# blocks of their own). Every allocation is unwound in full for that: 10-20 s
# on 2 shared cores.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  add_test(NAME leak_check
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/leak/leak_check.py --mex-dir ${TOOLBOX_ASAN_MEX_DIR}
                   --asan-runtime ${TOOLBOX_ASAN_RUNTIME} --calls 5)
  set_tests_properties(leak_check PROPERTIES TIMEOUT 300 LABELS slow)
endif()
set(TOOLBOX_FUZZ_REGISTERED TRUE)
