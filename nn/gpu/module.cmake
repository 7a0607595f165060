# The GPU module: nn/gpu/network.ptx with the activation tables put in,
# written to the build tree as PTX text (TAVIMOR_GPU_MODULE, which the tests
# assemble) and as a C++ source that builds the text into the program.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(TAVIMOR_GPU_MODULE ${CMAKE_BINARY_DIR}/nn/gpu/network.ptx)
set(TAVIMOR_GPU_MODULE_SOURCE ${CMAKE_BINARY_DIR}/nn/gpu/gpu_module.cpp)
add_custom_command(
  OUTPUT ${TAVIMOR_GPU_MODULE} ${TAVIMOR_GPU_MODULE_SOURCE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/nn/gpu
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/embed_ptx.py
          ${CMAKE_SOURCE_DIR}/nn/gpu/network.ptx ${TAVIMOR_GPU_MODULE} ${TAVIMOR_GPU_MODULE_SOURCE}
  DEPENDS ${CMAKE_SOURCE_DIR}/nn/gpu/network.ptx ${CMAKE_SOURCE_DIR}/scripts/embed_ptx.py
          ${CMAKE_SOURCE_DIR}/scripts/gen_tables.py
  COMMENT "Embedding the GPU module")
target_sources(tavimor_core PRIVATE ${TAVIMOR_GPU_MODULE_SOURCE})
