# Builds one source as a chip image the way the image build does and passes
# only when a step refuses it with a message matching EXPECT.
#   cmake -DSOURCE=... -DEXPECT=regex -DWORK=dir -DPOSTLINK=path -DROOT=repo -P expect_refused.cmake
include(${CMAKE_CURRENT_LIST_DIR}/cross_flags.cmake)
file(MAKE_DIRECTORY ${WORK})
set(includes -I${ROOT}/include -I${ROOT}/command -I${ROOT}/card -I${ROOT}/fat)
set(compile ${SDCARD_CROSS_CXX} ${SDCARD_CROSS_FLAGS} ${includes} -c ${SOURCE} -o ${WORK}/probe.o)
set(link ${SDCARD_CROSS_CXX} ${SDCARD_CROSS_LINK_FLAGS} -T ${CMAKE_CURRENT_LIST_DIR}/sdcard.ld ${WORK}/probe.o
         -o ${WORK}/probe.elf)
set(postlink ${POSTLINK} ${WORK}/probe.elf ${WORK}/sdcard)
foreach(step compile link postlink)
  execute_process(COMMAND ${${step}} WORKING_DIRECTORY ${WORK} RESULT_VARIABLE result
                  OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT result EQUAL 0)
    if(out MATCHES "${EXPECT}")
      message(STATUS "${step} refused it as expected: ${out}")
      return()
    endif()
    message(FATAL_ERROR "${step} refused it, but not with /${EXPECT}/:\n${out}")
  endif()
endforeach()
message(FATAL_ERROR "${SOURCE} was accepted as a chip image")
