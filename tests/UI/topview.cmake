# The title-bar window, its strip, the window buttons and the picture button;
# the thin progress bar; the editing key combinations.
vantrel_add_ui_test(ui_topview_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/topview/TCImageWindowTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/topview/TCImageButtonTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/topview/TCWindowButtonTest.cpp
  LIBS vantrel_ui_topview)

vantrel_add_ui_test(ui_topview_progress_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/topview/ZRProgressViewTest.cpp
  LIBS vantrel_ui_progress)

vantrel_add_ui_test(ui_topview_app_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/topview/MyNSApplicationTest.cpp
  LIBS vantrel_ui_app)
