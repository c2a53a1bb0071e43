# Makes the Windows icon from the program's SVG icon, at build time:
#   cmake -DSVG=icon.svg -DICO=icon.ico -DWORK=folder -P MakeIcon.cmake
# rsvg-convert (librsvg2-bin) draws each size, icotool (icoutils) packs them; the
# 256-pixel image is stored as PNG, as Windows expects at that size.
foreach(tool rsvg-convert icotool)
  find_program(tool_${tool} ${tool} REQUIRED)
endforeach()
file(MAKE_DIRECTORY ${WORK})
set(images)
foreach(size 16 20 24 32 40 48 64 96 128)
  set(png ${WORK}/icon-${size}.png)
  execute_process(COMMAND ${tool_rsvg-convert} -w ${size} -h ${size} -o ${png} ${SVG}
                  COMMAND_ERROR_IS_FATAL ANY)
  list(APPEND images ${png})
endforeach()
execute_process(COMMAND ${tool_rsvg-convert} -w 256 -h 256 -o ${WORK}/icon-256.png ${SVG}
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${tool_icotool} -c -o ${ICO} ${images} -r ${WORK}/icon-256.png
                COMMAND_ERROR_IS_FATAL ANY)
