// Gives every test executable the locations it needs, whether it is started by
// CTest or by hand: the values come from the build, and a variable that is
// already set in the environment wins.
#include <cstdlib>

namespace {

void setDefault(const char* name, const char* value) {
#ifdef _WIN32
    if (!std::getenv(name))
        _putenv_s(name, value);
#else
    setenv(name, value, 0);
#endif
}

const bool environmentReady = [] {
    setDefault("ZELMOD_TOOL_DIR", ZELMOD_TEST_TOOL_DIR);
    setDefault("ZELMOD_CORPUS_DIR", ZELMOD_TEST_CORPUS_DIR);
    setDefault("ZELMOD_SOURCE_DIR", ZELMOD_TEST_SOURCE_DIR);
    setDefault("QT_QPA_PLATFORM", ZELMOD_TEST_QPA);
    return true;
}();

} // namespace
