# ctest entry: the desktop program PROGRAM holds none of the loopback MIDI services, the double
# that only tests and benchmarks link. NM lists its symbols.
execute_process(COMMAND ${NM} -C ${PROGRAM} RESULT_VARIABLE status OUTPUT_VARIABLE symbols
                ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} could not list the symbols of ${PROGRAM}: ${errors}")
endif()
# The main window shows that these are the program's symbols, not an empty list.
if(NOT symbols MATCHES "CMainFrame::")
    message(FATAL_ERROR "${PROGRAM} lists no CMainFrame symbol: not the desktop program?")
endif()
string(REGEX MATCHALL "[^\n]*[Ll][Oo][Oo][Pp][Bb][Aa][Cc][Kk][^\n]*" found "${symbols}")
if(found)
    list(LENGTH found count)
    list(SUBLIST found 0 5 first)
    list(JOIN first "\n  " text)
    message(FATAL_ERROR "${PROGRAM} holds ${count} loopback symbols, such as:\n  ${text}")
endif()
message(STATUS "no loopback symbol in ${PROGRAM}")
