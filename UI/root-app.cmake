# Start-up, the storage-media notifier, the link table and the user's
# preferences: the parts of the program shell that need no window.
find_package(Qt6 REQUIRED COMPONENTS Core Gui DBus)
find_package(PkgConfig REQUIRED)
pkg_check_modules(VANTREL_UDEV REQUIRED IMPORTED_TARGET libudev)

vantrel_add_library(vantrel_ui_root_core
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/UserDefaults.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ZRLinkUrl.cpp
    ${CMAKE_CURRENT_LIST_DIR}/AppStartup.cpp
    ${CMAKE_CURRENT_LIST_DIR}/USBMonitorNotifier.cpp
  LIBS vantrel_ui_notify vantrel_ui_bundle vantrel_platform Qt6::Core Qt6::DBus PkgConfig::VANTREL_UDEV)
target_include_directories(vantrel_ui_root_core PUBLIC ${CMAKE_CURRENT_LIST_DIR})

# The application delegate.
vantrel_add_library(vantrel_ui_root_app
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ZRAppDelegate.cpp
  LIBS vantrel_ui_root vantrel_ui_root_core Qt6::Widgets)
target_include_directories(vantrel_ui_root_app PUBLIC ${CMAKE_CURRENT_LIST_DIR})

# The hand-over from the delegate and the root window to the pop-up windows.
vantrel_add_library(vantrel_ui_wiring
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/AppWiring.cpp
  LIBS vantrel_ui_root_app vantrel_ui_popups_update vantrel_ui_popups vantrel_ui_root Qt6::Widgets)
target_include_directories(vantrel_ui_wiring PUBLIC ${CMAKE_CURRENT_LIST_DIR})

# The map of what the windows show, for scripts that drive the program.
vantrel_add_library(vantrel_ui_widget_map
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/WidgetMap.cpp
  LIBS Qt6::Widgets)
target_include_directories(vantrel_ui_widget_map PUBLIC ${CMAKE_CURRENT_LIST_DIR})

# The program: the delegate, the real results window and the application
# object (vantrel_ui_app is described by a fragment read after this one).
if(TARGET vantrel_ui_results AND EXISTS ${CMAKE_CURRENT_LIST_DIR}/topview-app.cmake)
  add_executable(vantrel-data-recovery
    ${CMAKE_CURRENT_LIST_DIR}/main.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ZRRootResultsAdapter.cpp)
  target_link_libraries(vantrel-data-recovery PRIVATE vantrel_ui_root_app vantrel_ui_wiring vantrel_ui_results vantrel_ui_app
                        vantrel_ui_widget_map vantrel_register_all vantrel_ui_thumbnails)
endif()
