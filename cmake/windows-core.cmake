# SPDX-License-Identifier: MIT
# The core on Windows. The image is the program's resource "ZOQ_FIRMWARE" 726. A resource
# object carries no symbol that would pull it out of a static library, so the .rc is an
# interface source: every program that links the core compiles it into itself.
enable_language(RC)
configure_file(${CMAKE_SOURCE_DIR}/res/firmware.rc.in ${CMAKE_BINARY_DIR}/res/firmware.rc @ONLY)
set_source_files_properties(${CMAKE_BINARY_DIR}/res/firmware.rc PROPERTIES
                            OBJECT_DEPENDS ${ZOQ_FIRMWARE_IMAGE})
add_custom_target(zoq_firmware_image DEPENDS ${ZOQ_FIRMWARE_IMAGE})

add_library(zoq_core STATIC)
target_sources(zoq_core INTERFACE ${CMAKE_BINARY_DIR}/res/firmware.rc)
add_dependencies(zoq_core zoq_firmware_image)
# Winsock 2 (which serves the 1.1 the program asks for) and the multimedia timer.
target_link_libraries(zoq_core PUBLIC ws2_32 winmm)
# windows.h without its min/max macros and the rarely used parts, wherever it is included.
target_compile_definitions(zoq_core PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX)
