# Settings shared by the program's build, the Windows cross-build (windows/)
# and the libFuzzer build (fuzz/): the language, the warnings, where the
# sources are, and how a program joins the tool's directory.
cmake_path(GET CMAKE_CURRENT_LIST_DIR PARENT_PATH ZELMOD_SOURCE_DIR)

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)

option(ZELMOD_WERROR "Treat compiler warnings as errors" OFF)
if(MSVC)
    add_compile_options(/W4 /utf-8)
    if(ZELMOD_WERROR)
        add_compile_options(/WX)
    endif()
else()
    add_compile_options(-Wall -Wextra -Wpedantic)
    if(ZELMOD_WERROR)
        add_compile_options(-Werror)
    endif()
endif()

# Every library names its headers from the top of the tree
# ("job/ConversionJob.h"), so an include says where the header lives.
function(zelmod_library target)
    add_library(${target} STATIC ${ARGN})
    target_include_directories(${target} PUBLIC ${ZELMOD_SOURCE_DIR})
endfunction()

# A program of the tool's directory: the window, the two converters and the
# command-line front end land in one folder when ZELMOD_TOOL_DIR is set.
function(zelmod_tool_executable target)
    if(ZELMOD_TOOL_DIR)
        set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${ZELMOD_TOOL_DIR}")
    endif()
    if(TARGET zelmod_tool)
        add_dependencies(zelmod_tool ${target})
    endif()
endfunction()
