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
# Test executables that read fixtures made by external tools (file systems,
# partition tables, documents, pictures): their tests carry the label
# "fixtures", which the drift check of .ci/run runs on fixtures made again.
set(VANTREL_FIXTURE_TESTS
  apfs_tests apfs_cli_tests
  bridge_engine_tests bridge_scan_result_tests bridge_facade_tests bridge_outline_scan_tests
  enum_device_tests partition_table_tests recovery_controller_cli_tests
  exfat_tests exfat_cli_tests exfat_deep_tests exfat_deep_cli_tests
  fatlib_tests fatlib_cli_tests fatsearch_tests fatsearch_cli_tests fatsearch_deep_tests fatsearch_deep_cli_tests
  hfs_tests hfs_cli_tests ntfslib_tests ntfssearch_tests ntfs_cli_tests tree_builder_cli_tests
  raw_jpeg_tests raw_docs_tests
  ui_coverflow_tests ui_wiring_e2e_tests ui_results_tests ui_popups_e2e_tests ui_wiring2_tests
  thumbnail_tests)

function(vantrel_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE vantrel_test_common ${ARG_LIBS} GTest::gtest GTest::gmock)
  # Test code is compiled for a quick build: the engine libraries it links
  # keep their optimisation and full debug information, the test sources get
  # light optimisation and line tables (GoogleTest and Qt test code at -O2 -g
  # take most of the build's time).
  target_compile_options(${name} PRIVATE $<$<CONFIG:RelWithDebInfo>:-O1> $<$<CONFIG:RelWithDebInfo>:-g1>)
  set(properties ENVIRONMENT "TZ=UTC")
  if(name IN_LIST VANTREL_FIXTURE_TESTS)
    list(APPEND properties LABELS fixtures)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ${properties})
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
