# zelmod_test_executable(name qpa sources...): a test executable that finds
# the built tool's directory, the corpus and the sources through the
# environment (see support/test_environment.cpp), so that its tests can also
# be run by hand. Used by the program's build and by the Windows build.
function(zelmod_test_executable name qpa)
    cmake_path(GET CMAKE_CURRENT_FUNCTION_LIST_DIR PARENT_PATH source_dir)
    add_executable(${name} ${ARGN} ${source_dir}/tests/support/test_environment.cpp)
    target_compile_definitions(${name} PRIVATE
        ZELMOD_TEST_TOOL_DIR="${ZELMOD_TOOL_DIR}"
        ZELMOD_TEST_CORPUS_DIR="${ZELMOD_CORPUS_DIR}"
        ZELMOD_TEST_SOURCE_DIR="${source_dir}"
        ZELMOD_TEST_QPA="${qpa}")
endfunction()
