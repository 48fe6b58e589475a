# sdcard_chip_image(<target> <out-dir> [NAME <name>] [IMAGE <variant>]
#                   [IMAGE_BUDGET <bytes>] [STACK_BUDGET <bytes>]
#                   [FLAGS <compiler flags...>] SOURCES <sources...>):
# cross-compiles the sources for the chip (with SDCARD_IMAGE=<variant> when
# given), links them read-only with main first and runs the post-link step,
# giving <out-dir>/<name>.{elf,bin,words,size} (name: sdcard by default), then
# the programmer's and the debugger's files: <name>.ihex, .map and .lst. With
# the budgets the build fails when the image or its stack is over them.
include(${CMAKE_CURRENT_LIST_DIR}/cross_flags.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/budgets.cmake)
find_program(SDCARD_CROSS_CXX_PATH ${SDCARD_CROSS_CXX} REQUIRED)

# The binutils that come with the cross compiler: mipsel-linux-gnu-g++ -> mipsel-linux-gnu-objcopy.
string(REGEX REPLACE "(g|c|clang)\\+\\+$" "" sdcard_cross_prefix ${SDCARD_CROSS_CXX})
set(SDCARD_CROSS_OBJCOPY ${sdcard_cross_prefix}objcopy CACHE STRING "objcopy of the cross binutils")
set(SDCARD_CROSS_OBJDUMP ${sdcard_cross_prefix}objdump CACHE STRING "objdump of the cross binutils")
find_program(SDCARD_CROSS_OBJCOPY_PATH ${SDCARD_CROSS_OBJCOPY} REQUIRED)
find_program(SDCARD_CROSS_OBJDUMP_PATH ${SDCARD_CROSS_OBJDUMP} REQUIRED)

# Where sdcard.ihex puts the image: a flash address past the host's table, in
# KSEG0 or KSEG1. A cache variable: it stays for later builds of this build
# folder until set again or removed with -USDCARD_LOAD_ADDRESS.
include(${CMAKE_CURRENT_LIST_DIR}/flash_placement.cmake)
set(SDCARD_LOAD_ADDRESS ${SDCARD_LINK_ADDRESS} CACHE STRING "flash address of the image in sdcard.ihex (0x9D... or 0xBD...)")
sdcard_placement_problem("${SDCARD_LOAD_ADDRESS}" 0 sdcard_load_problem)
if(sdcard_load_problem)
  message(FATAL_ERROR "SDCARD_LOAD_ADDRESS: ${sdcard_load_problem}")
endif()
math(EXPR sdcard_load_physical "${SDCARD_LOAD_ADDRESS} & 0x1FFFFFFF" OUTPUT_FORMAT HEXADECIMAL)
set(SDCARD_LINKER_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/sdcard.ld)
set(SDCARD_CROSS_FLAGS_FILE ${CMAKE_CURRENT_LIST_DIR}/cross_flags.cmake)
set(SDCARD_BUDGETS_FILE ${CMAKE_CURRENT_LIST_DIR}/budgets.cmake)
set(SDCARD_PLACEMENT_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/flash_placement.cmake)

