// Any text given to t2mf: a refusal is a clean one-line error, and whatever
// it takes makes a file that mf2t reads and that then stays the same through
// text and back.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/FuzzSupport.h"

using namespace zelmod::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto midi = runT2mf(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!midi)
        return 0;
    const auto text = runMf2t(midi->bytes);
    check(text.has_value(), "mf2t reads every file that t2mf writes");
    const auto again = runT2mf(*text);
    check(again.has_value(), "t2mf takes every text that mf2t writes");
    check(again->capped == 0, "mf2t writes no note value above 127");
    check(again->bytes == midi->bytes, "text and MIDI reach a fixed point after one round");
    return 0;
}
