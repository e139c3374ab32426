# The smaller cells and views of the lists: image-and-text cell, the dark
# outlines, the plain header cell, the search box and two backdrop views.
vantrel_add_library(vantrel_ui_cells
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/ImageAndTextCell.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CustemOutlineView.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ZRCustomOutlineView.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CustomTableHeaderView.cpp
    ${CMAKE_CURRENT_LIST_DIR}/NewSearchTextFiled.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SelectTypeTopView.cpp
  LIBS Qt6::Widgets vantrel_ui_lists vantrel_ui_bundle)
target_include_directories(vantrel_ui_cells PUBLIC ${CMAKE_CURRENT_LIST_DIR})
