# The results window: its rules over a scripted engine, and the whole road
# over a real FAT image through the facade (the facade tests' fake machine).
if(TARGET vantrel_ui_results)
  set(_results_tests ${PROJECT_SOURCE_DIR}/tests)
  vantrel_add_ui_test(ui_results_tests
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/results/ResultsWindowTest.cpp
      ${CMAKE_CURRENT_LIST_DIR}/results/ResultsEndToEndTest.cpp
      ${_results_tests}/Bridge/BridgeTestSupport.cpp
      ${_results_tests}/EnumDevice/EnumTestSupport.cpp
      ${_results_tests}/BridgeFacade/FacadeTestSupport.cpp
    LIBS vantrel_ui_results vantrel_bridge_facade vantrel_enum_device vantrel_tree_builder vantrel_recovery_filter)
  target_include_directories(ui_results_tests PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/results ${_results_tests}/Bridge ${_results_tests}/EnumDevice
    ${_results_tests}/BridgeFacade)
  target_compile_definitions(ui_results_tests PRIVATE
    VANTREL_SOURCE_RESOURCES="${PROJECT_SOURCE_DIR}/UI/Resources"
    BRIDGE_IMAGE_SCRIPT="${_results_tests}/Bridge/make-bridge-images.sh"
    PREVIEW_IMAGE_SCRIPT="${_results_tests}/BridgeFacade/make-preview-image.sh"
    ENUM_IMAGE_SCRIPT="${_results_tests}/EnumDevice/make-images.sh")
endif()
