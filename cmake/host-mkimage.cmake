# SPDX-License-Identifier: MIT
# In a cross build the image generator must run on the build machine, not on the target: it is
# built with the build machine's compiler, and the image rules use that copy.
find_program(ZOQ_HOST_CXX NAMES c++ g++ clang++ REQUIRED)
set(ZOQ_MKIMAGE ${CMAKE_BINARY_DIR}/host/zoq-mkimage)
add_custom_command(
  OUTPUT ${ZOQ_MKIMAGE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/host
  COMMAND ${ZOQ_HOST_CXX} -std=c++20 -O2 -o ${ZOQ_MKIMAGE} ${CMAKE_SOURCE_DIR}/tools/mkimage.cpp
  DEPENDS ${CMAKE_SOURCE_DIR}/tools/mkimage.cpp
  COMMENT "Building the image generator for the build machine")
