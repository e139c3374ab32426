# The program's hand-over from the application delegate and the root window
# to the pop-up windows.
if(TARGET vantrel_ui_wiring)
  set(_wiring_tests ${PROJECT_SOURCE_DIR}/tests)
  vantrel_add_ui_test(ui_wiring_tests
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/wiring/WiringTest.cpp
      ${CMAKE_CURRENT_LIST_DIR}/popups/PopupTestSupport.cpp
    LIBS vantrel_ui_wiring)
  target_include_directories(ui_wiring_tests PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/popups ${CMAKE_CURRENT_LIST_DIR}/root)

  # An import through the root window over a real save and load.
  if(TARGET vantrel_bridge_facade AND TARGET vantrel_enum_device)
    vantrel_add_ui_test(ui_wiring_e2e_tests
      SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/wiring/ImportEndToEndTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/popups/PopupTestSupport.cpp
        ${_wiring_tests}/Bridge/BridgeTestSupport.cpp
        ${_wiring_tests}/EnumDevice/EnumTestSupport.cpp
        ${_wiring_tests}/BridgeFacade/FacadeTestSupport.cpp
      LIBS vantrel_ui_wiring vantrel_bridge_facade vantrel_enum_device vantrel_tree_builder vantrel_recovery_filter)
    target_include_directories(ui_wiring_e2e_tests PRIVATE
      ${CMAKE_CURRENT_LIST_DIR}/popups ${CMAKE_CURRENT_LIST_DIR}/root ${_wiring_tests}/Bridge
      ${_wiring_tests}/EnumDevice ${_wiring_tests}/BridgeFacade)
    target_compile_definitions(ui_wiring_e2e_tests PRIVATE
      BRIDGE_IMAGE_SCRIPT="${_wiring_tests}/Bridge/make-bridge-images.sh"
      PREVIEW_IMAGE_SCRIPT="${_wiring_tests}/BridgeFacade/make-preview-image.sh"
      ENUM_IMAGE_SCRIPT="${_wiring_tests}/EnumDevice/make-images.sh")
  endif()
endif()
