# sdcard_chip_image(<target> <out-dir> [BUDGETS] <sources...>): cross-compiles
# the sources for the chip, links them read-only with main first and runs the
# post-link step, giving <out-dir>/sdcard.{elf,bin,hex,size}. With BUDGETS the
# build fails when the image or its stack is over the budgets of budgets.cmake.
include(${CMAKE_CURRENT_LIST_DIR}/cross_flags.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/budgets.cmake)
find_program(SDCARD_CROSS_CXX_PATH ${SDCARD_CROSS_CXX} REQUIRED)
set(SDCARD_LINKER_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/sdcard.ld)
set(SDCARD_CROSS_FLAGS_FILE ${CMAKE_CURRENT_LIST_DIR}/cross_flags.cmake)
set(SDCARD_BUDGETS_FILE ${CMAKE_CURRENT_LIST_DIR}/budgets.cmake)

function(sdcard_chip_image name out_dir)
  cmake_parse_arguments(PARSE_ARGV 2 image "BUDGETS" "" "")
  set(budget_options --host-stack ${SDCARD_HOST_SERVICE_STACK})
  if(image_BUDGETS)
    list(APPEND budget_options --image-budget ${SDCARD_IMAGE_BUDGET} --stack-budget ${SDCARD_STACK_BUDGET})
  endif()
  set(include_flags)
  foreach(dir include command card fat)
    list(APPEND include_flags -I${PROJECT_SOURCE_DIR}/${dir})
  endforeach()
  file(MAKE_DIRECTORY ${out_dir}/obj)

  set(objects)
  foreach(source ${image_UNPARSED_ARGUMENTS})
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} NORMALIZE)
    cmake_path(RELATIVE_PATH source BASE_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE relative)
    string(REGEX REPLACE "[/.]" "_" stem ${relative})
    set(object ${out_dir}/obj/${stem}.o)
    add_custom_command(
      OUTPUT ${object}
      COMMAND ${SDCARD_CROSS_CXX_PATH} ${SDCARD_CROSS_FLAGS} ${include_flags}
              -MMD -MF ${object}.d -c ${source} -o ${object}
      DEPENDS ${source} ${SDCARD_CROSS_FLAGS_FILE}
      DEPFILE ${object}.d
      COMMENT "Cross-compiling ${relative} for the chip"
      VERBATIM)
    list(APPEND objects ${object})
  endforeach()

  set(linked ${out_dir}/sdcard.linked.elf)
  add_custom_command(
    OUTPUT ${linked}
    COMMAND ${SDCARD_CROSS_CXX_PATH} ${SDCARD_CROSS_LINK_FLAGS} -T ${SDCARD_LINKER_SCRIPT} ${objects} -o ${linked}
    DEPENDS ${objects} ${SDCARD_LINKER_SCRIPT} ${SDCARD_CROSS_FLAGS_FILE}
    COMMENT "Linking the chip image ${name}"
    VERBATIM)

  set(outputs sdcard.elf sdcard.bin sdcard.hex sdcard.size)
  list(TRANSFORM outputs PREPEND ${out_dir}/)
  add_custom_command(
    OUTPUT ${outputs}
    COMMAND postlink ${linked} ${out_dir} ${budget_options}
    DEPENDS postlink ${linked} ${SDCARD_BUDGETS_FILE}
    COMMENT "Making the chip image ${name} position independent"
    VERBATIM)
  add_custom_target(${name} ALL DEPENDS ${outputs})
endfunction()
