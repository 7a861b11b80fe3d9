# Installs the build in BUILD_DIR into PREFIX and checks what a user's system gets:
# the programs, the help where the program looks for it, the icon in every size,
# a valid desktop entry, valid software-centre metadata offering the same media types,
# manual pages that render and name this version, and the translations where the
# program looks for them.
# Arguments: BUILD_DIR, PREFIX, SOURCE_DIR, HELP_RELATIVE_DIR, TRANSLATIONS_RELATIVE_DIR,
# VERSION.
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
  # Every kind of file the engine's tests convert.
  foreach(type video/mpeg video/mp2t video/mp4 video/x-matroska video/webm video/quicktime
               video/x-msvideo video/x-ms-wmv audio/mpeg audio/mp2 audio/mp4 audio/aac
               audio/ac3 audio/flac audio/ogg audio/x-wav audio/x-vorbis+ogg
               audio/x-opus+ogg audio/x-aiff audio/x-ms-wma)
    if(NOT type IN_LIST mime_types)
      fail("the desktop entry does not offer Orvane for ${type}")
    endif()
  endforeach()
endif()

# The software-centre metadata: valid, launching this desktop entry, and offering Orvane for
# the same media types as the entry.
file(GLOB metainfo "${PREFIX}/share/metainfo/*.metainfo.xml")
list(LENGTH metainfo metainfo_count)
if(NOT metainfo_count EQUAL 1)
  fail("share/metainfo holds ${metainfo_count} metainfo files, not one")
else()
  find_program(APPSTREAMCLI appstreamcli REQUIRED)
  execute_process(COMMAND ${APPSTREAMCLI} validate --no-net "${metainfo}" RESULT_VARIABLE rc
                  OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    fail("appstreamcli validate ${metainfo}: ${out}${err}")
  endif()
  file(READ "${metainfo}" xml)
  if(NOT xml MATCHES "<launchable type=\"desktop-id\">orvane.desktop</launchable>")
    fail("the metainfo does not launch orvane.desktop")
  endif()
  if(NOT xml MATCHES "<release version=\"${VERSION}\" date=\"[0-9]+-[0-9]+-[0-9]+\"")
    fail("the metainfo has no dated release ${VERSION}")
  endif()
  string(REGEX MATCHALL "<mediatype>[^<]*</mediatype>" tags "${xml}")
  string(REGEX REPLACE "</?mediatype>" "" offered "${tags}")
  list(REMOVE_ITEM mime_types "")
  if(NOT offered STREQUAL mime_types)
    list(JOIN offered " " offered)
    list(JOIN mime_types " " mime_types)
    fail("the metainfo offers [${offered}], the desktop entry [${mime_types}]")
  endif()
endif()

# The manual pages: compressed as man reads them, naming this version, and rendering
# without a single groff warning.
find_program(GROFF groff REQUIRED)
foreach(page orvane orvane-extract)
  set(manpage "${PREFIX}/share/man/man1/${page}.1.gz")
  if(NOT EXISTS "${manpage}")
    fail("missing share/man/man1/${page}.1.gz")
    continue()
  endif()
  execute_process(COMMAND gzip -dc "${manpage}" OUTPUT_VARIABLE source RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT source MATCHES "\n\\.TH [^\n]*\"Orvane ${VERSION}\"")
    fail("${manpage} does not name Orvane ${VERSION} in its .TH line")
  endif()
  execute_process(COMMAND gzip -dc "${manpage}"
                  COMMAND ${GROFF} -man -Tutf8 -ww -P-cbou RESULT_VARIABLE rc
                  OUTPUT_VARIABLE text ERROR_VARIABLE warnings)
  if(NOT rc EQUAL 0 OR NOT warnings STREQUAL "")
    fail("groff -man ${manpage}: ${rc} ${warnings}")
  endif()
  foreach(section NAME SYNOPSIS OPTIONS "EXIT STATUS")
    if(NOT text MATCHES "${section}")
      fail("the manual page ${page}(1) has no ${section} section")
    endif()
  endforeach()
  if(page STREQUAL "orvane" AND NOT text MATCHES "FILES.*orvane.ini.*share/orvane/help")
    fail("orvane(1) does not name the settings file and the help folder under FILES")
  endif()
endforeach()

# The translation template: every text the dialog shows, for translators to start from.
set(template "${PREFIX}/share/orvane/translations/orvane.ts")
if(NOT EXISTS "${template}")
  fail("missing share/orvane/translations/orvane.ts")
else()
  file(READ "${template}" ts)
  foreach(text "Open Media File" "Can not get My Music directory!" "Opening %1…"
          "The Start Time is bigger than the End Time!" "Full screen")
    string(FIND "${ts}" "<source>${text}</source>" at)
    if(at EQUAL -1)
      fail("the translation template lacks \"${text}\"")
    endif()
  endforeach()
endif()

# Every translation kept in the source, compiled, in the folder the installed program
# looks in.
cmake_path(ABSOLUTE_PATH TRANSLATIONS_RELATIVE_DIR BASE_DIRECTORY "${PREFIX}/bin" NORMALIZE
           OUTPUT_VARIABLE translations_dir)
if(NOT translations_dir STREQUAL "${PREFIX}/share/orvane/translations")
  fail("the program looks for its translations in ${translations_dir}")
endif()
file(GLOB languages RELATIVE "${SOURCE_DIR}/res/translations"
     "${SOURCE_DIR}/res/translations/orvane_*.ts")
if(NOT languages)
  fail("no translation in the source")
endif()
foreach(ts ${languages})
  string(REGEX REPLACE "\\.ts$" ".qm" qm "${ts}")
  if(NOT EXISTS "${translations_dir}/${qm}")
    fail("missing translation ${translations_dir}/${qm}")
  endif()
endforeach()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "The installation in ${PREFIX} is incomplete:\n  ${text}")
endif()
message(STATUS "installation in ${PREFIX} is complete")
