# Writes mirelo_version.h and mirelo_version.txt into OUT_DIR, only when their text changes,
# so that a build of an unchanged commit recompiles nothing.
#   cmake -DSOURCE_DIR=... -DOUT_DIR=... -DVERSION=1.2.0 -P write_version.cmake
# The version is VERSION on a commit tagged vVERSION (or VERSION); any other commit adds
# "+<short commit id>", and tracked files with changes add ".dirty", as in 1.2.0+abc1234.dirty.
# Without git or outside a repository it is VERSION alone.
cmake_minimum_required(VERSION 3.25)
if(NOT VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
  message(FATAL_ERROR "version '${VERSION}' is not MAJOR.MINOR.PATCH")
endif()
set(major ${CMAKE_MATCH_1})
set(minor ${CMAKE_MATCH_2})
set(patch ${CMAKE_MATCH_3})

set(commit "")
set(metadata "")
find_program(GIT git)
if(GIT)
  execute_process(COMMAND ${GIT} -C ${SOURCE_DIR} rev-parse --short=7 HEAD
    OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    set(commit "")
  endif()
endif()
if(commit)
  execute_process(COMMAND ${GIT} -C ${SOURCE_DIR} tag --points-at HEAD
    OUTPUT_VARIABLE tags OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  string(REPLACE "\n" ";" tags "${tags}")
  if(NOT "v${VERSION}" IN_LIST tags AND NOT "${VERSION}" IN_LIST tags)
    list(APPEND metadata ${commit})
  endif()
  # No optional locks: a build must never hold the index while someone commits.
  execute_process(COMMAND ${GIT} --no-optional-locks -C ${SOURCE_DIR} status --porcelain
      --untracked-files=no
    OUTPUT_VARIABLE changes OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(changes)
    list(APPEND metadata dirty)
  endif()
endif()
set(full ${VERSION})
if(metadata)
  list(JOIN metadata "." metadata)
  set(full "${VERSION}+${metadata}")
endif()

set(header "// Written at build time by cmake/write_version.cmake from the project version and git.
#pragma once
#define MIRELO_PRODUCT_NAME \"Mirelo\"
#define MIRELO_VERSION_MAJOR ${major}
#define MIRELO_VERSION_MINOR ${minor}
#define MIRELO_VERSION_PATCH ${patch}
// FILEVERSION and PRODUCTVERSION of the version resources, and their string form.
#define MIRELO_VERSION_NUMBERS ${major}, ${minor}, ${patch}, 0
#define MIRELO_VERSION_NUMBERS_STRING \"${major}.${minor}.${patch}.0\"
// What every program and binary reports: the release's own name.
#define MIRELO_VERSION \"${full}\"
// The short commit id it was built from; empty outside a git repository.
#define MIRELO_COMMIT \"${commit}\"
")
function(write_if_changed path text)
  set(old "")
  if(EXISTS ${path})
    file(READ ${path} old)
  endif()
  if(NOT old STREQUAL text)
    file(WRITE ${path} "${text}")
  endif()
endfunction()
write_if_changed(${OUT_DIR}/mirelo_version.h "${header}")
write_if_changed(${OUT_DIR}/mirelo_version.txt "${full}\n")
