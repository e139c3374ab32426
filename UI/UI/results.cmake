# The results window: scan progress and controls, the result trees and list,
# the name search and the check boxes.
if(TARGET vantrel_bridge_facade AND TARGET vantrel_bridge_outline)
  vantrel_add_library(vantrel_ui_results
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/ZRDeletailText.cpp
      ${CMAKE_CURRENT_LIST_DIR}/ZRDeletailLayout.cpp
      ${CMAKE_CURRENT_LIST_DIR}/ZRDeletailFacadeBridge.cpp
      ${CMAKE_CURRENT_LIST_DIR}/ZRDeletailWindowController.cpp
      ${CMAKE_CURRENT_LIST_DIR}/ZRDeletailWindowController+Layout.cpp
      ${CMAKE_CURRENT_LIST_DIR}/ZRDeletailWindowController+Trees.cpp
      ${CMAKE_CURRENT_LIST_DIR}/ZRDeletailWindowController+Search.cpp
      ${CMAKE_CURRENT_LIST_DIR}/ZRDeletailWindowController+Recovery.cpp
      ${CMAKE_CURRENT_LIST_DIR}/ZRDeletailWindowController+Pictures.cpp
    LIBS Qt6::Widgets vantrel_bridge_facade vantrel_bridge_outline vantrel_ui_progress vantrel_ui_topview
         vantrel_ui_attached vantrel_ui_popups vantrel_ui_cells vantrel_ui_lists
         vantrel_ui_buttons vantrel_ui_coverflow vantrel_ui_notify vantrel_ui_bundle)
  target_include_directories(vantrel_ui_results PUBLIC ${CMAKE_CURRENT_LIST_DIR})
endif()
