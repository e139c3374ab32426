# The application object, which turns the editing key combinations into edit
# actions.
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets)

vantrel_add_library(vantrel_ui_app
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/MyNSApplication.cpp
  LIBS Qt6::Widgets)
target_include_directories(vantrel_ui_app PUBLIC ${CMAKE_CURRENT_LIST_DIR})
