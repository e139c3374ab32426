# Tests of the grid view, its tiles, the overlay scrollers and the attached
# window.
vantrel_add_ui_test(ui_grid_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/grid/GridItemTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/grid/OverlayScrollTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/grid/GridViewTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/grid/AttachedWindowTest.cpp
  LIBS vantrel_ui_grid vantrel_ui_overlay vantrel_ui_attached)
