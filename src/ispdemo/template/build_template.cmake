# Assembles the ISP demo and writes it as C++ source: `IspDemoTemplate`, 64 rows of 32
# upper-case hexadecimal digits. Fails the build when the assembler or linker reports anything,
# when the program is not the same bytes at both bases (it must run unchanged at 3800h and
# F800h), or when a patched instruction is not where the builder patches it.
#
# cmake -DSDAS=... -DSDLD=... -DSOURCE=isp_demo.asm -DWORK_DIR=... -DOUTPUT=file.cpp -P this

cmake_minimum_required(VERSION 3.21)

foreach(var SDAS SDLD SOURCE WORK_DIR OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "build_template.cmake needs -D${var}=")
  endif()
endforeach()

set(kSize 1024)
file(MAKE_DIRECTORY "${WORK_DIR}")
file(COPY "${SOURCE}" DESTINATION "${WORK_DIR}")
get_filename_component(name "${SOURCE}" NAME_WE)

execute_process(COMMAND "${SDAS}" -plosffw "${name}.asm"
  WORKING_DIRECTORY "${WORK_DIR}" RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "ISP demo: the assembler failed (${result}):\n${out}")
endif()
# Every error also flags its line in the first column of the listing.
file(STRINGS "${WORK_DIR}/${name}.lst" flagged REGEX "^[a-z]")
if(flagged)
  list(JOIN flagged "\n" text)
  message(FATAL_ERROR "ISP demo: the listing flags errors:\n${text}")
endif()

# Reads one linked Intel HEX file into `${outVar}`: the template as 2,048 hexadecimal digits,
# bytes the program leaves out (the .ds gaps) as FF like erased flash.
function(read_linked base outVar)
  set(ihx "${WORK_DIR}/${name}_${base}.ihx")
  execute_process(COMMAND "${SDLD}" -i "${ihx}" -b "ISPDEMO=0x${base}" "${name}.rel"
    WORKING_DIRECTORY "${WORK_DIR}" RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT result EQUAL 0 OR out MATCHES "\\?ASlink-(Error|Warning)")
    message(FATAL_ERROR "ISP demo: linking at ${base}h failed:\n${out}")
  endif()
  string(REPEAT "FF" ${kSize} image)
  math(EXPR first "0x${base}")
  file(STRINGS "${ihx}" records REGEX "^:" NO_HEX_CONVERSION)
  foreach(record IN LISTS records)
    string(SUBSTRING "${record}" 7 2 type)
    if(NOT type STREQUAL "00")
      continue()
    endif()
    string(SUBSTRING "${record}" 1 2 count)
    string(SUBSTRING "${record}" 3 4 address)
    math(EXPR count "0x${count}")
    math(EXPR offset "0x${address} - ${first}")
    math(EXPR end "${offset} + ${count}")
    if(offset LESS 0 OR end GREATER kSize)
      message(FATAL_ERROR "ISP demo: bytes outside the kilobyte at ${base}h: ${record}")
    endif()
    math(EXPR digits "${count} * 2")
    string(SUBSTRING "${record}" 9 ${digits} data)
    string(TOUPPER "${data}" data)
    math(EXPR at "${offset} * 2")
    math(EXPR rest "${end} * 2")
    string(SUBSTRING "${image}" 0 ${at} head)
    string(SUBSTRING "${image}" ${rest} -1 tail)
    set(image "${head}${data}${tail}")
  endforeach()
  set(${outVar} "${image}" PARENT_SCOPE)
endfunction()

read_linked(3800 low)
read_linked(F800 high)
if(NOT low STREQUAL high)
  foreach(offset RANGE 0 1023)
    math(EXPR at "${offset} * 2")
    string(SUBSTRING "${low}" ${at} 2 a)
    string(SUBSTRING "${high}" ${at} 2 b)
    if(NOT a STREQUAL b)
      message(FATAL_ERROR "ISP demo: not position-independent, offset ${offset} is ${a} at "
                          "3800h and ${b} at F800h (an absolute address of its own code?)")
    endif()
  endforeach()
endif()

# The instructions the builder patches, by their first byte (and fixed operands).
function(expect offset allowed role)
  math(EXPR at "${offset} * 2")
  string(SUBSTRING "${low}" ${at} 2 byte)
  if(NOT byte IN_LIST allowed)
    message(FATAL_ERROR "ISP demo: offset ${offset} holds ${byte}, expected ${role}")
  endif()
endfunction()
expect(63 "7F" "MOV R7,#n (delay count at 64)")
expect(65 "DF" "DJNZ R7 of the delay")
expect(67 "B2" "CPL bit (watchdog feed)")
expect(69 "22" "RET of the feed routine")
expect(70 "C2;D2" "CLR/SETB of the direction bit")
expect(72 "C2;D2" "CLR/SETB of the direction bit")
expect(74 "D2" "SETB REN")
expect(75 "9C" "bit REN")
expect(76 "D2" "SETB ES")
expect(77 "AC" "bit ES")
expect(78 "22" "RET of the receive routine")
expect(79 "C2" "CLR ES")
expect(80 "AC" "bit ES")
expect(81 "C2;D2" "CLR/SETB of the direction bit")
expect(83 "C2;D2" "CLR/SETB of the direction bit")
expect(85 "11;31;51;71;91;B1;D1;F1" "ACALL (settling delay)")
expect(93 "22" "RET of the transmit routine")
foreach(offset 94 97 100 103 106 109 112 115)
  expect(${offset} "75" "MOV direct,#n")
endforeach()
expect(95 "20" "the flag byte at 20h (bit 0 = 9-bit frames)")
expect(101 "CB" "RCAP2H")
expect(104 "CA" "RCAP2L")
expect(118 "74" "MOV A,#n (crystal class at 119)")

set(rows "")
foreach(row RANGE 0 63)
  math(EXPR at "${row} * 32")
  string(SUBSTRING "${low}" ${at} 32 digits)
  string(APPEND rows "    \"${digits}\",\n")
endforeach()
file(WRITE "${OUTPUT}.tmp" "// Generated from ${name}.asm by build_template.cmake; do not edit.
#include \"ispdemo/isp_demo_template.h\"

namespace kvr {

const std::array<const char*, kIspDemoTemplateRows> IspDemoTemplate = {
${rows}};

}  // namespace kvr
")
# Unchanged output keeps its time stamp, so nothing recompiles for a comment in the source.
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
