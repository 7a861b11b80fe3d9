# Renders the manual page with groff and fails on any warning or a missing section.
# Without groff the check cannot run: it says SKIPPED, which CTest reports as skipped.
# Arguments: MANPAGE.
cmake_minimum_required(VERSION 3.25)

find_program(GROFF groff)
if(NOT GROFF)
  message("SKIPPED: groff is not installed (Debian package groff-base), so ${MANPAGE} was not rendered")
  return()
endif()
execute_process(COMMAND ${GROFF} -man -Tutf8 -ww -P-cbou "${MANPAGE}" RESULT_VARIABLE rc
                OUTPUT_VARIABLE page ERROR_VARIABLE warnings)
if(NOT rc EQUAL 0 OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "groff -man ${MANPAGE}: ${rc} ${warnings}")
endif()
foreach(section NAME SYNOPSIS OPTIONS "EXIT STATUS")
  if(NOT page MATCHES "\n${section}\n")
    message(FATAL_ERROR "the manual page has no ${section} section")
  endif()
endforeach()
message(STATUS "${MANPAGE} renders without warnings")