function(sdcard_chip_image name out_dir)
  cmake_parse_arguments(PARSE_ARGV 2 image "" "NAME;IMAGE;IMAGE_BUDGET;STACK_BUDGET" "FLAGS;SOURCES")
  if(NOT image_NAME)
    set(image_NAME sdcard)
  endif()
  set(budget_options --host-stack ${SDCARD_HOST_SERVICE_STACK})
  if(image_IMAGE_BUDGET)
    list(APPEND budget_options --image-budget ${image_IMAGE_BUDGET} --stack-budget ${image_STACK_BUDGET})
  endif()
  set(include_flags)
  if(image_IMAGE)
    list(APPEND include_flags -DSDCARD_IMAGE=${image_IMAGE})
  endif()
  foreach(dir include command card fat)
    list(APPEND include_flags -I${PROJECT_SOURCE_DIR}/${dir})
  endforeach()
  file(MAKE_DIRECTORY ${out_dir}/obj-${image_NAME})

  set(objects)
  foreach(source ${image_SOURCES})
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} NORMALIZE)
    cmake_path(RELATIVE_PATH source BASE_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE relative)
    string(REGEX REPLACE "[/.]" "_" stem ${relative})
    set(object ${out_dir}/obj-${image_NAME}/${stem}.o)
    add_custom_command(
      OUTPUT ${object}
      COMMAND ${SDCARD_CROSS_CXX_PATH} ${SDCARD_CROSS_FLAGS} ${image_FLAGS} -g ${include_flags}
              -MMD -MF ${object}.d -c ${source} -o ${object}
      DEPENDS ${source} ${SDCARD_CROSS_FLAGS_FILE}
      DEPFILE ${object}.d
      COMMENT "Cross-compiling ${relative} for the chip"
      VERBATIM)
    list(APPEND objects ${object})
  endforeach()

  set(linked ${out_dir}/${image_NAME}.linked.elf)
  add_custom_command(
    OUTPUT ${linked}
    COMMAND ${SDCARD_CROSS_CXX_PATH} ${SDCARD_CROSS_LINK_FLAGS} ${image_FLAGS} -g -Wl,-Map=${out_dir}/${image_NAME}.map
            -T ${SDCARD_LINKER_SCRIPT} ${objects} -o ${linked}
    BYPRODUCTS ${out_dir}/${image_NAME}.map
    DEPENDS ${objects} ${SDCARD_LINKER_SCRIPT} ${SDCARD_CROSS_FLAGS_FILE}
    COMMENT "Linking the chip image ${name}"
    VERBATIM)

  set(outputs ${image_NAME}.elf ${image_NAME}.bin ${image_NAME}.words ${image_NAME}.size)
  list(TRANSFORM outputs PREPEND ${out_dir}/)
  add_custom_command(
    OUTPUT ${outputs}
    COMMAND postlink ${linked} ${out_dir}/${image_NAME} ${budget_options}
    DEPENDS postlink ${linked} ${SDCARD_BUDGETS_FILE}
    COMMENT "Making the chip image ${name} position independent"
    VERBATIM)
  # Intel HEX carries physical addresses (0x1D... for flash), as the chip's programmers expect.
  # The image's size is known only now: one that runs past the end of flash is refused here.
  add_custom_command(
    OUTPUT ${out_dir}/${image_NAME}.ihex
    COMMAND ${CMAKE_COMMAND} -DADDRESS=${SDCARD_LOAD_ADDRESS} -DIMAGE=${out_dir}/${image_NAME}.bin
            -P ${SDCARD_PLACEMENT_SCRIPT}
    COMMAND ${SDCARD_CROSS_OBJCOPY_PATH} -I binary -O ihex --change-addresses ${sdcard_load_physical}
            ${out_dir}/${image_NAME}.bin ${out_dir}/${image_NAME}.ihex
    DEPENDS ${out_dir}/${image_NAME}.bin ${SDCARD_PLACEMENT_SCRIPT}
    COMMENT "Intel HEX of the chip image at ${SDCARD_LOAD_ADDRESS}"
    VERBATIM)
  add_custom_command(
    OUTPUT ${out_dir}/${image_NAME}.lst
    COMMAND sh -c "\"$0\" -d -S \"$1\" > \"$2\"" ${SDCARD_CROSS_OBJDUMP_PATH} ${out_dir}/${image_NAME}.elf
            ${out_dir}/${image_NAME}.lst
    DEPENDS ${out_dir}/${image_NAME}.elf
    COMMENT "Listing of the chip image with its source lines"
    VERBATIM)
  add_custom_target(${name} ALL DEPENDS ${outputs} ${out_dir}/${image_NAME}.ihex ${out_dir}/${image_NAME}.lst)
endfunction()
