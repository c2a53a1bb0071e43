# The Windows program's icon and version resource, for onyx_windows_resources(target):
# the icon is made from packaging/wellscribe-onyx.svg at build time (cmake/MakeIcon.cmake)
# and compiled, with the VERSIONINFO of the project's version, into the target.
set(ONYX_ICON_FILE ${CMAKE_BINARY_DIR}/packaging/wellscribe-onyx.ico)

function(onyx_windows_resources target)
  set(svg ${PROJECT_SOURCE_DIR}/packaging/wellscribe-onyx.svg)
  add_custom_command(
    OUTPUT ${ONYX_ICON_FILE}
    COMMAND ${CMAKE_COMMAND} -DSVG=${svg} -DICO=${ONYX_ICON_FILE}
            -DWORK=${CMAKE_BINARY_DIR}/packaging/icon -P ${PROJECT_SOURCE_DIR}/cmake/MakeIcon.cmake
    DEPENDS ${svg} ${PROJECT_SOURCE_DIR}/cmake/MakeIcon.cmake
    COMMENT "Making the Windows icon from ${svg}"
    VERBATIM)
  add_custom_target(onyx-windows-icon DEPENDS ${ONYX_ICON_FILE})

  set(rc ${CMAKE_BINARY_DIR}/packaging/wellscribe-onyx.rc)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/wellscribe-onyx.rc.in ${rc} @ONLY)
  enable_language(RC)
  target_sources(${target} PRIVATE ${rc})
  get_target_property(source_dir ${target} SOURCE_DIR)
  set_source_files_properties(${rc} DIRECTORY ${source_dir} PROPERTIES OBJECT_DEPENDS
                              ${ONYX_ICON_FILE})
  add_dependencies(${target} onyx-windows-icon)
endfunction()
