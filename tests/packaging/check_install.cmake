# Installs the build into a fresh prefix, then checks that everything landed and that every
# installed program answers --version with the project version.
# -DBUILD_DIR=... -DPREFIX=... -DVERSION=...

cmake_minimum_required(VERSION 3.21)

file(REMOVE_RECURSE "${PREFIX}")
execute_process(
  COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
  RESULT_VARIABLE result
  OUTPUT_QUIET
  ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${result}):\n${errors}")
endif()

set(programs kvr-station kvr-cli kvr-writer-sim kvr-isp kvr-gang)
if(EXISTS "${BUILD_DIR}/src/kvr-line")
  list(APPEND programs kvr-line)
endif()
set(expected share/applications/kvr-station.desktop
             share/icons/hicolor/scalable/apps/kvr-station.svg)
foreach(program IN LISTS programs)
  list(APPEND expected bin/${program} share/man/man1/${program}.1
                       share/bash-completion/completions/${program})
endforeach()
foreach(file IN LISTS expected)
  if(NOT EXISTS "${PREFIX}/${file}")
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

foreach(program IN LISTS programs)
  execute_process(
    COMMAND "${PREFIX}/bin/${program}" --version
    RESULT_VARIABLE result
    OUTPUT_VARIABLE output
    ERROR_VARIABLE errors)
  if(NOT result EQUAL 0 OR NOT output STREQUAL "${program} ${VERSION}\n")
    message(FATAL_ERROR "${program} --version gave (${result}) \"${output}\" ${errors}")
  endif()
  file(READ "${PREFIX}/share/man/man1/${program}.1" page)
  if(NOT page MATCHES "kvr-station ${VERSION}")
    message(FATAL_ERROR "the man page of ${program} lacks the version")
  endif()
  file(READ "${PREFIX}/share/bash-completion/completions/${program}" completion)
  if(NOT completion MATCHES "complete -F _[a-z_]+ ${program}\n")
    message(FATAL_ERROR "the completion of ${program} does not complete it")
  endif()
endforeach()

# The desktop entry starts the installed program and shows the installed icon.
file(STRINGS "${PREFIX}/share/applications/kvr-station.desktop" entry)
if(NOT "Exec=kvr-station" IN_LIST entry OR NOT "Icon=kvr-station" IN_LIST entry)
  message(FATAL_ERROR "the desktop entry does not name kvr-station and its icon")
endif()
find_program(VALIDATE desktop-file-validate)
if(VALIDATE)
  execute_process(COMMAND "${VALIDATE}" "${PREFIX}/share/applications/kvr-station.desktop"
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0 OR output MATCHES "error")
    message(FATAL_ERROR "desktop-file-validate: ${output}")
  endif()
endif()

file(REMOVE_RECURSE "${PREFIX}")
message(STATUS "installed and checked ${expected}")
