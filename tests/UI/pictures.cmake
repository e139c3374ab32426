# The program's own pictures: every name the windows ask for is present in
# the resource folder, loads, and the looks of one button share a size.
vantrel_add_ui_test(ui_pictures_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/pictures/PicturesTest.cpp
  LIBS vantrel_ui_bundle)
target_compile_definitions(ui_pictures_tests PRIVATE
  VANTREL_SOURCE_RESOURCES="${PROJECT_SOURCE_DIR}/UI/Resources")
