# The pop-over window with an arrow.
vantrel_add_library(vantrel_ui_attached
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/MAAttachedWindow.cpp
  LIBS Qt6::Widgets)
target_include_directories(vantrel_ui_attached PUBLIC ${CMAKE_CURRENT_LIST_DIR})
