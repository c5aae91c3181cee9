# The shift amount: plain C++ without Qt, shared by the window, the job, the
# command-line front end, the fuzz target and the Windows build.
add_library(zelmod_amount STATIC ${CMAKE_CURRENT_LIST_DIR}/ShiftAmount.cpp)
target_include_directories(zelmod_amount PUBLIC ${CMAKE_CURRENT_LIST_DIR})
