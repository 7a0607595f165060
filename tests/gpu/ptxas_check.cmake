# Assembles the GPU module with ptxas for one architecture; fails on any
# error or warning. Arguments: -DPTXAS=... -DMODULE=... -DARCH=sm_XX
execute_process(
  COMMAND ${PTXAS} -arch=${ARCH} --warning-as-error -o ${CMAKE_CURRENT_BINARY_DIR}/network-${ARCH}.cubin ${MODULE}
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT "${out}${err}" STREQUAL "")
  message(FATAL_ERROR "ptxas -arch=${ARCH} on ${MODULE} (status ${status}):\n${out}${err}")
endif()
message(STATUS "ptxas -arch=${ARCH}: assembled without a message")
