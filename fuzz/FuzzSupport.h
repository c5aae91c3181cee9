// What the fuzz targets share: a property check that stops the run, and the
// two converters run in-process on scratch files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zelmod::fuzz {

// Stops the run with the broken property named, so that the input is kept.
void check(bool condition, const char* property);

// The result of t2mf: the MIDI bytes and how many note values it capped.
struct MidiResult {
    std::string bytes;
    std::uint64_t capped = 0;
};

// Runs mf2t on the bytes; the event text, or nothing when mf2t refuses them.
// Either way the checks that every run must pass have passed: a refusal is
// one line naming the input, and no file beside the output is touched or left.
std::optional<std::string> runMf2t(std::string_view midi);
// Runs t2mf on the text in the same way.
std::optional<MidiResult> runT2mf(std::string_view text);

} // namespace zelmod::fuzz
