# Scroll areas with scrollers over the content.
vantrel_add_library(vantrel_ui_overlay
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/RFOverlayScrollView.cpp
  LIBS Qt6::Widgets)
target_include_directories(vantrel_ui_overlay PUBLIC ${CMAKE_CURRENT_LIST_DIR})
