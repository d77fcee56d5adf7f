# Warnings apply to our own targets only; third-party headers come in as system headers.
function(z58_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  endif()
endfunction()

# z58_test(NAME SOURCES... LIBS ...): one GoogleTest executable registered with CTest.
function(z58_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  z58_warnings(${name})
  # A cross-built suite cannot be listed on the build machine; ./run windows runs it.
  if(NOT CMAKE_CROSSCOMPILING)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${T_PROPERTIES})
  endif()
endfunction()
