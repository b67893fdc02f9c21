# res/strings.tsv holds a line per string: its number, its name and its text, separated by
# tabs. At build time this script turns it into the table of texts (an include file of entries)
# and the header that names every number (enum class bq::StringId), so that code says
# StringId::TransferError and the number is written down once, in the file.
#
# Included by the project: bq_generate_string_table(input table header) adds the build step.
# Run with cmake -DINPUT=... -DTABLE=... -DHEADER=... -P Strings.cmake: generates the two files.

set(BQ_STRINGS_SCRIPT ${CMAKE_CURRENT_LIST_FILE})

function(bq_generate_string_table input table header)
    add_custom_command(
        OUTPUT ${table} ${header}
        COMMAND ${CMAKE_COMMAND} -DINPUT=${input} -DTABLE=${table} -DHEADER=${header}
                -P ${BQ_STRINGS_SCRIPT}
        DEPENDS ${input} ${BQ_STRINGS_SCRIPT}
        COMMENT "Generating the string table and StringId from ${input}"
        VERBATIM)
endfunction()

if(NOT CMAKE_SCRIPT_MODE_FILE)
    return()
endif()
cmake_minimum_required(VERSION 3.25)

foreach(var INPUT TABLE HEADER)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "Strings.cmake: ${var} is not set")
    endif()
endforeach()

file(STRINGS ${INPUT} lines ENCODING UTF-8)
set(ids "")
set(names "")
set(table "")
set(enumerators "")
foreach(line IN LISTS lines)
    if(line MATCHES "^#" OR line STREQUAL "")
        continue()
    endif()
    if(NOT line MATCHES "^([0-9]+)\t([A-Z][A-Za-z0-9]*)\t(.*)$")
        message(FATAL_ERROR "${INPUT}: not \"number<TAB>Name<TAB>text\": ${line}")
    endif()
    set(id ${CMAKE_MATCH_1})
    set(name ${CMAKE_MATCH_2})
    set(text "${CMAKE_MATCH_3}")
    if(id IN_LIST ids)
        message(FATAL_ERROR "${INPUT}: number ${id} is there twice")
    endif()
    if(name IN_LIST names)
        message(FATAL_ERROR "${INPUT}: name ${name} is there twice")
    endif()
    list(APPEND ids ${id})
    list(APPEND names ${name})
    string(REPLACE "\"" "\\\"" text "${text}")
    string(APPEND table "    {StringId::${name}, \"${text}\"},\n")
    string(APPEND enumerators "    ${name} = ${id},\n")
endforeach()

# Written only when they change, so that an edit of one text recompiles only the table.
file(CONFIGURE OUTPUT ${TABLE} @ONLY CONTENT "// Generated from res/strings.tsv.\n${table}")
file(CONFIGURE OUTPUT ${HEADER} @ONLY CONTENT "// Generated from res/strings.tsv.
#pragma once

namespace bq {

// The numbers of the string table by name.
enum class StringId : int {
${enumerators}};

}  // namespace bq
")
