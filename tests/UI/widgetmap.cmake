# The map of what the windows show, read by the screenshot run.
if(TARGET vantrel_ui_widget_map)
  vantrel_add_ui_test(ui_widget_map_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/widgetmap/WidgetMapTest.cpp
    LIBS vantrel_ui_widget_map)
endif()
