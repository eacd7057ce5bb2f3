# FLTK and cJSON for the Windows build. They are built from their release archives by the
# project in cmake/third_party (with this build's toolchain) when this build is configured,
# installed into <build>/third_party/prefix, and found there. The archives come from
# KORVANE_THIRD_PARTY_DIR, by default a folder "shared/third_party" beside the source tree
# when there is one; without a folder they are downloaded. Either way their SHA256 is checked.
set(korvane_default_archives "")
get_filename_component(korvane_beside "${CMAKE_SOURCE_DIR}/../shared/third_party" ABSOLUTE)
if(EXISTS "${korvane_beside}/SHA256SUMS")
  set(korvane_default_archives "${korvane_beside}")
endif()
set(KORVANE_THIRD_PARTY_DIR "${korvane_default_archives}" CACHE PATH
    "Folder of the FLTK and cJSON release archives (empty: download them)")

set(KORVANE_DEPS_BUILD "${CMAKE_BINARY_DIR}/third_party")
set(KORVANE_DEPS_PREFIX "${KORVANE_DEPS_BUILD}/prefix")
get_filename_component(korvane_toolchain "${CMAKE_TOOLCHAIN_FILE}" ABSOLUTE BASE_DIR "${CMAKE_BINARY_DIR}")

if(NOT EXISTS "${KORVANE_DEPS_PREFIX}/lib/libfltk.a" OR NOT EXISTS "${KORVANE_DEPS_PREFIX}/lib/libcjson.a"
   OR NOT "${KORVANE_THIRD_PARTY_DIR}" STREQUAL "${KORVANE_DEPS_BUILT_FROM}")
  message(STATUS "Building FLTK and cJSON for Windows in ${KORVANE_DEPS_BUILD}")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${CMAKE_SOURCE_DIR}/cmake/third_party -B ${KORVANE_DEPS_BUILD}
      -G ${CMAKE_GENERATOR}
      -DCMAKE_TOOLCHAIN_FILE=${korvane_toolchain}
      -DKORVANE_THIRD_PARTY_DIR=${KORVANE_THIRD_PARTY_DIR}
      -DKORVANE_DEPS_PREFIX=${KORVANE_DEPS_PREFIX}
      -DCMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER}
      -DCMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER}
    RESULT_VARIABLE korvane_rc)
  if(NOT korvane_rc EQUAL 0)
    message(FATAL_ERROR "Configuring FLTK and cJSON failed")
  endif()
  include(ProcessorCount)
  ProcessorCount(korvane_jobs)
  if(korvane_jobs EQUAL 0)
    set(korvane_jobs 2)
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${KORVANE_DEPS_BUILD} --parallel ${korvane_jobs}
                  RESULT_VARIABLE korvane_rc)
  if(NOT korvane_rc EQUAL 0)
    message(FATAL_ERROR "Building FLTK and cJSON failed (a checksum that does not match stops it)")
  endif()
  set(KORVANE_DEPS_BUILT_FROM "${KORVANE_THIRD_PARTY_DIR}" CACHE INTERNAL "")
endif()

find_package(FLTK CONFIG REQUIRED
             PATHS ${KORVANE_DEPS_PREFIX}/CMake NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT FLTK_VERSION VERSION_EQUAL 1.3.8)
  message(FATAL_ERROR "FLTK 1.3.8 expected in ${KORVANE_DEPS_PREFIX}, found ${FLTK_VERSION}")
endif()
set(FLTK_INCLUDE_DIR ${KORVANE_DEPS_PREFIX}/include)

add_library(korvane_cjson STATIC IMPORTED)
set_target_properties(korvane_cjson PROPERTIES
  IMPORTED_LOCATION ${KORVANE_DEPS_PREFIX}/lib/libcjson.a
  INTERFACE_INCLUDE_DIRECTORIES ${KORVANE_DEPS_PREFIX}/include)
set(KORVANE_CJSON korvane_cjson)
