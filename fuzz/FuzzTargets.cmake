# The fuzz targets, their libraries and their seed maker, shared by the
# libFuzzer build (fuzz/CMakeLists.txt) and the program's own build, which
# replays seeds and regression inputs as tests (tests/reliability).
set(ZELMOD_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})
set(ZELMOD_FUZZ_TARGETS fuzz_transform fuzz_mf2t fuzz_t2mf fuzz_amount fuzz_reverse)
set(ZELMOD_FUZZ_LIBS_fuzz_transform zelmod_transform)
set(ZELMOD_FUZZ_LIBS_fuzz_mf2t zelmod_fuzz_support)
set(ZELMOD_FUZZ_LIBS_fuzz_t2mf zelmod_fuzz_support)
set(ZELMOD_FUZZ_LIBS_fuzz_amount zelmod_amount zelmod_fuzz_support)
set(ZELMOD_FUZZ_LIBS_fuzz_reverse zelmod_transform zelmod_fuzz_support)

zelmod_library(zelmod_fuzz_support ${ZELMOD_FUZZ_DIR}/FuzzSupport.cpp)
target_link_libraries(zelmod_fuzz_support PUBLIC zelmod_converters)

# Seeds and dictionaries, made from the program's own tables and converters.
add_executable(make_fuzz_seeds ${ZELMOD_FUZZ_DIR}/make_fuzz_seeds.cpp)
target_link_libraries(make_fuzz_seeds PRIVATE zelmod_converters zelmod_transform)
