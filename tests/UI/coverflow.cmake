# The cover flow and the grid of the results window: their loading rules over
# a scripted window, and over a real FAT image scanned through the facade
# (the facade tests' fake machine).
if(TARGET vantrel_ui_coverflow)
  set(_coverflow_tests ${PROJECT_SOURCE_DIR}/tests)
  vantrel_add_ui_test(ui_coverflow_tests
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/coverflow/CoverFlowTest.cpp
      ${CMAKE_CURRENT_LIST_DIR}/coverflow/CoverFlowScanTest.cpp
      ${_coverflow_tests}/Bridge/BridgeTestSupport.cpp
      ${_coverflow_tests}/EnumDevice/EnumTestSupport.cpp
      ${_coverflow_tests}/BridgeFacade/FacadeTestSupport.cpp
    LIBS vantrel_ui_coverflow vantrel_bridge_facade vantrel_enum_device vantrel_tree_builder vantrel_recovery_filter)
  target_include_directories(ui_coverflow_tests PRIVATE
    ${_coverflow_tests}/Bridge ${_coverflow_tests}/EnumDevice ${_coverflow_tests}/BridgeFacade)
  target_compile_definitions(ui_coverflow_tests PRIVATE
    BRIDGE_IMAGE_SCRIPT="${_coverflow_tests}/Bridge/make-bridge-images.sh"
    PREVIEW_IMAGE_SCRIPT="${_coverflow_tests}/BridgeFacade/make-preview-image.sh"
    ENUM_IMAGE_SCRIPT="${_coverflow_tests}/EnumDevice/make-images.sh")
endif()
