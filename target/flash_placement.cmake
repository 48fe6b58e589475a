# Where the chip image may sit in flash: the configure step checks the load
# address alone, the build checks it again with the image's size once the
# image exists. `sdsim --at` keeps the same rule (tools/sdsim/flash_placement.cpp),
# and tests/sdsim holds the two to each other.
#
#   include(flash_placement.cmake)  then  sdcard_placement_problem(<address> <size> <out-var>)
#   cmake -DADDRESS=0x9D030000 [-DIMAGE=sdcard.bin | -DSIZE=bytes] -P flash_placement.cmake
#
# Program flash is 256 KiB at 0x9D000000 (KSEG0) or 0xBD000000 (KSEG1, the
# same flash uncached); its first 4 KiB are the host's table.

# Sets <out-var> to why <size> bytes cannot sit at <address>, or to "" when they can.
function(sdcard_placement_problem address size out_var)
  if(NOT address MATCHES "^(0[xX][0-9a-fA-F]+|[0-9]+)$")
    set(${out_var} "'${address}' is not an address such as 0x9D030000" PARENT_SCOPE)
    return()
  endif()
  math(EXPR segment "${address} & 0xFFFC0000" OUTPUT_FORMAT HEXADECIMAL)
  math(EXPR offset "${address} & 0x3FFFF")
  math(EXPR end "${offset} + ${size}")
  math(EXPR flash_end "${segment} + 0x3FFFF" OUTPUT_FORMAT HEXADECIMAL)
  math(EXPR shown "${address}" OUTPUT_FORMAT HEXADECIMAL)
  foreach(text shown flash_end)
    # 0x9d030000 -> 0x9D030000, written as sdsim writes it.
    string(SUBSTRING ${${text}} 2 -1 digits)
    string(TOUPPER ${digits} digits)
    string(LENGTH ${digits} length)
    while(length LESS 8)
      string(PREPEND digits 0)
      math(EXPR length "${length} + 1")
    endwhile()
    set(${text} 0x${digits})
  endforeach()
  math(EXPR misaligned "${address} % 4")
  if(NOT (segment EQUAL 0x9D000000 OR segment EQUAL 0xBD000000))
    set(problem "${shown} is not in program flash: 0x9D000000 to 0x9D03FFFF, or 0xBD000000 to 0xBD03FFFF")
  elseif(misaligned)
    set(problem "${shown} is not word-aligned")
  elseif(offset LESS 0x1000)
    set(problem "${shown} overlaps the host table (the first 0x1000 bytes of flash)")
  elseif(end GREATER 0x40000)
    set(problem "an image of ${size} bytes at ${shown} does not fit the flash, which ends at ${flash_end}")
  else()
    set(problem "")
  endif()
  set(${out_var} "${problem}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  set(size 0)
  if(DEFINED IMAGE)
    file(SIZE ${IMAGE} size)
  elseif(DEFINED SIZE)
    set(size ${SIZE})
  endif()
  sdcard_placement_problem("${ADDRESS}" ${size} problem)
  if(problem)
    message(FATAL_ERROR "SDCARD_LOAD_ADDRESS: ${problem}")
  endif()
endif()
