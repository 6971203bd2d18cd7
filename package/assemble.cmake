# Assembles the Octave package archive (cmake -P, run by the octave_package
# target). Inputs: SOURCE_DIR, STAGING_DIR, ARCHIVE, PACKAGE_NAME,
# PACKAGE_VERSION, PACKAGE_CXXFLAGS, and PLUGINS, the plug-ins to ship,
# separated by commas.
#
# Layout, as pkg install expects it:
#   NAME-VERSION/DESCRIPTION, COPYING, NEWS, INDEX, post_install.m
#   NAME-VERSION/inst/    the otk_ functions with private/, help files, the
#                         demo with its data if present, PKG_ADD, PKG_DEL
#   NAME-VERSION/inst/NAME/Contents.m   on the path from PKG_ADD, so that
#                         help NAME lists the functions
#   NAME-VERSION/src/     plug-in sources (the six and otk/*.cpp), common/,
#                         Makefile
cmake_minimum_required(VERSION 3.18)
foreach(var SOURCE_DIR STAGING_DIR ARCHIVE PACKAGE_NAME PACKAGE_VERSION PACKAGE_CXXFLAGS PLUGINS)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "assemble.cmake: ${var} is not set")
  endif()
endforeach()
string(REPLACE "," ";" plugins "${PLUGINS}")

set(top ${PACKAGE_NAME}-${PACKAGE_VERSION})
set(pkg ${STAGING_DIR}/${top})
set(templates ${SOURCE_DIR}/package)
file(REMOVE_RECURSE ${STAGING_DIR})
file(MAKE_DIRECTORY ${pkg}/inst ${pkg}/src/common ${pkg}/src/args)

# Honours SOURCE_DATE_EPOCH, for reproducible archives.
string(TIMESTAMP PACKAGE_DATE "%Y-%m-%d" UTC)
configure_file(${templates}/DESCRIPTION.in ${pkg}/DESCRIPTION @ONLY)
configure_file(${templates}/Makefile.in ${pkg}/src/Makefile @ONLY)
file(COPY ${SOURCE_DIR}/COPYING ${templates}/post_install.m DESTINATION ${pkg})

# The function layer: its compiled helpers build beside the plug-ins, and
# post_install moves their help files beside them as for the plug-ins.
file(GLOB layer_sources ${SOURCE_DIR}/otk/*.cpp)
file(GLOB layer_functions ${SOURCE_DIR}/otk/*.m)
list(FILTER layer_functions EXCLUDE REGEX "/Contents\\.m$")
set(shipped ${plugins})
foreach(file IN LISTS layer_sources layer_functions)
  get_filename_component(stem ${file} NAME_WE)
  list(APPEND shipped ${stem})
endforeach()
if(layer_sources)
  file(COPY ${layer_sources} DESTINATION ${pkg}/src)
endif()
if(layer_functions)
  file(COPY ${layer_functions} DESTINATION ${pkg}/inst)
endif()
if(EXISTS ${SOURCE_DIR}/otk/private)
  file(COPY ${SOURCE_DIR}/otk/private DESTINATION ${pkg}/inst)
endif()
if(EXISTS ${SOURCE_DIR}/otk/Contents.m)
  file(COPY ${SOURCE_DIR}/otk/Contents.m DESTINATION ${pkg}/inst/${PACKAGE_NAME})
endif()
if(EXISTS ${SOURCE_DIR}/otk/NEWS)
  file(COPY ${SOURCE_DIR}/otk/NEWS DESTINATION ${pkg})
endif()
file(COPY ${templates}/PKG_ADD ${templates}/PKG_DEL DESTINATION ${pkg}/inst)

file(GLOB demo ${SOURCE_DIR}/demo/*.m)
foreach(file IN LISTS demo)
  get_filename_component(stem ${file} NAME_WE)
  list(APPEND shipped ${stem})
endforeach()

# INDEX lists only the functions shipped; a category left empty goes too.
file(STRINGS ${templates}/INDEX.in lines)
set(index "")
set(category "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[ \t]+([A-Za-z0-9_]+)")
    if(CMAKE_MATCH_1 IN_LIST shipped)
      string(APPEND index "${category}${line}\n")
      set(category "")
    endif()
  elseif(line MATCHES ">>")
    string(APPEND index "${line}\n")
  elseif(NOT line STREQUAL "")
    set(category "${line}\n")
  endif()
endforeach()
file(WRITE ${pkg}/INDEX "${index}")

foreach(name IN LISTS plugins)
  file(COPY ${SOURCE_DIR}/${name}/${name}.cpp DESTINATION ${pkg}/src)
  if(EXISTS ${SOURCE_DIR}/${name}/${name}.m)
    file(COPY ${SOURCE_DIR}/${name}/${name}.m DESTINATION ${pkg}/inst)
  endif()
endforeach()
foreach(floor common args)
  file(GLOB floor_files ${SOURCE_DIR}/${floor}/*.h ${SOURCE_DIR}/${floor}/*.cpp)
  file(COPY ${floor_files} DESTINATION ${pkg}/src/${floor})
endforeach()

# The demo finds its data in ../data relative to its own folder, as in the
# source tree; PKG_ADD puts the demo folder on the path at pkg load.
if(demo)
  file(COPY ${demo} DESTINATION ${pkg}/inst/demo)
  file(GLOB data LIST_DIRECTORIES false ${SOURCE_DIR}/data/*)
  if(data)
    file(COPY ${data} DESTINATION ${pkg}/inst/data)
  endif()
endif()

get_filename_component(archive_dir ${ARCHIVE} DIRECTORY)
file(MAKE_DIRECTORY ${archive_dir})
file(REMOVE ${ARCHIVE})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar czf ${ARCHIVE} ${top}
                WORKING_DIRECTORY ${STAGING_DIR}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "assemble.cmake: could not write ${ARCHIVE}")
endif()
