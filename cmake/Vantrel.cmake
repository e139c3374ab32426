# vantrel_add_library(name SOURCES ... LIBS ...)
#   One static library per engine folder; every library sees include/.
function(vantrel_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/include ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_LIBS} Threads::Threads)
endfunction()

# vantrel_add_test(name SOURCES ... LIBS ...)
#   One GoogleTest executable; the shared test main and helpers come with it.
function(vantrel_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE vantrel_test_common ${ARG_LIBS} GTest::gtest GTest::gmock)
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "TZ=UTC")
  # gtest_discover_tests cannot pass a list-valued ENVIRONMENT; the test main
  # sets LC_ALL (and TZ again) itself.
endfunction()

# vantrel_add_ui_test(name SOURCES ... LIBS ...)
#   A GoogleTest executable for the windows: a widget application object
#   exists for the whole run, on the "offscreen" platform, so the tests run
#   without a display.
function(vantrel_add_ui_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  vantrel_add_test(${name}
    SOURCES ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/tests/UI/common/QtTestApp.cpp
    LIBS ${ARG_LIBS} Qt6::Widgets Qt6::Test)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/UI/common)
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
endfunction()
