# The movie poster utility: a movie's poster frame as a window image.
vantrel_add_library(vantrel_ui_movie_poster
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/MovToImag.cpp
  LIBS vantrel_ui_thumbnails Qt6::Gui)
target_include_directories(vantrel_ui_movie_poster PUBLIC ${CMAKE_CURRENT_LIST_DIR})
