# The Windows program's icon and version resource, for onyx_windows_resources(target):
# the icon is made from packaging/wellscribe-onyx.svg at build time (cmake/MakeIcon.cmake,
# with rsvg-convert and icotool) and compiled, with the VERSIONINFO of the project's
# version, into the target. ONYX_ICON_FILE names the icon, empty without the tools.
set(ONYX_ICON_FILE ${CMAKE_BINARY_DIR}/packaging/wellscribe-onyx.ico)

function(onyx_windows_resources target)
  set(svg ${PROJECT_SOURCE_DIR}/packaging/wellscribe-onyx.svg)
  find_program(ONYX_RSVG_CONVERT rsvg-convert)
  find_program(ONYX_ICOTOOL icotool)
  if(ONYX_RSVG_CONVERT AND ONYX_ICOTOOL)
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
    set(ONYX_ICON_FILE ${ONYX_ICON_FILE} PARENT_SCOPE)
  else()
    # A build without the tools (a Windows PC without librsvg and icoutils) keeps the
    # version resource and goes without the icon.
    message(STATUS "rsvg-convert or icotool not found: wellscribe-onyx.exe without its icon")
    set(ONYX_ICON_LINE "")
    set(ONYX_ICON_FILE "" PARENT_SCOPE)
  endif()

  set(rc ${CMAKE_BINARY_DIR}/packaging/wellscribe-onyx.rc)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/wellscribe-onyx.rc.in ${rc} @ONLY)
  enable_language(RC)
  target_sources(${target} PRIVATE ${rc})
  if(ONYX_ICON_LINE)
    get_target_property(source_dir ${target} SOURCE_DIR)
    set_source_files_properties(${rc} DIRECTORY ${source_dir} PROPERTIES OBJECT_DEPENDS
                                ${ONYX_ICON_FILE})
    add_dependencies(${target} onyx-windows-icon)
  endif()
endfunction()
