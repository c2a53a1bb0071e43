# One line declares a test program: its sources and the libraries it tests. Every
# test program has tests/ on its include path and builds with the project's warnings.
#
# onyx_gtest(NAME SOURCES... LIBRARIES... [OWN_MAIN] [NO_DISCOVERY] [TIMEOUT s]
#            [DISCOVERY_TIMEOUT s]): a GoogleTest program whose cases CTest finds by
# running it (NO_DISCOVERY: another program drives it; OWN_MAIN: no gtest_main).
function(onyx_gtest name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "OWN_MAIN;NO_DISCOVERY" "TIMEOUT;DISCOVERY_TIMEOUT"
                        "SOURCES;LIBRARIES")
  add_executable(${name} ${arg_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${arg_LIBRARIES} GTest::gtest onyx_warnings
                        $<$<NOT:$<BOOL:${arg_OWN_MAIN}>>:GTest::gtest_main>)
  if(arg_TIMEOUT)
    set(properties PROPERTIES TIMEOUT ${arg_TIMEOUT})
  endif()
  if(NOT arg_DISCOVERY_TIMEOUT)
    set(arg_DISCOVERY_TIMEOUT 30)
  endif()
  if(NOT arg_NO_DISCOVERY)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT ${arg_DISCOVERY_TIMEOUT} ${properties})
  endif()
endfunction()

# onyx_qt_test(NAME SOURCES... LIBRARIES... [TIMEOUT s] [ARGS...] [ENVIRONMENT...]):
# a Qt Test program, one CTest test on the offscreen platform (300 s unless TIMEOUT),
# run with ARGS and the ENVIRONMENT variables besides; main from support/QtTestMain.h.
function(onyx_qt_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "TIMEOUT" "SOURCES;LIBRARIES;ARGS;ENVIRONMENT")
  if(NOT arg_TIMEOUT)
    set(arg_TIMEOUT 300)
  endif()
  add_executable(${name} ${arg_SOURCES})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${arg_LIBRARIES} Qt6::Test onyx_warnings)
  add_test(NAME ${name} COMMAND ${name} ${arg_ARGS})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${arg_TIMEOUT}
                       ENVIRONMENT "QT_QPA_PLATFORM=offscreen;${arg_ENVIRONMENT}")
endfunction()
