# The template build must refuse a program the builder would patch wrongly: each variant below
# breaks one rule and has to stop build_template.cmake with the matching complaint.
# cmake -DSDAS=... -DSDLD=... -DSOURCE=isp_demo.asm -DSCRIPT=build_template.cmake
#       -DWORK_DIR=... -P this
cmake_minimum_required(VERSION 3.21)

file(READ "${SOURCE}" original)

function(expect_refusal label search replace complaint)
  string(FIND "${original}" "${search}" at)
  if(at LESS 0)
    message(FATAL_ERROR "${label}: the source no longer holds '${search}'")
  endif()
  string(REPLACE "${search}" "${replace}" broken "${original}")
  set(dir "${WORK_DIR}/${label}")
  file(MAKE_DIRECTORY "${dir}")
  file(WRITE "${dir}/isp_demo.asm" "${broken}")
  execute_process(COMMAND "${CMAKE_COMMAND}" -DSDAS=${SDAS} -DSDLD=${SDLD}
    -DSOURCE=${dir}/isp_demo.asm -DWORK_DIR=${dir}/work -DOUTPUT=${dir}/out.cpp -P "${SCRIPT}"
    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(result EQUAL 0 OR NOT out MATCHES "${complaint}")
    message(FATAL_ERROR "${label}: expected a refusal with '${complaint}', got (${result}):\n${out}")
  endif()
  message(STATUS "${label}: refused")
endfunction()

expect_refusal(moved_feed "Feed:   cpl" "        nop\nFeed:   cpl" "the assembler failed")
expect_refusal(absolute_jump "        sjmp    Init" "        ljmp    Init" "not position-independent")
expect_refusal(wrong_role "Feed:   cpl     0x97" "Feed:   setb    0x97" "offset 67 holds D2")
expect_refusal(h_suffix "mov     TCONST,#19" "mov     TCONST,#13h" "the assembler failed")
