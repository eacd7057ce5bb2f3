# Writes the source file that tells the programs their version and the source revision they
# were built from. The build runs it every time (a CMake script, so it runs wherever CMake
# does, Windows included), so the revision follows new commits without configuring again:
#
#   cmake -DSOURCE_DIR=<src> -DTEMPLATE=<build_info.cpp.in> -DOUTPUT=<build_info.cpp>
#         -DVERSION=<x.y.z> [-DREVISION=<text>] [-DGIT=<git>] -P SourceRevision.cmake
#
# REVISION, when not empty, is taken as it is (a build from a source archive can name the
# revision it was cut from). Otherwise git is asked, but only when SOURCE_DIR is the top of a
# git work tree: an archive unpacked inside some other repository (a home folder kept in git)
# must not show that repository's commit. No git, or no commit: no revision.
# OUTPUT is rewritten only when its text changes, so an unchanged revision rebuilds nothing.
cmake_minimum_required(VERSION 3.16)

foreach(korvane_var IN ITEMS SOURCE_DIR TEMPLATE OUTPUT VERSION)
  if(NOT DEFINED ${korvane_var} OR "${${korvane_var}}" STREQUAL "")
    message(FATAL_ERROR "SourceRevision.cmake: ${korvane_var} is not set")
  endif()
endforeach()

set(KORVANE_VERSION "${VERSION}")
set(KORVANE_REVISION "${REVISION}")
if(KORVANE_REVISION STREQUAL "" AND NOT "${GIT}" STREQUAL "")
  execute_process(COMMAND "${GIT}" rev-parse --show-toplevel
    WORKING_DIRECTORY "${SOURCE_DIR}"
    RESULT_VARIABLE korvane_rc OUTPUT_VARIABLE korvane_top ERROR_QUIET
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(korvane_rc EQUAL 0)
    get_filename_component(korvane_top "${korvane_top}" REALPATH)
    get_filename_component(korvane_src "${SOURCE_DIR}" REALPATH)
    if(korvane_top STREQUAL korvane_src)
      # The commit, shortened, and "-dirty" when tracked files differ from it. Tags are left
      # out so the text is always the commit itself.
      execute_process(COMMAND "${GIT}" describe --always --dirty --abbrev=12 --exclude=*
        WORKING_DIRECTORY "${SOURCE_DIR}"
        RESULT_VARIABLE korvane_rc OUTPUT_VARIABLE korvane_describe ERROR_QUIET
        OUTPUT_STRIP_TRAILING_WHITESPACE)
      if(korvane_rc EQUAL 0)
        set(KORVANE_REVISION "${korvane_describe}")
      endif()
    endif()
  endif()
endif()
# The texts go into C++ string literals.
foreach(korvane_var IN ITEMS KORVANE_VERSION KORVANE_REVISION)
  string(REPLACE "\\" "\\\\" ${korvane_var} "${${korvane_var}}")
  string(REPLACE "\"" "\\\"" ${korvane_var} "${${korvane_var}}")
  string(REGEX REPLACE "[\r\n]" " " ${korvane_var} "${${korvane_var}}")
endforeach()
configure_file("${TEMPLATE}" "${OUTPUT}" @ONLY)
