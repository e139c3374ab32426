# Check-box cell of the result trees, the hand button, and the items of the
# picture views (collection item and its view, cover-flow item).
vantrel_add_library(vantrel_ui_buttons
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/NewButton.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ZRHandButton.cpp
    ${CMAKE_CURRENT_LIST_DIR}/BVView.cpp
  LIBS Qt6::Widgets vantrel_ui_lists vantrel_ui_bundle)
target_include_directories(vantrel_ui_buttons PUBLIC ${CMAKE_CURRENT_LIST_DIR})

# The bridge-backed answers for the picture items (kept apart so the widgets
# above need no engine).
vantrel_add_library(vantrel_ui_items_bridge
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/BVBridgeNodeSource.cpp
  LIBS vantrel_ui_buttons vantrel_bridge_facade vantrel_bridge_outline)
target_include_directories(vantrel_ui_items_bridge PUBLIC ${CMAKE_CURRENT_LIST_DIR})
