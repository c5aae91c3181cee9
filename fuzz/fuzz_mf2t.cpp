// Any bytes given to mf2t: a refusal is a clean one-line error, and whatever
// it takes comes back through t2mf as the same file, byte for byte.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/FuzzSupport.h"

using namespace zelmod::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view midi(reinterpret_cast<const char*>(data), size);
    const auto text = runMf2t(midi);
    if (!text)
        return 0;
    const auto back = runT2mf(*text);
    check(back.has_value(), "t2mf takes every text that mf2t writes");
    check(back->capped == 0, "mf2t writes no note value above 127");
    check(back->bytes == midi, "a file mf2t reads comes back byte for byte");
    return 0;
}
