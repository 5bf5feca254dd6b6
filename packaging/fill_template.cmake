# Fills one of the packaging's templates at build time: the formats from the
# format table (as pw_format_lists wrote them), the version, and the date of
# the latest release from the changelog.
#   cmake -DFORMATS=formats.cmake -DCHANGELOG=changelog -DVERSION=1.0
#         -DMETAINFO_ID=id -DTEMPLATE=in -DOUTPUT=out -P fill_template.cmake
include(${FORMATS})

# "A, B and C", or with another last word.
function(pw_spoken_list out last_word)
  set(items ${ARGN})
  list(POP_BACK items last)
  if(items)
    list(JOIN items ", " spoken)
    set(${out} "${spoken} ${last_word} ${last}" PARENT_SCOPE)
  else()
    set(${out} "${last}" PARENT_SCOPE)
  endif()
endfunction()

set(written_names)
set(METAINFO_MEDIA_TYPES)
set(FORMAT_ITEMS)
foreach(name media_type extensions written IN ZIP_LISTS
        PW_FORMAT_NAMES PW_FORMAT_MEDIA_TYPES PW_FORMAT_EXTENSIONS PW_FORMAT_WRITTEN)
  if(written)
    list(APPEND written_names ${name})
    set(use "opened and saved")
  else()
    set(use "opened only")
  endif()
  string(APPEND METAINFO_MEDIA_TYPES "    <mediatype>${media_type}</mediatype>\n")
  # A manual page entry: the name, then its file names.
  string(REPLACE " " ", *." patterns "*.${extensions}")
  string(APPEND FORMAT_ITEMS ".TP\n.B ${name}\n${patterns}: ${use}.\n")
endforeach()
string(STRIP "${METAINFO_MEDIA_TYPES}" METAINFO_MEDIA_TYPES)
string(PREPEND METAINFO_MEDIA_TYPES "    ")
string(STRIP "${FORMAT_ITEMS}" FORMAT_ITEMS)
list(JOIN PW_FORMAT_MEDIA_TYPES ";" DESKTOP_MEDIA_TYPES)
string(APPEND DESKTOP_MEDIA_TYPES ";")
pw_spoken_list(READ_FORMATS and ${PW_FORMAT_NAMES})
pw_spoken_list(WRITTEN_FORMATS or ${written_names})

# The trailer of the first entry: " -- Name <address>  Mon, 07 Dec 2026 12:00:00 +0000".
file(STRINGS ${CHANGELOG} trailers REGEX "^ -- ")
list(GET trailers 0 trailer)
if(NOT trailer MATCHES ", ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
  message(FATAL_ERROR "${CHANGELOG}: no date in its first entry's trailer: ${trailer}")
endif()
set(day ${CMAKE_MATCH_1})
set(year ${CMAKE_MATCH_3})
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND months ${CMAKE_MATCH_2} month)
if(month LESS 0)
  message(FATAL_ERROR "${CHANGELOG}: no month is named ${CMAKE_MATCH_2}")
endif()
math(EXPR month "${month} + 1")
if(month LESS 10)
  set(month 0${month})
endif()
set(RELEASE_DATE ${year}-${month}-${day})

configure_file(${TEMPLATE} ${OUTPUT} @ONLY)
