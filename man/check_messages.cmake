# Fails unless the manual page PAGE shows every message the program
# SOURCE prints: the text of each string literal passed to printf or to
# fprintf(stderr, ...), and libpng's prefixes for its own messages.
#
#   cmake -DGROFF=groff -DPAGE=man/pixtab.1 -DSOURCE=pixtab.cpp -P this-file
#
# A conversion such as %s stands for text that varies, so the pieces of a
# message on either side of it are looked for separately, as is each line
# of a message.  The page is rendered as plain text on very long lines
# without hyphenation, and any run of white space in it or in a message
# counts as one space.

cmake_minimum_required(VERSION 3.16)

foreach(var GROFF PAGE SOURCE)
  if(NOT ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

execute_process(
  COMMAND ${GROFF} -man -Tascii -P-c -P-b -P-u -rLL=1000n -rHY=0 ${PAGE}
  OUTPUT_VARIABLE page_text
  ERROR_VARIABLE groff_errors
  RESULT_VARIABLE groff_status)
if(NOT groff_status EQUAL 0)
  message(FATAL_ERROR "groff failed on ${PAGE}: ${groff_errors}")
endif()
string(REGEX REPLACE "[ \t\r\n]+" " " page_text "${page_text}")

file(READ ${SOURCE} source_text)

# The message pieces, separated by newlines.  Strings are walked with
# string(FIND) rather than CMake lists, whose handling of ';', '[' and ']'
# would garble some texts.
set(pieces "libpng error:\nlibpng warning:\n")
set(calls_found 0)
set(literal_regex "\"([^\"\\\\]|\\\\.)*\"")
set(arguments_regex "([^;\"]|${literal_regex})*\\)")
set(call_regex "(^|[^A-Za-z0-9_])printf\\(${arguments_regex}")
string(APPEND call_regex "|fprintf\\([ \t\n]*stderr[ \t\n]*,${arguments_regex}")
set(rest "${source_text}")
while(TRUE)
  string(REGEX MATCH "${call_regex}" call "${rest}")
  if(call STREQUAL "")
    break()
  endif()
  math(EXPR calls_found "${calls_found} + 1")
  string(FIND "${rest}" "${call}" at)
  string(LENGTH "${call}" call_length)
  math(EXPR at "${at} + ${call_length}")
  string(SUBSTRING "${rest}" ${at} -1 rest)

  # Adjacent literals form one string, as in C.
  set(format "")
  while(TRUE)
    string(REGEX MATCH "${literal_regex}" literal "${call}")
    if(literal STREQUAL "")
      break()
    endif()
    string(FIND "${call}" "${literal}" at)
    string(LENGTH "${literal}" literal_length)
    math(EXPR at "${at} + ${literal_length}")
    string(SUBSTRING "${call}" ${at} -1 call)
    math(EXPR literal_length "${literal_length} - 2")
    string(SUBSTRING "${literal}" 1 ${literal_length} literal)
    string(APPEND format "${literal}")
  endwhile()

  # Line ends and conversions split a message into pieces.
  string(REPLACE "%%" "%" format "${format}")
  string(REGEX REPLACE "%[-+ #0-9.*]*(hh|h|ll|l|j|z|t|L)?[a-zA-Z]" "\n" format "${format}")
  string(REPLACE "\\n" "\n" format "${format}")
  string(REPLACE "\\\"" "\"" format "${format}")
  string(REPLACE "\\'" "'" format "${format}")
  string(REPLACE "\\\\" "\\" format "${format}")
  string(APPEND pieces "${format}\n")
endwhile()

if(calls_found EQUAL 0)
  message(FATAL_ERROR "no printf or fprintf(stderr, ...) call found in ${SOURCE}")
endif()

set(missing "")
while(NOT pieces STREQUAL "")
  string(FIND "${pieces}" "\n" at)
  string(SUBSTRING "${pieces}" 0 ${at} piece)
  math(EXPR at "${at} + 1")
  string(SUBSTRING "${pieces}" ${at} -1 pieces)
  string(REGEX REPLACE "[ \t]+" " " piece "${piece}")
  string(STRIP "${piece}" piece)
  if(NOT piece STREQUAL "")
    string(FIND "${page_text}" "${piece}" found)
    if(found EQUAL -1)
      string(APPEND missing "  ${piece}\n")
    endif()
  endif()
endwhile()

if(NOT missing STREQUAL "")
  message(FATAL_ERROR "${PAGE} does not show these message texts:\n${missing}")
endif()
