# The full version text, "RELEASE" or "RELEASE+BUILD", in script mode:
#   cmake -DSOURCE_DIR=DIR [-DBUILD_ID=ID] -P version_text.cmake          prints it
#   cmake -DSOURCE_DIR=DIR [-DBUILD_ID=ID] -DOUTPUT=H -P version_text.cmake  writes the header H
# BUILD_ID empty: "g" and the commit when SOURCE_DIR is a git checkout, with
# ".dirty" when tracked files differ from it; nothing otherwise.
cmake_minimum_required(VERSION 3.20)
file(STRINGS ${SOURCE_DIR}/VERSION release REGEX "^[0-9]+\\.[0-9]+\\.[0-9]+$")
if(NOT release MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
  message(FATAL_ERROR "${SOURCE_DIR}/VERSION holds no release number like 3.13.0")
endif()
set(numbers "${CMAKE_MATCH_1},${CMAKE_MATCH_2},${CMAKE_MATCH_3},0")
set(major ${CMAKE_MATCH_1})

if(NOT BUILD_ID)
  find_program(git_program git)
  if(git_program)
    # Only a checkout of these sources themselves, not of a folder around them.
    execute_process(COMMAND ${git_program} -C ${SOURCE_DIR} rev-parse --show-toplevel --short=7 HEAD
                    OUTPUT_VARIABLE lines RESULT_VARIABLE failed ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    string(REPLACE "\n" ";" lines "${lines}")
    list(LENGTH lines count)
    if(NOT failed AND count EQUAL 2)
      list(GET lines 0 top)
      list(GET lines 1 commit)
      get_filename_component(top "${top}" REALPATH)
      get_filename_component(here "${SOURCE_DIR}" REALPATH)
    endif()
    if(commit AND top STREQUAL here)
      set(BUILD_ID g${commit})
      execute_process(COMMAND ${git_program} -C ${SOURCE_DIR} status --porcelain --untracked-files=no
                      OUTPUT_VARIABLE changes ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
      if(changes)
        string(APPEND BUILD_ID .dirty)
      endif()
    endif()
  endif()
endif()
if(BUILD_ID)
  set(text "${release}+${BUILD_ID}")
else()
  set(text "${release}")
endif()

if(NOT OUTPUT)
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${text}")
  return()
endif()
# Written only when it changes, so that an unchanged build recompiles nothing.
file(CONFIGURE OUTPUT ${OUTPUT} CONTENT "// Generated at build time from VERSION and the checkout (cmake/version_text.cmake).
#pragma once
#define PV_VERSION_TEXT \"@text@\"
#define PV_VERSION_RELEASE \"@release@\"
#define PV_VERSION_NUMBERS @numbers@
#define PV_VERSION_MAJOR @major@
" @ONLY)
