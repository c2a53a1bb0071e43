# Installing and packing: the program with its icon, menu entry, AppStream metadata,
# manual pages, copyright file, changelog and user guide on Linux (a .deb whose
# dependencies come from the libraries it links); the program with the README, the
# guide and the licence texts of the Qt linked into it on Windows (a zip, and an
# installer where NSIS is there).
include(GNUInstallDirs)

# The user guide and the pictures it shows, found in the guide itself so that a
# picture it starts to show is shipped with it. The guide is read again when it changes.
set(guide ${PROJECT_SOURCE_DIR}/docs/guide.md)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${guide})
file(READ ${guide} guide_text)
string(REGEX MATCHALL "!\\[[^]]*\\]\\([^) ]+|<img [^>]*src=\"[^\"]+" guide_pictures "${guide_text}")
list(TRANSFORM guide_pictures REPLACE "^.*[(\"]" "")
list(REMOVE_DUPLICATES guide_pictures)
foreach(picture IN LISTS guide_pictures)
  if(picture MATCHES "^[a-z]+:|^/|\\.\\." OR NOT EXISTS ${PROJECT_SOURCE_DIR}/docs/${picture})
    message(FATAL_ERROR "docs/guide.md shows ${picture}, which is not a file in docs/")
  endif()
endforeach()
# The guide and its pictures into destination, the pictures where the guide's links
# look for them.
function(onyx_install_guide_pictures destination)
  foreach(picture IN LISTS guide_pictures)
    get_filename_component(folder ${picture} DIRECTORY)
    install(FILES ${PROJECT_SOURCE_DIR}/docs/${picture} DESTINATION ${destination}/${folder})
  endforeach()
endfunction()

if(WIN32)
  include(${PROJECT_SOURCE_DIR}/cmake/WindowsResources.cmake)
  if(TARGET wellscribe-onyx)
    onyx_windows_resources(wellscribe-onyx "Wellscribe Onyx Diagnostics Utility")
  endif()
  if(TARGET onyx)
    onyx_windows_resources(onyx "Wellscribe Onyx Diagnostics Utility, command line")
  endif()
  # The installer, its uninstaller and the entry under Apps show the program's icon.
  if(ONYX_ICON_FILE)
    set(CPACK_NSIS_MUI_ICON ${ONYX_ICON_FILE})
    set(CPACK_NSIS_MUI_UNIICON ${ONYX_ICON_FILE})
  endif()
endif()
set(CPACK_PACKAGE_NAME wellscribe-onyx)
set(CPACK_PACKAGE_VENDOR "Corvane")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Diagnostics for the Wellscribe Onyx water-level logger over a serial cable")
# The package's maintainer, in the .deb's control file and its changelog. The project
# has no public mail address yet; a release for others sets theirs here (and in
# packaging/changelog) and drops the overrides in packaging/lintian-overrides.
set(ONYX_PACKAGE_CONTACT
    "Wellscribe Onyx Diagnostics Utility developers <onyx-diagnostics@localhost>"
    CACHE STRING "The package maintainer: name <address>")
set(CPACK_PACKAGE_CONTACT "${ONYX_PACKAGE_CONTACT}")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # The texts a Windows user opens in Notepad, with Windows line ends.
  function(onyx_install_text source destination)
    get_filename_component(name ${source} NAME)
    set(copy ${PROJECT_BINARY_DIR}/crlf/${destination}/${name})
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
    file(READ ${source} text)
    string(REPLACE "\r\n" "\n" text "${text}")
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${copy}.new "${text}")
    file(COPY_FILE ${copy}.new ${copy} ONLY_IF_DIFFERENT)
    file(REMOVE ${copy}.new)
    install(FILES ${copy} DESTINATION ${destination})
  endfunction()
  onyx_install_text(${PROJECT_SOURCE_DIR}/README.md .)
  onyx_install_text(${PROJECT_SOURCE_DIR}/packaging/THIRD-PARTY.txt .)
  # The guide beside its pictures, as in the sources, so that its links hold.
  onyx_install_text(${guide} docs)
  onyx_install_guide_pictures(docs)
  if(ONYX_BUILD_UI)
    install(DIRECTORY "${Qt6_DIR}/../../../share/licenses/" DESTINATION licenses/Qt)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME wellscribe-onyx-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(CPACK_PACKAGE_INSTALL_DIRECTORY "Wellscribe Onyx")
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  set(CPACK_NSIS_DISPLAY_NAME "Wellscribe Onyx Diagnostics Utility")
  set(CPACK_NSIS_PACKAGE_NAME "Wellscribe Onyx Diagnostics Utility")
  set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
  set(CPACK_PACKAGE_EXECUTABLES wellscribe-onyx "Wellscribe Onyx Diagnostics Utility")
  # The icon of the entry under Apps (and of the Start-menu shortcut, which is the
  # program itself).
  set(CPACK_NSIS_INSTALLED_ICON_NAME wellscribe-onyx.exe)
  set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "Wellscribe Onyx")
  # A 64-bit installer for the 64-bit program (and Wine without 32-bit support). Neither
  # the installer nor the uninstaller touches the program while it runs
  # (packaging/ProgramRunning.nsh); the installer removes an installed copy first
  # itself, with the same care, rather than by CPack's uninstall-before-install, whose
  # failure box would wait for an answer even in a silent run. (Single quotes: CPack
  # passes these values on unescaped.)
  set(CPACK_NSIS_DEFINES "Target amd64-unicode
!include '${PROJECT_SOURCE_DIR}/packaging/ProgramRunning.nsh'")
  set(CPACK_NSIS_EXTRA_PREINSTALL_COMMANDS "!insertmacro OnyxBeforeInstall")
  set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "!insertmacro OnyxWaitForProgramClosed '$INSTDIR'")
