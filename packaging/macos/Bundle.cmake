# macOS: BrenmorOps.app, with the command-line tool beside the application's executable in
# Contents/MacOS (where "Install CLI Command..." and setup-cli link /usr/local/bin/brenmor-ops
# to), so the tool reads the bundle's Info.plist and reports the application's version.
if(NOT TARGET BrenmorOps)
  return()
endif()
set_target_properties(BrenmorOps PROPERTIES
  MACOSX_BUNDLE TRUE
  MACOSX_BUNDLE_INFO_PLIST ${CMAKE_CURRENT_LIST_DIR}/Info.plist.in
  MACOSX_BUNDLE_BUNDLE_NAME "Brenmor Ops"
  MACOSX_BUNDLE_GUI_IDENTIFIER com.brenmor-ops.BrenmorOps
  MACOSX_BUNDLE_SHORT_VERSION_STRING ${BRENMOR_PRODUCT_VERSION}
  MACOSX_BUNDLE_BUNDLE_VERSION ${BRENMOR_PRODUCT_VERSION}
  MACOSX_BUNDLE_ICON_FILE BrenmorOps.icns)
set_target_properties(brenmor-ops PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY $<TARGET_BUNDLE_CONTENT_DIR:BrenmorOps>/MacOS)

# The bundle icon: the rendered PNGs under iconutil's names, the @2x ones a size up.
set(iconset ${CMAKE_CURRENT_BINARY_DIR}/BrenmorOps.iconset)
set(icns ${CMAKE_CURRENT_BINARY_DIR}/BrenmorOps.icns)
set(copies)
foreach(pair 16:16 32:16@2x 32:32 64:32@2x 128:128 256:128@2x 256:256 512:256@2x 512:512
        1024:512@2x)
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 size)
  list(GET pair 1 name)
  string(REGEX REPLACE "^([0-9]+)" "\\1x\\1" name ${name})
  list(APPEND copies COMMAND ${CMAKE_COMMAND} -E copy
    ${CMAKE_CURRENT_BINARY_DIR}/icons/${size}/brenmor-ops.png ${iconset}/icon_${name}.png)
endforeach()
add_custom_command(OUTPUT ${icns}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${iconset}
  ${copies}
  COMMAND iconutil -c icns -o ${icns} ${iconset}
  DEPENDS ${icon_pngs}
  VERBATIM)
add_custom_target(brenmor_icns ALL DEPENDS ${icns})
install(FILES ${icns} DESTINATION BrenmorOps.app/Contents/Resources)
