# Header-only libraries in a cross-build come from the build machine: only their own folder of
# /usr/include is copied apart and put on the include path, so that the rest of /usr/include
# never stands in for the target's system headers.
#   kvr_host_headers(CLI11::CLI11 CLI/CLI.hpp)
function(kvr_host_headers target probe)
  string(MAKE_C_IDENTIFIER ${target} name)
  find_path(KVR_HOST_${name} ${probe} PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
            REQUIRED)
  string(REGEX REPLACE "/.*" "" folder ${probe})
  set(copy ${CMAKE_BINARY_DIR}/host-headers/${name})
  file(COPY ${KVR_HOST_${name}}/${folder} DESTINATION ${copy})
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  target_include_directories(${target} INTERFACE ${copy})
endfunction()
