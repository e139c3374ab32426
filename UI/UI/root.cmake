# The root window with its wizard pages (file types, disks), the about
# window, the kind buttons of the file-type page, and the shell's access to
# the engine.
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets)
find_package(CURL REQUIRED)
vantrel_add_library(vantrel_ui_root
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/ZRRootEngine.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ZRShellWindowParts.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TypeButton.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ZRSelectTypeViewController.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ZRSelectDiskViewController.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ZRRootWindowController.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ZRAboutWindowController.cpp
  LIBS Qt6::Widgets CURL::libcurl vantrel_ui_root_core vantrel_ui_topview vantrel_ui_lists vantrel_ui_cells
       vantrel_bridge_facade vantrel_bridge_outline vantrel_ui_notify vantrel_ui_bundle)
target_include_directories(vantrel_ui_root PUBLIC ${CMAKE_CURRENT_LIST_DIR})
