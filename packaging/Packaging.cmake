# The Debian package: `cpack -G DEB` in a build folder; scripts/package.sh makes it from a
# Release build. Besides what `cmake --install` installs it carries the copyright notice,
# the changelog of this release (made from CHANGELOG.md) and lintian's overrides.
#
# Sets ORVANE_RELEASE_DATE (YYYY-MM-DD) for the AppStream release.

set(ORVANE_PACKAGE_MAINTAINER "Orvane maintainers <maintainers@orvane.example.org>"
    CACHE STRING "Maintainer field of the Debian package and its changelog")

# This version's section of CHANGELOG.md, "## [VERSION] - YYYY-MM-DD" up to the next "## ".
# A release without a dated section there would ship a package that says nothing of it.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md)
file(READ ${PROJECT_SOURCE_DIR}/CHANGELOG.md changelog)
string(FIND "${changelog}" "\n## [${PROJECT_VERSION}] - " section_start)
if(section_start EQUAL -1)
  message(FATAL_ERROR "CHANGELOG.md has no section \"## [${PROJECT_VERSION}] - YYYY-MM-DD\"")
endif()
math(EXPR section_start "${section_start} + 1")
string(SUBSTRING "${changelog}" ${section_start} -1 section)
string(FIND "${section}" "\n## " section_end)
string(SUBSTRING "${section}" 0 ${section_end} section)
if(NOT section MATCHES "^## \\[[^]]*\\] - ([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])\n")
  message(FATAL_ERROR "CHANGELOG.md: the section of ${PROJECT_VERSION} has no date YYYY-MM-DD")
endif()
# "1" + digits - 100 reads "08" as eight rather than as a bad octal number.
math(EXPR year "${CMAKE_MATCH_1}")
math(EXPR month "1${CMAKE_MATCH_2} - 100")
math(EXPR day "1${CMAKE_MATCH_3} - 100")
set(ORVANE_RELEASE_DATE "${CMAKE_MATCH_1}-${CMAKE_MATCH_2}-${CMAKE_MATCH_3}")
set(day_text "${CMAKE_MATCH_3}")

# The day of the week for the Debian date: days since 1970-01-01 (a Thursday), counted in
# 400-year eras of years that start in March.
set(y ${year})
if(month LESS_EQUAL 2)
  math(EXPR y "${year} - 1")
endif()
math(EXPR year_of_era "${y} % 400")
math(EXPR day_of_year "(153 * ((${month} + 9) % 12) + 2) / 5 + ${day} - 1")
math(EXPR days "(${y} / 400) * 146097 + ${year_of_era} * 365 + ${year_of_era} / 4 - ${year_of_era} / 100 + ${day_of_year} - 719468")
math(EXPR weekday "(${days} + 4) % 7")
set(weekday_names Sun Mon Tue Wed Thu Fri Sat)
list(GET weekday_names ${weekday} weekday_name)
set(month_names Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
math(EXPR month_index "${month} - 1")
list(GET month_names ${month_index} month_name)

# The section in Debian's changelog form: "### Added" becomes "  [ Added ]", each "- entry"
# (with its continuation lines) one "  * entry", wrapped at 80 columns.
# Semicolons and brackets would split or bind CMake list items: they travel as markers.
string(REPLACE ";" "<semicolon>" section "${section}")
string(REPLACE "[" "<open>" section "${section}")
string(REPLACE "]" "<close>" section "${section}")
string(REPLACE "\n" ";" lines "${section}")
list(POP_FRONT lines)
set(entries "")
foreach(line IN LISTS lines)
  if(line MATCHES "^### (.*)")
    list(APPEND entries "=<open> ${CMAKE_MATCH_1} <close>")
  elseif(line MATCHES "^[-*] (.*)")
    list(APPEND entries "*${CMAKE_MATCH_1}")
  elseif(line MATCHES "^ +(.*)" AND entries)
    list(POP_BACK entries last)
    list(APPEND entries "${last} ${CMAKE_MATCH_1}")
  endif()
endforeach()
set(body "")
foreach(entry IN LISTS entries)
  string(SUBSTRING "${entry}" 0 1 kind)
  string(SUBSTRING "${entry}" 1 -1 text)
  if(kind STREQUAL "=")
    if(NOT body STREQUAL "")
      string(APPEND body "\n")
    endif()
    string(APPEND body "  ${text}\n")
    continue()
  endif()
  string(REPLACE " " ";" words "${text}")
  set(current "  *")
  foreach(word IN LISTS words)
    string(REGEX REPLACE "<(semicolon|open|close)>" "x" shown "${current} ${word}")
    string(LENGTH "${shown}" width)
    if(width GREATER 80 AND NOT current MATCHES "^ +\\*?$")
      string(APPEND body "${current}\n")
      set(current "   ")
    endif()
    string(APPEND current " ${word}")
  endforeach()
  string(APPEND body "${current}\n")
endforeach()
string(REPLACE "<semicolon>" ";" body "${body}")
string(REPLACE "<open>" "[" body "${body}")
string(REPLACE "<close>" "]" body "${body}")
set(debian_changelog "${PROJECT_BINARY_DIR}/packaging/changelog")
file(WRITE "${debian_changelog}"
  "orvane (${PROJECT_VERSION}) stable; urgency=medium\n\n${body}\n"
  " -- ${ORVANE_PACKAGE_MAINTAINER}  ${weekday_name}, ${day_text} ${month_name} ${year} 12:00:00 +0000\n")

# Debian keeps changelogs compressed; -n leaves out the name and time, so the bytes
# depend only on the text.
add_custom_command(OUTPUT "${debian_changelog}.gz"
  COMMAND gzip -n -9 -f -k "${debian_changelog}"
  DEPENDS "${debian_changelog}" VERBATIM)
add_custom_target(orvane_changelog ALL DEPENDS "${debian_changelog}.gz")
# Files only the Debian package carries: `cmake --install` leaves them out
# (EXCLUDE_FROM_ALL), the package takes them in with the component "deb".
install(FILES "${debian_changelog}.gz" ${CMAKE_CURRENT_LIST_DIR}/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/orvane COMPONENT deb EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/lintian-overrides RENAME orvane
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides COMPONENT deb EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
# One package of every component: the install rules without one ("Unspecified") and "deb".
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Unspecified deb)
set(CPACK_PACKAGE_NAME orvane)
set(CPACK_PACKAGE_VENDOR Vantorel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ORVANE_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${PROJECT_HOMEPAGE_URL}")
# The libraries the programs link come from dpkg-shlibdeps, in the versions this build used.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's own translations put the standard buttons and the file dialogs in the user's
# language too; without them those stay English.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-translations-l10n)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "sound track extractor: saves audio of videos as WAV")
# CPack puts the summary in front of this text.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Orvane takes the sound track out of a video or audio file and saves it
as an uncompressed PCM WAV file, in the stream's own sample rate and
channel count. Open a media file, watch and hear it in the preview, set
a start mark and an end mark from the playing position and convert; a
conversion can be stopped at any time and still leaves a valid WAV file.
.
The command orvane-extract does the same conversion from a terminal,
for scripts and batch work. Decoding is done by the FFmpeg libraries,
the preview by libmpv.")
# Directories the package creates get the usual modes whatever the builder's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
