# Installs the build in BUILD_DIR into PREFIX and checks what a user's system gets:
# the programs, the help where the program looks for it, the icon in every size,
# a valid desktop entry and the manual page.
# Arguments: BUILD_DIR, PREFIX, SOURCE_DIR, HELP_RELATIVE_DIR.
cmake_minimum_required(VERSION 3.25)

set(failures "")
macro(fail text)
  list(APPEND failures "${text}")
endmacro()

file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${rc}):\n${out}\n${err}")
endif()

foreach(program orvane orvane-extract)
  if(NOT EXISTS "${PREFIX}/bin/${program}" OR IS_DIRECTORY "${PREFIX}/bin/${program}")
    fail("missing program bin/${program}")
  endif()
endforeach()

# Every help page of the source, in the folder the installed program looks in.
cmake_path(ABSOLUTE_PATH HELP_RELATIVE_DIR BASE_DIRECTORY "${PREFIX}/bin" NORMALIZE
           OUTPUT_VARIABLE help_dir)
if(NOT help_dir STREQUAL "${PREFIX}/share/orvane/help")
  fail("the program looks for its help in ${help_dir}, not in share/orvane/help")
endif()
file(GLOB pages RELATIVE "${SOURCE_DIR}/res/help" "${SOURCE_DIR}/res/help/*")
list(LENGTH pages page_count)
if(page_count LESS 7)
  fail("only ${page_count} help files in the source")
endif()
foreach(page Introduction.htm ${pages})
  if(NOT EXISTS "${help_dir}/${page}")
    fail("missing help page ${help_dir}/${page}")
  endif()
endforeach()

# The icon: scalable, and each PNG size where icon themes look for it, of that size.
if(NOT EXISTS "${PREFIX}/share/icons/hicolor/scalable/apps/orvane.svg")
  fail("missing share/icons/hicolor/scalable/apps/orvane.svg")
endif()
foreach(size 16 32 48 64 128 256)
  set(png "${PREFIX}/share/icons/hicolor/${size}x${size}/apps/orvane.png")
  if(NOT EXISTS "${png}")
    fail("missing ${png}")
    continue()
  endif()
  file(READ "${png}" header LIMIT 24 HEX)
  string(SUBSTRING "${header}" 0 16 signature)
  string(SUBSTRING "${header}" 32 8 width_hex)
  string(SUBSTRING "${header}" 40 8 height_hex)
  math(EXPR width "0x${width_hex}")
  math(EXPR height "0x${height_hex}")
  if(NOT signature STREQUAL "89504e470d0a1a0a" OR NOT width EQUAL size OR NOT height EQUAL size)
    fail("${png} is not a ${size}x${size} PNG (${width}x${height})")
  endif()
endforeach()

# The desktop entry: valid, starting the installed program, offering it for media files.
set(entry "${PREFIX}/share/applications/orvane.desktop")
if(NOT EXISTS "${entry}")
  fail("missing share/applications/orvane.desktop")
else()
  find_program(VALIDATE desktop-file-validate REQUIRED)
  execute_process(COMMAND ${VALIDATE} "${entry}" RESULT_VARIABLE rc OUTPUT_VARIABLE out
                  ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT "${out}${err}" STREQUAL "")
    fail("desktop-file-validate ${entry}: ${out}${err}")
  endif()
  file(READ "${entry}" content)
  set(content "\n${content}\n")
  foreach(expected "Name=Orvane" "Exec=orvane %f" "Icon=orvane" "Type=Application"
                   "Categories=AudioVideo;Audio;Video;")
    string(FIND "${content}" "\n${expected}\n" at)
    if(at EQUAL -1)
      fail("the desktop entry lacks the line ${expected}")
    endif()
  endforeach()
  string(REGEX MATCH "\nMimeType=([^\n]*)" found "${content}")
  set(mime_types "${CMAKE_MATCH_1}")
  foreach(type video/mpeg video/mp4 video/x-matroska video/webm video/quicktime
               video/x-msvideo video/x-ms-wmv audio/mpeg audio/mp4 audio/aac audio/ac3
               audio/flac audio/ogg audio/x-wav audio/x-vorbis+ogg)
    if(NOT type IN_LIST mime_types)
      fail("the desktop entry does not offer Orvane for ${type}")
    endif()
  endforeach()
endif()

# The manual page: present, and the same bytes as the page ManPageCheck.cmake renders.
set(manpage "${PREFIX}/share/man/man1/orvane-extract.1")
if(NOT EXISTS "${manpage}")
  fail("missing share/man/man1/orvane-extract.1")
else()
  file(SHA256 "${manpage}" installed)
  file(SHA256 "${SOURCE_DIR}/docs/orvane-extract.1" source)
  if(NOT installed STREQUAL source)
    fail("${manpage} differs from docs/orvane-extract.1")
  endif()
endif()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "The installation in ${PREFIX} is incomplete:\n  ${text}")
endif()
message(STATUS "installation in ${PREFIX} is complete")
