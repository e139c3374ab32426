# The floors of the tree (README, Layout): the folders of the windows are
# the top floor. Nothing outside them includes their headers or Qt's, and no
# library or program outside them links theirs or Qt; the "layering" test
# checks both from the files written here.
set(VANTREL_UI_FOLDERS
  UI launcher bench/windows
  tests/UI tests/Bridge tests/BridgeFacade tests/BridgeOutline tests/BridgeUtil tests/Thumbnails tests/launcher)

function(_vantrel_targets_below dir out)
  get_property(found DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    _vantrel_targets_below(${sub} more)
    list(APPEND found ${more})
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

# Writes layering/targets.txt (name, type, folder, what it links) and
# layering/executables.txt (name, built file) for every target of the build.
# Called once, when the whole tree is configured.
function(vantrel_write_layering)
  _vantrel_targets_below(${PROJECT_SOURCE_DIR} targets)
  set(rows "")
  set(programs "")
  foreach(t IN LISTS targets)
    get_target_property(type ${t} TYPE)
    if(type STREQUAL "UTILITY" OR type STREQUAL "GLOBAL_TARGET")
      continue()
    endif()
    get_target_property(dir ${t} SOURCE_DIR)
    file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR} ${dir})
    set(links "")
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(direct ${t} LINK_LIBRARIES)
      if(direct)
        list(APPEND links ${direct})
      endif()
    endif()
    get_target_property(interface ${t} INTERFACE_LINK_LIBRARIES)
    if(interface)
      list(APPEND links ${interface})
    endif()
    string(REPLACE "\t" " " links "${links}")
    string(APPEND rows "${t}\t${type}\t${rel}\t${links}\n")
    if(type STREQUAL "EXECUTABLE")
      string(APPEND programs "${t}\t$<TARGET_FILE:${t}>\n")
    endif()
  endforeach()
  file(WRITE ${CMAKE_BINARY_DIR}/layering/targets.txt "${rows}")
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/layering/executables.txt CONTENT "${programs}")
endfunction()
