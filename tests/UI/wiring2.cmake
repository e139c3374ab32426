# The results window joined to the pop-up windows: the recovery end windows,
# the saving of a scan result and the deep-scan offer, over a real FAT image
# through the facade (the facade tests' fake machine).
if(TARGET vantrel_ui_results)
  set(_wiring2_tests ${PROJECT_SOURCE_DIR}/tests)
  vantrel_add_ui_test(ui_wiring2_tests
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/wiring2/ResultsPopupsTest.cpp
      ${CMAKE_CURRENT_LIST_DIR}/wiring2/ResultSaveFlowTest.cpp
      ${_wiring2_tests}/Bridge/BridgeTestSupport.cpp
      ${_wiring2_tests}/EnumDevice/EnumTestSupport.cpp
      ${_wiring2_tests}/BridgeFacade/FacadeTestSupport.cpp
    LIBS vantrel_ui_results vantrel_bridge_facade vantrel_enum_device vantrel_tree_builder vantrel_recovery_filter)
  target_include_directories(ui_wiring2_tests PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/results ${_wiring2_tests}/Bridge ${_wiring2_tests}/EnumDevice
    ${_wiring2_tests}/BridgeFacade)
  target_compile_definitions(ui_wiring2_tests PRIVATE
    BRIDGE_IMAGE_SCRIPT="${_wiring2_tests}/Bridge/make-bridge-images.sh"
    PREVIEW_IMAGE_SCRIPT="${_wiring2_tests}/BridgeFacade/make-preview-image.sh"
    ENUM_IMAGE_SCRIPT="${_wiring2_tests}/EnumDevice/make-images.sh")
endif()
