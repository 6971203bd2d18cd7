# The Octave package archive, build*/orientkit-<version>.tar.gz (target
# octave_package, part of the default build: it only copies and packs), and
# the tests of the two routes that do not go through CMake: pkg install of
# that archive, and the user build script build_plugins.m.
set(TOOLBOX_PACKAGE_NAME orientkit)
# One version, the one otk_version returns.
if(NOT DEFINED TOOLBOX_VERSION)
  file(STRINGS ${CMAKE_SOURCE_DIR}/otk/otk_version.m version_line REGEX "^  v = '[0-9.]+';")
  string(REGEX MATCH "'([0-9.]+)'" version_line "${version_line}")
  set(TOOLBOX_VERSION ${CMAKE_MATCH_1})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/otk/otk_version.m)
endif()
set(TOOLBOX_PACKAGE_ARCHIVE ${CMAKE_BINARY_DIR}/${TOOLBOX_PACKAGE_NAME}-${TOOLBOX_VERSION}.tar.gz)

# Every file that goes into the archive, so that a change to any of them
# (or a new one: CONFIGURE_DEPENDS) rebuilds it.
set(package_inputs ${CMAKE_SOURCE_DIR}/COPYING)
foreach(name IN LISTS TOOLBOX_BUILT_PLUGINS)
  file(GLOB plugin_files CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${name}/${name}.cpp
                                           ${CMAKE_SOURCE_DIR}/${name}/${name}.m)
  list(APPEND package_inputs ${plugin_files})
endforeach()
file(GLOB other_files CONFIGURE_DEPENDS
     ${CMAKE_SOURCE_DIR}/common/*.h ${CMAKE_SOURCE_DIR}/common/*.cpp
     ${CMAKE_SOURCE_DIR}/args/*.h ${CMAKE_SOURCE_DIR}/args/*.cpp
     ${CMAKE_SOURCE_DIR}/demo/*.m ${CMAKE_SOURCE_DIR}/data/*
     ${CMAKE_SOURCE_DIR}/package/*)
file(GLOB_RECURSE layer_files CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/otk/*)
list(APPEND other_files ${layer_files})
list(APPEND package_inputs ${other_files})

string(JOIN "," package_plugins ${TOOLBOX_BUILT_PLUGINS})
string(JOIN " " package_flags -std=c++17 -O2 ${TOOLBOX_KERNEL_FLAGS})
add_custom_command(
  OUTPUT ${TOOLBOX_PACKAGE_ARCHIVE}
  COMMAND ${CMAKE_COMMAND}
          -DSOURCE_DIR=${CMAKE_SOURCE_DIR}
          -DSTAGING_DIR=${CMAKE_BINARY_DIR}/package-staging
          -DARCHIVE=${TOOLBOX_PACKAGE_ARCHIVE}
          -DPACKAGE_NAME=${TOOLBOX_PACKAGE_NAME}
          -DPACKAGE_VERSION=${TOOLBOX_VERSION}
          "-DPACKAGE_CXXFLAGS=${package_flags}"
          -DPLUGINS=${package_plugins}
          -P ${CMAKE_SOURCE_DIR}/package/assemble.cmake
  DEPENDS ${package_inputs}
  COMMENT "Octave package ${TOOLBOX_PACKAGE_NAME}-${TOOLBOX_VERSION}.tar.gz"
  VERBATIM)
add_custom_target(octave_package ALL DEPENDS ${TOOLBOX_PACKAGE_ARCHIVE})

if(NOT TOOLBOX_TESTS)
  return()
endif()
find_program(OCTAVE_CLI NAMES octave-cli)
if(NOT OCTAVE_CLI)
  return()
endif()

set(octave_run ${OCTAVE_CLI} --norc --quiet --no-history)
set(package_tests ${CMAKE_SOURCE_DIR}/tests/package)
set(octave_tests ${CMAKE_SOURCE_DIR}/tests/octave)
string(JOIN "," built_list ${TOOLBOX_BUILT_PLUGINS})
file(GLOB layer_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/otk/*.cpp ${CMAKE_SOURCE_DIR}/otk/*.m)
set(layer_names "")
foreach(file IN LISTS layer_sources)
  get_filename_component(stem ${file} NAME_WE)
  if(NOT stem STREQUAL "Contents")
    list(APPEND layer_names ${stem})
  endif()
endforeach()
list(REMOVE_DUPLICATES layer_names)
string(JOIN "," layer_list ${layer_names})

# pkg install into a temporary prefix, pkg load, and every function called.
# This and the build script test each compile the six plug-ins and the
# layer's two helpers: 27 s on idle cores, 105 s with the cores shared four
# ways. Both get the same 600 s: the build script test took 28 s with the
# cores already shared (load average 4 to 5), 38 s beside two niced busy
# loops, 64 s beside two busy loops at full priority, and ran past 180 s in
# a full ctest -j2 beside this one on a loaded machine.
add_test(NAME package_install
         COMMAND ${octave_run} --path ${octave_tests} ${package_tests}/check_package_install.m)
set_tests_properties(package_install PROPERTIES
  ENVIRONMENT "TOOLBOX_SOURCE_DIR=${CMAKE_SOURCE_DIR};TOOLBOX_PACKAGE_ARCHIVE=${TOOLBOX_PACKAGE_ARCHIVE};TOOLBOX_PLUGINS=${built_list};TOOLBOX_LAYER=${layer_list};TOOLBOX_VERSION=${TOOLBOX_VERSION}"
  TIMEOUT 600)

# build_plugins into a fresh folder, then a smoke test against the plug-ins
# it built (and not against build/mex): the same sources pass the full set
# against build/mex; this route only has to build them all, with help, so
# that each runs its example.
set(script_mex_dir ${CMAKE_BINARY_DIR}/build-script-mex)
add_test(NAME package_build_script
         COMMAND ${octave_run} --path ${octave_tests} ${package_tests}/check_build_script.m)
set_tests_properties(package_build_script PROPERTIES
  ENVIRONMENT "TOOLBOX_SOURCE_DIR=${CMAKE_SOURCE_DIR};TOOLBOX_MEX_DIR=${script_mex_dir};TOOLBOX_PLUGINS=${built_list}"
  FIXTURES_SETUP build_script_plugins
  TIMEOUT 600)

toolbox_add_octave_tests(PREFIX package_build_script_ MEX_DIR ${script_mex_dir} FIXTURE build_script_plugins
                         SCRIPTS test_help)
