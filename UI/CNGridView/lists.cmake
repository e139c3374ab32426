# Drawn lists: cells, table and outline views, the dark table with its header
# cell, the split view and the search field.
vantrel_add_library(vantrel_ui_lists
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/ZRCell.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ZRTableView.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CustomTableView.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CustomHeaderCell.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CustemSplitView.cpp
    ${CMAKE_CURRENT_LIST_DIR}/THSearchField.cpp
  LIBS Qt6::Widgets vantrel_ui_bundle)
target_include_directories(vantrel_ui_lists PUBLIC ${CMAKE_CURRENT_LIST_DIR})
