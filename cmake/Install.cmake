# Installing like any Linux program: GNUInstallDirs paths below CMAKE_INSTALL_PREFIX (default
# /usr/local), DESTDIR honoured by `cmake --install`. Each installed program brings its manual
# page, and a command-line program its bash completion, both made by the build from the
# program's own option table (tools/cli/), so that they say what --help says.
include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The desktop entry, the AppStream file, the icon and the MIME type share this name.
set(BQ_APP_ID org.bankquill.Bankquill)
set(BQ_MANUAL_DATE "December 2026")
set(BQ_DOCS_DIR ${PROJECT_BINARY_DIR}/docs)

# bq_install_program(TARGET MANUAL page.1.in [COMPLETION])
# Installs the program into bin/ with its manual page, made from the template: @OPTIONS@ is
# the program's `--manual-options`, @DATADIR@ where the demo file lands, @VERSION@ and @DATE@.
# COMPLETION also installs the bash completion of `--bash-completion`.
function(bq_install_program target)
    cmake_parse_arguments(P "COMPLETION" "MANUAL" "" ${ARGN})
    get_target_property(name ${target} OUTPUT_NAME)
    if(NOT name)
        set(name ${target})
    endif()
    install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

    set(page ${BQ_DOCS_DIR}/man1/${name}.1.gz)
    get_filename_component(template ${P_MANUAL} ABSOLUTE)
    add_custom_command(OUTPUT ${page}
        COMMAND ${CMAKE_COMMAND} -DMODE=manual -DPROGRAM=$<TARGET_FILE:${target}>
                -DTEMPLATE=${template} -DOUTPUT=${page}
                -DDATADIR=${CMAKE_INSTALL_FULL_DATADIR} -DVERSION=${PROJECT_VERSION}
                "-DDATE=${BQ_MANUAL_DATE}" -P ${PROJECT_SOURCE_DIR}/cmake/ProgramDocs.cmake
        DEPENDS ${target} ${template} ${PROJECT_SOURCE_DIR}/cmake/ProgramDocs.cmake
        COMMENT "Writing the manual page of ${name}")
    set(outputs ${page})
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

    if(P_COMPLETION)
        set(completion ${BQ_DOCS_DIR}/completions/${name})
        add_custom_command(OUTPUT ${completion}
            COMMAND ${CMAKE_COMMAND} -DMODE=completion -DPROGRAM=$<TARGET_FILE:${target}>
                    -DOUTPUT=${completion} -P ${PROJECT_SOURCE_DIR}/cmake/ProgramDocs.cmake
            DEPENDS ${target} ${PROJECT_SOURCE_DIR}/cmake/ProgramDocs.cmake
            COMMENT "Writing the bash completion of ${name}")
        list(APPEND outputs ${completion})
        install(FILES ${completion} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
    endif()
    add_custom_target(${target}_docs ALL DEPENDS ${outputs})
endfunction()
