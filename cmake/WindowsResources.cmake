# The Windows programs' manifest, icon and version resource, for
# onyx_windows_resources(target description): the manifest is cmake/WindowsManifest.xml;
# the icon is made from packaging/wellscribe-onyx.svg at build time
# (cmake/MakeIcon.cmake, with rsvg-convert and icotool); both are compiled, with the
# VERSIONINFO of the project's version, into the target. ONYX_ICON_FILE names the
# icon, empty without the tools.
set(ONYX_ICON_FILE ${CMAKE_BINARY_DIR}/packaging/wellscribe-onyx.ico)
set(ONYX_MANIFEST_FILE ${PROJECT_SOURCE_DIR}/cmake/WindowsManifest.xml)

find_program(ONYX_RSVG_CONVERT rsvg-convert)
find_program(ONYX_ICOTOOL icotool)
if(ONYX_RSVG_CONVERT AND ONYX_ICOTOOL)
  set(svg ${PROJECT_SOURCE_DIR}/packaging/wellscribe-onyx.svg)
  add_custom_command(
    OUTPUT ${ONYX_ICON_FILE}
    COMMAND ${CMAKE_COMMAND} -DSVG=${svg} -DICO=${ONYX_ICON_FILE}
            -DWORK=${CMAKE_BINARY_DIR}/packaging/icon
            -P ${PROJECT_SOURCE_DIR}/cmake/MakeIcon.cmake
    DEPENDS ${svg} ${PROJECT_SOURCE_DIR}/cmake/MakeIcon.cmake
    COMMENT "Making the Windows icon from ${svg}"
    VERBATIM)
  add_custom_target(onyx-windows-icon DEPENDS ${ONYX_ICON_FILE})
  set(ONYX_ICON_LINE "IDI_ICON1 ICON \"${ONYX_ICON_FILE}\"")
else()
  # A build without the tools (a Windows PC without librsvg and icoutils) keeps the
  # manifest and version resource and goes without the icon.
  message(STATUS "rsvg-convert or icotool not found: the Windows programs without their icon")
  set(ONYX_ICON_LINE "")
  set(ONYX_ICON_FILE "")
endif()
enable_language(RC)

function(onyx_windows_resources target description)
  set(ONYX_RESOURCE_NAME ${target})
  set(ONYX_RESOURCE_DESCRIPTION ${description})
  set(rc ${CMAKE_BINARY_DIR}/packaging/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/WindowsResources.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  set(depends ${ONYX_MANIFEST_FILE})
  if(ONYX_ICON_LINE)
    list(APPEND depends ${ONYX_ICON_FILE})
    add_dependencies(${target} onyx-windows-icon)
  endif()
  get_target_property(source_dir ${target} SOURCE_DIR)
  set_source_files_properties(${rc} DIRECTORY ${source_dir} PROPERTIES OBJECT_DEPENDS
                              "${depends}")
endfunction()
