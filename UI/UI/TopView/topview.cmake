# The window of every screen with its custom-drawn title strip, and the
# picture button of every screen.
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets)

vantrel_add_library(vantrel_ui_topview
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/TCImageWindow.cpp
    ${CMAKE_CURRENT_LIST_DIR}/KLTitlebarView.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TCImageButton.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TCWindowButton.cpp
  LIBS Qt6::Widgets vantrel_ui_bundle vantrel_ui_notify vantrel_ui_root_core)
target_include_directories(vantrel_ui_topview PUBLIC ${CMAKE_CURRENT_LIST_DIR})