else()
  set(packaging ${PROJECT_SOURCE_DIR}/packaging)
  set(made ${PROJECT_BINARY_DIR}/packaging)
  set(doc ${CMAKE_INSTALL_DATADIR}/doc/wellscribe-onyx)
  set(appstream_id com.corvane.wellscribe_onyx)
  install(FILES ${packaging}/wellscribe-onyx.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${packaging}/wellscribe-onyx.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES ${packaging}/${appstream_id}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${packaging}/copyright ${guide} DESTINATION ${doc})
  onyx_install_guide_pictures(${doc})
  # Stripped as Debian strips its own packages' programs (dh_strip): CPack's strip
  # keeps the compiler's .comment section, which holds nothing the program needs.
  if(TARGET onyx AND CMAKE_OBJCOPY)
    install(CODE "if(CMAKE_INSTALL_DO_STRIP)
      foreach(program onyx wellscribe-onyx)
        execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
          \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${program}\"
          COMMAND_ERROR_IS_FATAL ANY)
      endforeach()
    endif()")
  endif()
  install(FILES ${packaging}/lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME wellscribe-onyx)

  # The package's version is the project's: the changelog's and the AppStream
  # metadata's newest release must name it.
  file(STRINGS ${packaging}/changelog changelog_top LIMIT_COUNT 1)
  file(READ ${packaging}/${appstream_id}.metainfo.xml metainfo)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${packaging}/changelog
                                                                  ${packaging}/${appstream_id}.metainfo.xml)
  if(NOT changelog_top MATCHES "^wellscribe-onyx \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/changelog begins with \"${changelog_top}\", "
                        "not with an entry for version ${PROJECT_VERSION}: add one")
  endif()
  if(NOT metainfo MATCHES "<releases>[ \t\r\n]*<release version=\"${PROJECT_VERSION}\"")
    message(FATAL_ERROR "packaging/${appstream_id}.metainfo.xml does not name version "
                        "${PROJECT_VERSION} as its newest release: add it")
  endif()

  # Made at build time by the target onyx_package_files, which scripts/package-deb.sh
  # builds before packing: the changelog and the manual pages, compressed as Debian
  # wants (gzip -9n); each manual page from its program's --help and --version with
  # help2man, plus a hand-written part (packaging/<program>.h2m). The target is not
  # part of a plain build, which may be instrumented (sanitizers) and is no place to
  # run the programs; the installation takes what was made.
  find_program(ONYX_GZIP gzip REQUIRED)
  add_custom_command(
    OUTPUT ${made}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${packaging}/changelog ${made}/changelog
    COMMAND ${ONYX_GZIP} -9nf ${made}/changelog
    DEPENDS ${packaging}/changelog
    VERBATIM)
  set(package_files ${made}/changelog.gz)
  install(FILES ${made}/changelog.gz DESTINATION ${doc} OPTIONAL)

  find_program(ONYX_HELP2MAN help2man)
  if(TARGET onyx AND ONYX_HELP2MAN AND NOT CMAKE_CROSSCOMPILING)
    set(onyx_name "diagnose Wellscribe Onyx loggers from a command line")
    set(wellscribe-onyx_name "diagnose a Wellscribe Onyx logger in a window")
    foreach(program onyx wellscribe-onyx)
      set(page ${made}/${program}.1)
      # Found on PATH by its bare name, so that its usage line names it so.
      add_custom_command(
        OUTPUT ${page}.gz
        COMMAND ${CMAKE_COMMAND} -E env "PATH=$<TARGET_FILE_DIR:${program}>:$ENV{PATH}"
                ${ONYX_HELP2MAN} --no-info --no-discard-stderr --name ${${program}_name}
                --include ${packaging}/${program}.h2m --output ${page} ${program}
        COMMAND ${ONYX_GZIP} -9nf ${page}
        DEPENDS ${program} ${packaging}/${program}.h2m
        COMMENT "Making the manual page ${program}(1) with help2man"
        VERBATIM)
      list(APPEND package_files ${page}.gz)
      install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 OPTIONAL)
    endforeach()
  elseif(TARGET onyx)
    message(STATUS "help2man not found: the manual pages onyx(1) and wellscribe-onyx(1) are "
                   "not made (apt-get install help2man)")
  endif()
  add_custom_target(onyx_package_files DEPENDS ${package_files})

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The long description; CPack puts the summary above it.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "Reads a Wellscribe Onyx water-level and temperature logger connected to a
serial port (a USB serial adapter, for example): its information and
self-test, a dump of its memory and a diagnostic report for the service
desk, and the extended time calibration of a batch of loggers. The window
wellscribe-onyx does this by hand, the command onyx on benches and in
scripts.")
endif()
include(CPack)
