# The release, built by the Windows tree with every build: the stripped DLL in dist/, and the zip a server
# owner downloads, named after the version the version resource gives the project. The zip is made in the
# tree, where the package's test checks it; target release_zip (./run package) copies that very file into
# dist/. It holds what an owner needs and nothing of the source tree: the DLL, the user's guide with its
# picture and its example event scripts (docs/), and the licence. CMake writes it itself, so that building
# needs no zip program.
set(WAC_DIST_DIR ${CMAKE_SOURCE_DIR}/dist)
set(WAC_RELEASE_DLL ${WAC_DIST_DIR}/WinampControl.dll)
add_custom_command(OUTPUT ${WAC_RELEASE_DLL}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${WAC_DIST_DIR}
  COMMAND ${CMAKE_STRIP} -o ${WAC_RELEASE_DLL} $<TARGET_FILE:WinampControl>
  DEPENDS WinampControl VERBATIM)

# The zip's files, all in one folder named like the zip, so that it unpacks into a folder of its own;
# in it each at the place the guide's links expect: the guide and its picture side by side, the
# examples in examples/.
set(WAC_RELEASE_FOLDER WinampControl-${PROJECT_VERSION})
set(WAC_RELEASE_NAME ${WAC_RELEASE_FOLDER}.zip)
set(WAC_RELEASE_ZIP ${CMAKE_BINARY_DIR}/release/${WAC_RELEASE_NAME})
set(stage ${CMAKE_BINARY_DIR}/release/files)
file(GLOB WAC_RELEASE_EXAMPLES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/examples/*.kdo)
set(WAC_RELEASE_TOP ${WAC_RELEASE_DLL} ${CMAKE_SOURCE_DIR}/docs/user-guide.md
    ${CMAKE_SOURCE_DIR}/docs/configuration-page.png ${CMAKE_SOURCE_DIR}/LICENSE)
set(entries)
foreach(file IN LISTS WAC_RELEASE_TOP)
  get_filename_component(name ${file} NAME)
  list(APPEND entries ${WAC_RELEASE_FOLDER}/${name})
endforeach()
foreach(file IN LISTS WAC_RELEASE_EXAMPLES)
  get_filename_component(name ${file} NAME)
  list(APPEND entries ${WAC_RELEASE_FOLDER}/examples/${name})
endforeach()
add_custom_command(OUTPUT ${WAC_RELEASE_ZIP}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage} ${WAC_RELEASE_ZIP}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}/${WAC_RELEASE_FOLDER}/examples
  COMMAND ${CMAKE_COMMAND} -E copy ${WAC_RELEASE_TOP} ${stage}/${WAC_RELEASE_FOLDER}
  COMMAND ${CMAKE_COMMAND} -E copy ${WAC_RELEASE_EXAMPLES} ${stage}/${WAC_RELEASE_FOLDER}/examples
  COMMAND ${CMAKE_COMMAND} -E chdir ${stage} ${CMAKE_COMMAND} -E tar cf ${WAC_RELEASE_ZIP} --format=zip -- ${entries}
  DEPENDS ${WAC_RELEASE_TOP} ${WAC_RELEASE_EXAMPLES} VERBATIM)
add_custom_target(release ALL DEPENDS ${WAC_RELEASE_DLL} ${WAC_RELEASE_ZIP})
set_property(GLOBAL PROPERTY WAC_RELEASE_DLL ${WAC_RELEASE_DLL})
set_property(GLOBAL PROPERTY WAC_RELEASE_ZIP ${WAC_RELEASE_ZIP})

add_custom_target(release_zip
  COMMAND ${CMAKE_COMMAND} -E copy ${WAC_RELEASE_ZIP} ${WAC_DIST_DIR}
  COMMAND ${CMAKE_COMMAND} -E echo "release zip: dist/${WAC_RELEASE_NAME}"
  DEPENDS release VERBATIM)
