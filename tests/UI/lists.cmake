vantrel_add_ui_test(ui_lists_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/lists/ListsDrawingTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/lists/ListsBehaviourTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/lists/ListsButtonsTest.cpp
  LIBS vantrel_ui_lists vantrel_ui_cells vantrel_ui_buttons vantrel_ui_bundle)
