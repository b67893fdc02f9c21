# ctest entry: checks the layering of the tree at ROOT.
include(${CMAKE_CURRENT_LIST_DIR}/Layers.cmake)
bq_check_layers(${ROOT})
message(STATUS "layers ok")
