# The thin progress bar of the results window's title bar.
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets)

vantrel_add_library(vantrel_ui_progress
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/NSProgressBar.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ZRProgressView.cpp
  LIBS Qt6::Widgets vantrel_ui_bundle)
target_include_directories(vantrel_ui_progress PUBLIC ${CMAKE_CURRENT_LIST_DIR})
