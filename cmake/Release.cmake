# The release, built by the Windows tree: the stripped DLL in dist/ (every build), and the zip a user
# downloads (target release_zip): the DLL with the README, its picture, the licence and the example scripts,
# named after the version the version resource gives the project.
set(WAC_DIST_DIR ${CMAKE_SOURCE_DIR}/dist)
set(WAC_RELEASE_DLL ${WAC_DIST_DIR}/WinampControl.dll)
add_custom_command(OUTPUT ${WAC_RELEASE_DLL}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${WAC_DIST_DIR}
  COMMAND ${CMAKE_STRIP} -o ${WAC_RELEASE_DLL} $<TARGET_FILE:WinampControl>
  DEPENDS WinampControl VERBATIM)
add_custom_target(release_dll ALL DEPENDS ${WAC_RELEASE_DLL})
set(WAC_RELEASE_FILES README.md LICENSE docs/configuration-page.png examples/kitchen.kdo examples/doorbell.kdo
    examples/morning.kdo)
list(TRANSFORM WAC_RELEASE_FILES PREPEND ${CMAKE_SOURCE_DIR}/ OUTPUT_VARIABLE WAC_RELEASE_SOURCES)
set(WAC_RELEASE_ZIP ${WAC_DIST_DIR}/WinampControl-${PROJECT_VERSION}.zip)
add_custom_command(OUTPUT ${WAC_RELEASE_ZIP}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${WAC_RELEASE_ZIP}
  COMMAND zip -q -X -j ${WAC_RELEASE_ZIP} ${WAC_RELEASE_DLL}
  COMMAND zip -q -X ${WAC_RELEASE_ZIP} ${WAC_RELEASE_FILES}
  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
  DEPENDS ${WAC_RELEASE_DLL} ${WAC_RELEASE_SOURCES} VERBATIM)
add_custom_target(release_zip DEPENDS ${WAC_RELEASE_ZIP}
  COMMAND ${CMAKE_COMMAND} -E echo "release zip: dist/WinampControl-${PROJECT_VERSION}.zip" VERBATIM)
