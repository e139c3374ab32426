# Start-up, storage-media notifier, link table, launcher, root window and its
# pages.
vantrel_add_ui_test(ui_root_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/root/NotifierTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/root/StartupTest.cpp
  LIBS vantrel_ui_root_core)

vantrel_add_ui_test(ui_root_window_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/root/PagesTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/root/RootWindowTest.cpp
  LIBS vantrel_ui_root)
target_compile_definitions(ui_root_window_tests PRIVATE
  VANTREL_SOURCE_RESOURCES="${PROJECT_SOURCE_DIR}/UI/Resources")

vantrel_add_test(ui_root_launcher_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/root/LauncherTest.cpp
  LIBS vantrel_launcher)

vantrel_add_ui_test(ui_root_app_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/root/AppDelegateTest.cpp
  LIBS vantrel_ui_root_app)

if(TARGET vantrel-data-recovery)
  add_test(NAME ui_root_program_single_copy
           COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/root/single_copy.sh $<TARGET_FILE:vantrel-data-recovery>)
  set_tests_properties(ui_root_program_single_copy PROPERTIES SKIP_RETURN_CODE 77 RUN_SERIAL TRUE)
endif()

if(TARGET vantrel_ui_results)
  vantrel_add_ui_test(ui_root_program_tests
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/root/ResultsHandOverTest.cpp
      ${PROJECT_SOURCE_DIR}/UI/ZRRootResultsAdapter.cpp
    LIBS vantrel_ui_root_app vantrel_ui_results)
endif()

# The program's end, in a process of its own.
add_executable(ui_root_program_end ${CMAKE_CURRENT_LIST_DIR}/root/ProgramEndMain.cpp)
target_include_directories(ui_root_program_end PRIVATE ${CMAKE_CURRENT_LIST_DIR}/root)
target_link_libraries(ui_root_program_end PRIVATE vantrel_ui_root_app vantrel_register_all)
add_test(NAME ui_root_program_end COMMAND ui_root_program_end)
