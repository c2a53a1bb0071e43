# One line declares a test program: its sources and the libraries it tests.
# Every test program sees tests/ on its include path (support/..., the shared
# test doubles) and builds with the project's warnings.
#
#   onyx_gtest(NAME SOURCES... [LIBRARIES...] [OWN_MAIN] [NO_DISCOVERY]
#              [TIMEOUT s] [DISCOVERY_TIMEOUT s])
# A GoogleTest program whose cases CTest finds by running it. OWN_MAIN: the
# program brings its main (no gtest_main); NO_DISCOVERY: CTest does not run it
# (another program drives it). TIMEOUT applies to each case.
#
#   onyx_qt_test(NAME SOURCES... [LIBRARIES...] [TIMEOUT s])
# A Qt Test program, one CTest test, run on the offscreen platform (TIMEOUT
# default 300 s). Its main comes from support/QtTestMain.h.
function(onyx_gtest name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "OWN_MAIN;NO_DISCOVERY" "TIMEOUT;DISCOVERY_TIMEOUT"
                        "SOURCES;LIBRARIES")
  add_executable(${name} ${arg_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${arg_LIBRARIES} GTest::gtest onyx_warnings)
  if(NOT arg_OWN_MAIN)
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  if(arg_NO_DISCOVERY)
    return()
  endif()
  if(NOT arg_DISCOVERY_TIMEOUT)
    set(arg_DISCOVERY_TIMEOUT 30)
  endif()
  set(properties)
  if(arg_TIMEOUT)
    set(properties PROPERTIES TIMEOUT ${arg_TIMEOUT})
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT ${arg_DISCOVERY_TIMEOUT} ${properties})
endfunction()

function(onyx_qt_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "TIMEOUT" "SOURCES;LIBRARIES")
  if(NOT arg_TIMEOUT)
    set(arg_TIMEOUT 300)
  endif()
  add_executable(${name} ${arg_SOURCES})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${arg_LIBRARIES} Qt6::Test onyx_warnings)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${arg_TIMEOUT}
                       ENVIRONMENT QT_QPA_PLATFORM=offscreen)
endfunction()
