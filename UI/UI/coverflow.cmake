# The cover flow and the grid of the results window: the cover-flow view and
# the part of the window that feeds both picture views and loads their
# previews in the background.
if(TARGET vantrel_bridge_facade AND TARGET vantrel_bridge_outline)
  vantrel_add_library(vantrel_ui_coverflow
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/ZRCoverFlowView.cpp
      ${CMAKE_CURRENT_LIST_DIR}/ZRDeletailCoverFlow.cpp
    LIBS Qt6::Widgets vantrel_ui_grid vantrel_ui_bundle vantrel_bridge_facade vantrel_bridge_outline)
  target_include_directories(vantrel_ui_coverflow PUBLIC ${CMAKE_CURRENT_LIST_DIR})
endif()
