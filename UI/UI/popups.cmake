# The pop-up windows: recovery progress and end windows, the scan-result
# progress window, the APFS notice and the deep-scan offer.
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets)
vantrel_add_library(vantrel_ui_popups
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/ZRPopupWindow.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ZRShowScanProgressWindowController.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ZRScanEndSaveWindowController.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ZRScanNotEndSaveWindowController.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ZRProgressWindow.cpp
    ${CMAKE_CURRENT_LIST_DIR}/APFSScanWindowController.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ZRDeepScanViewController.cpp
  LIBS Qt6::Widgets vantrel_ui_topview vantrel_ui_notify vantrel_ui_bundle vantrel_ui_root_core vantrel_ui_buttons
       vantrel_bridge_facade vantrel_bridge_outline)
target_include_directories(vantrel_ui_popups PUBLIC ${CMAKE_CURRENT_LIST_DIR})

# The update window reaches the network and the browser through the shell's
# engine seam (ZRRootEngine), which tests replace.
vantrel_add_library(vantrel_ui_popups_update
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ZRCheckUpdateWindowController.cpp
  LIBS vantrel_ui_popups vantrel_ui_root vantrel_ui_root_core Qt6::Widgets)
target_include_directories(vantrel_ui_popups_update PUBLIC ${CMAKE_CURRENT_LIST_DIR})
