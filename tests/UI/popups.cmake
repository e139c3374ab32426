# The pop-up windows: their state machines over scripted progress figures and
# a stand-in desktop, network and engine.
vantrel_add_ui_test(ui_popups_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/popups/PopupTestSupport.cpp
    ${CMAKE_CURRENT_LIST_DIR}/popups/RecoveryProgressWindowTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/popups/RecoveryEndWindowsTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/popups/FadingTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/popups/ScanResultProgressWindowTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/popups/ApfsAndDeepScanTest.cpp
  LIBS vantrel_ui_popups)
target_include_directories(ui_popups_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/popups)

# The update window, over a scripted network.
if(TARGET vantrel_ui_root)
  vantrel_add_ui_test(ui_popups_update_tests
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/popups/PopupTestSupport.cpp
      ${CMAKE_CURRENT_LIST_DIR}/popups/UpdateCheckTest.cpp
    LIBS vantrel_ui_popups_update)
  target_include_directories(ui_popups_update_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/popups)
endif()

# The scan-result progress window over a real save and load through the
# facade (the facade tests' fake machine with a FAT volume image).
if(TARGET vantrel_bridge_facade AND TARGET vantrel_enum_device)
  set(_popups_tests ${PROJECT_SOURCE_DIR}/tests)
  vantrel_add_ui_test(ui_popups_e2e_tests
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/popups/PopupTestSupport.cpp
      ${CMAKE_CURRENT_LIST_DIR}/popups/ScanResultFilesEndToEndTest.cpp
      ${_popups_tests}/Bridge/BridgeTestSupport.cpp
      ${_popups_tests}/EnumDevice/EnumTestSupport.cpp
      ${_popups_tests}/BridgeFacade/FacadeTestSupport.cpp
    LIBS vantrel_ui_popups vantrel_bridge_facade vantrel_enum_device vantrel_tree_builder vantrel_recovery_filter)
  target_include_directories(ui_popups_e2e_tests PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/popups ${_popups_tests}/Bridge ${_popups_tests}/EnumDevice
    ${_popups_tests}/BridgeFacade)
  target_compile_definitions(ui_popups_e2e_tests PRIVATE
    BRIDGE_IMAGE_SCRIPT="${_popups_tests}/Bridge/make-bridge-images.sh"
    PREVIEW_IMAGE_SCRIPT="${_popups_tests}/BridgeFacade/make-preview-image.sh"
    ENUM_IMAGE_SCRIPT="${_popups_tests}/EnumDevice/make-images.sh")
endif()
