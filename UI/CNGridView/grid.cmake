# The grid view and its tiles.
vantrel_add_library(vantrel_ui_grid
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/CNGridViewItem.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CNGridView.cpp
  LIBS Qt6::Widgets vantrel_ui_notify vantrel_ui_bundle)
target_include_directories(vantrel_ui_grid PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
