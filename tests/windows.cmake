# SPDX-License-Identifier: MIT
# The unit and net suites as Windows programs, run under Wine. GoogleTest is built from Debian's
# sources with the cross compiler. Every test program runs through run_wine.sh, which keeps one
# prepared Wine prefix per build and lets one Wine program at a time use it; the net suite runs
# inside a private network namespace the script creates, where only loopback exists.
set(ZOQ_GTEST_SOURCE /usr/src/googletest/googletest CACHE PATH "GoogleTest sources")
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
set(BUILD_SHARED_LIBS OFF)
add_subdirectory(${ZOQ_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
include(GoogleTest)

add_library(zoq_test_support STATIC support/child_win32.cpp support/sockets.cpp)
target_include_directories(zoq_test_support PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(zoq_test_support PUBLIC zoq_scripted zoq_core GTest::gtest)

set(ZOQ_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
# Tests of Linux programs stay in the Linux suite: the simulated device, and the POSIX kinds of
# the transfer's beat (the Windows beat is tested by os_socket_test.cpp on both systems), and
# the bind helper that alone holds the right to bind low ports (Linux capabilities), and the
# interfaces only a Linux kernel makes. The hostile-device suite runs the Linux image generator
# and long transfers: on Linux only, to keep CI's time.
set(ZOQ_LINUX_ONLY_TESTS net/sim_device_test.cpp net/heartbeat_test.cpp net/port_privilege_test.cpp
                         net/hostile_tftp_test.cpp net/hostile_http_test.cpp net/interfaces_test.cpp)

function(zoq_windows_test_folder label)
  cmake_parse_arguments(ARG "NETNS" "" "" ${ARGN})
  file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${label}/*.cpp)
  foreach(skip ${ZOQ_LINUX_ONLY_TESTS})
    list(REMOVE_ITEM _srcs ${CMAKE_CURRENT_SOURCE_DIR}/${skip})
  endforeach()
  add_executable(tests_${label} ${_srcs} support/windows_main.cpp)
  target_link_libraries(tests_${label} PRIVATE zoq_test_support)
  target_compile_definitions(tests_${label} PRIVATE
    ZOQ_BINARY_DIR="${CMAKE_BINARY_DIR}" ZOQ_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  set(_emulator ${CMAKE_CURRENT_SOURCE_DIR}/support/run_wine.sh --prefix ${ZOQ_WINE_PREFIX})
  if(ARG_NETNS)
    list(APPEND _emulator --netns)
  endif()
  set_target_properties(tests_${label} PROPERTIES CROSSCOMPILING_EMULATOR "${_emulator}")
  gtest_discover_tests(tests_${label} PROPERTIES LABELS ${label} DISCOVERY_TIMEOUT 300
                       DISCOVERY_MODE PRE_TEST)
endfunction()

zoq_windows_test_folder(unit)
# The system's texts are also looked for in zoq-upgrade.exe (Z: is Wine's drive for /).
add_dependencies(tests_unit zoq-upgrade)
target_compile_definitions(tests_unit PRIVATE ZOQ_PROGRAM_FILE="Z:$<TARGET_FILE:zoq-upgrade>")
zoq_windows_test_folder(net NETNS)
