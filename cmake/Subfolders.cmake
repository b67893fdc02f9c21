# bq_add_subfolders([EXCEPT name...]): adds every folder below the current one that has a
# CMakeLists.txt, so a new tool, benchmark, test or fuzz target needs no edit here.
function(bq_add_subfolders)
    cmake_parse_arguments(S "" "" "EXCEPT" ${ARGN})
    file(GLOB children LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
    foreach(child IN LISTS children)
        get_filename_component(name ${child} NAME)
        if(IS_DIRECTORY ${child} AND EXISTS ${child}/CMakeLists.txt AND NOT name IN_LIST S_EXCEPT)
            add_subdirectory(${name})
        endif()
    endforeach()
endfunction()
