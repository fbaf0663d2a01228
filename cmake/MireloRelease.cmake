# What every binary that ships gets, in this build or in any inner build of its own: the same
# bytes from every build of one commit, and one version.
#
# Same bytes, wherever the tree lies and whenever it is built: no link time stamp in the PE
# headers, no build path in the code (file names that reach the binaries, through __FILE__ in
# library headers for instance, are relative), and a DLL's preferred base from its name
# (mirelo_fixed_image_base).
#
# One version: the project version of the top-level CMakeLists.txt, with the commit added by
# write_version.cmake at build time (see there). Call
#   mirelo_add_version_resource(<target> "<file description>")
# for each DLL or EXE that ships (for a DLL it also fixes the base address); code that prints
# the version links mirelo_version_info and includes "mirelo_version.h".
#
# Include it once, from the top of a Mirelo build or of a project of its own.
include_guard(GLOBAL)
set(MIRELO_VERSION_MODULE_DIR ${CMAKE_CURRENT_LIST_DIR})

# The later map wins, so the build tree, which may lie inside the sources, goes last. The
# repository's root and this project's own folder are the same unless a project of its own
# (in a subfolder) includes this file.
get_filename_component(MIRELO_ROOT_DIR ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
add_compile_options(-ffile-prefix-map=${MIRELO_ROOT_DIR}/= -ffile-prefix-map=${CMAKE_SOURCE_DIR}/=
  -ffile-prefix-map=${CMAKE_BINARY_DIR}/=build/)
add_link_options(-Wl,--no-insert-timestamp)

# A build of the top-level project has it from project(); a project of its own reads it there.
if(DEFINED Mirelo_VERSION)
  set(MIRELO_PROJECT_VERSION ${Mirelo_VERSION})
else()
  file(STRINGS ${MIRELO_ROOT_DIR}/CMakeLists.txt line
    REGEX "^project\\(Mirelo VERSION [0-9.]+")
  string(REGEX REPLACE ".*VERSION ([0-9.]+).*" "\\1" MIRELO_PROJECT_VERSION "${line}")
endif()

set(MIRELO_VERSION_DIR ${CMAKE_BINARY_DIR}/generated)
set(MIRELO_VERSION_HEADER ${MIRELO_VERSION_DIR}/mirelo_version.h)
# Runs at every build (git may have moved); the files change only when their text does.
add_custom_target(mirelo_version
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${MIRELO_ROOT_DIR}
    -DOUT_DIR=${MIRELO_VERSION_DIR} -DVERSION=${MIRELO_PROJECT_VERSION}
    -P ${MIRELO_VERSION_MODULE_DIR}/write_version.cmake
  BYPRODUCTS ${MIRELO_VERSION_HEADER} ${MIRELO_VERSION_DIR}/mirelo_version.txt
  COMMENT "Mirelo version"
  VERBATIM)
add_library(mirelo_version_info INTERFACE)
target_include_directories(mirelo_version_info INTERFACE ${MIRELO_VERSION_DIR})
add_dependencies(mirelo_version_info mirelo_version)

# ld's automatic base address for a DLL is a hash of the output file's path, so two build folders
# would give two bases, and the code's absolute addresses with them. The same kind of base
# (away from 0x10000000, where other DLLs, an engine's for instance, like to sit) from the
# file name alone.
function(mirelo_fixed_image_base target)
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  string(SHA1 hash "${name}.dll")
  string(SUBSTRING ${hash} 0 3 bits)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(start 0x400000000)
  else()
    set(start 0x61300000)
  endif()
  math(EXPR base "${start} + ((0x${bits} & 0x3FF) << 18)" OUTPUT_FORMAT HEXADECIMAL)
  target_link_options(${target} PRIVATE -Wl,--image-base=${base})
endfunction()

# Explorer's Details tab: product name and version, this file's description and name. The
# fields and their language block are those of Mirelo.dll's own (plugin/resources/Mirelo.rc).
function(mirelo_add_version_resource target description)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY" OR type STREQUAL "MODULE_LIBRARY")
    set(MIRELO_VR_FILETYPE VFT_DLL)
    mirelo_fixed_image_base(${target})
  elseif(type STREQUAL "EXECUTABLE")
    set(MIRELO_VR_FILETYPE VFT_APP)
  else()
    message(FATAL_ERROR "mirelo_add_version_resource: ${target} is neither a DLL nor an EXE")
  endif()
  # The name the file really gets, whatever its prefix, output name and suffix.
  set(MIRELO_VR_INTERNAL_NAME "$<TARGET_FILE_BASE_NAME:${target}>")
  set(MIRELO_VR_FILENAME "$<TARGET_FILE_NAME:${target}>")
  set(MIRELO_VR_DESCRIPTION ${description})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${MIRELO_VERSION_MODULE_DIR}/version_resource.rc.in ${rc}.in @ONLY)
  file(GENERATE OUTPUT ${rc} INPUT ${rc}.in)
  target_sources(${target} PRIVATE ${rc})
  target_link_libraries(${target} PRIVATE mirelo_version_info)
  # windres's includes are not tracked: say which file the script reads.
  set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS ${MIRELO_VERSION_HEADER})
endfunction()
