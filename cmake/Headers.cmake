# bq_publish_headers(target HEADERS file...)
# What a target may include is what it links. There is no include path into the source tree:
# each library publishes exactly its own headers, by their path from the top of the tree
# ("midi/SysEx.h"), in an include folder of its own in the build that holds links to them, and
# hands that folder on to whatever links it (PUBLIC). A header of a target that is not linked,
# directly or through a PUBLIC link, is not found. A header generated into the build tree is
# published by its path from the top of the build tree. Programs include the headers of their
# own folder by name.
function(bq_publish_headers target)
    cmake_parse_arguments(P "" "" "HEADERS" ${ARGN})
    set(dir ${PROJECT_BINARY_DIR}/include/${target})
    # Made anew at every configure, so that a header that moved or went away leaves nothing.
    file(REMOVE_RECURSE ${dir})
    file(MAKE_DIRECTORY ${dir})
    foreach(header IN LISTS P_HEADERS)
        get_filename_component(source ${header} ABSOLUTE)
        cmake_path(IS_PREFIX PROJECT_BINARY_DIR ${source} NORMALIZE generated)
        if(generated)
            file(RELATIVE_PATH path ${PROJECT_BINARY_DIR} ${source})
        else()
            file(RELATIVE_PATH path ${PROJECT_SOURCE_DIR} ${source})
        endif()
        get_filename_component(folder ${dir}/${path} DIRECTORY)
        file(MAKE_DIRECTORY ${folder})
        file(CREATE_LINK ${source} ${dir}/${path} SYMBOLIC)
    endforeach()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
        target_include_directories(${target} INTERFACE ${dir})
    else()
        target_include_directories(${target} PUBLIC ${dir})
    endif()
endfunction()
