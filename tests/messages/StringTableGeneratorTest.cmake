# ctest entry: runs the string-table generator (SCRIPT) on tables written to WORK and checks
# what it makes of them and what it refuses.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(failures "")

# Runs the generator on `content`; sets ok, out (its messages), table and header.
function(generate name content)
    file(WRITE ${WORK}/${name}.tsv "${content}")
    execute_process(
        COMMAND ${CMAKE_COMMAND} -DINPUT=${WORK}/${name}.tsv -DTABLE=${WORK}/${name}.inc
                -DHEADER=${WORK}/${name}.h -P ${SCRIPT}
        RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(result EQUAL 0)
        set(ok TRUE PARENT_SCOPE)
        file(READ ${WORK}/${name}.inc table)
        file(READ ${WORK}/${name}.h header)
        set(table "${table}" PARENT_SCOPE)
        set(header "${header}" PARENT_SCOPE)
    else()
        set(ok FALSE PARENT_SCOPE)
    endif()
    set(out "${out}${err}" PARENT_SCOPE)
endfunction()

# expect(what condition...): records `what` when the condition does not hold.
macro(expect what)
    if(NOT (${ARGN}))
        list(APPEND failures "${what}")
    endif()
endmacro()

function(expect_contains text part what)
    string(FIND "${text}" "${part}" at)
    if(at EQUAL -1)
        list(APPEND failures "${what}: no \"${part}\" in:\n${text}")
        set(failures "${failures}" PARENT_SCOPE)
    endif()
endfunction()

# A good table: comments and blank lines are skipped, quotes escaped, "\n" kept as written.
generate(good "# comment\n\n7\tFirst\tOne \"quoted\" word\n65535\tSecond\tTwo\\nlines\n")
expect("a good table is refused: ${out}" ok)
if(ok)
    expect_contains("${header}" "enum class StringId : int {" "header")
    expect_contains("${header}" "    First = 7,\n    Second = 65535,\n" "header")
    expect_contains("${table}" "{StringId::First, \"One \\\"quoted\\\" word\"},\n" "table")
    expect_contains("${table}" "{StringId::Second, \"Two\\nlines\"},\n" "table")
endif()

generate(twice_number "7\tFirst\tOne\n7\tSecond\tTwo\n")
expect("a number that is there twice is taken" NOT ok)
expect_contains("${out}" "number 7 is there twice" "message of a number there twice")

generate(twice_name "7\tFirst\tOne\n8\tFirst\tTwo\n")
expect("a name that is there twice is taken" NOT ok)
expect_contains("${out}" "name First is there twice" "message of a name there twice")

generate(no_name "7\tOne\n")
expect("a line without a name is taken" NOT ok)

generate(bad_name "7\tfirst\tOne\n")
expect("a name that is no enumerator of ours is taken" NOT ok)

generate(no_number "First\tOne\n")
expect("a line without a number is taken" NOT ok)

if(failures)
    list(JOIN failures "\n  " text)
    message(FATAL_ERROR "string table generator:\n  ${text}")
endif()
message(STATUS "string table generator ok")
