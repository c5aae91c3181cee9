// The two conversions behind mf2t and t2mf. Both read their input in bounded
// pieces and write their output through a temporary file beside the target,
// which replaces the target only when the whole conversion has succeeded.
#pragma once

#include <cstdint>
#include <string>

#include "files/Files.h"

namespace zelmod::convert {

// Writes the event text of the MIDI file at midiPath to textPath.
// Throws ConversionError ("FILE: byte N: what") when the file cannot be read.
void midiToText(const std::string& midiPath, const std::string& textPath);

// Writes the MIDI file described by the event text at textPath to midiPath and
// returns how many note numbers or velocities above MaxDataValue (127) were
// written as MaxDataValue.
// Throws ConversionError ("FILE: line N: what") for text it cannot take.
std::uint64_t textToMidi(const std::string& textPath, const std::string& midiPath);

// t2mf's exit code when it wrote its output but capped note values.
inline constexpr int CappedExitCode = 3;

} // namespace zelmod::convert
