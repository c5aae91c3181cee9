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

// The same two on files held in memory, named in errors as the memory
// inputs are.
void midiToTextInMemory(const MemoryInput& midi, const MemoryOutput& text);
std::uint64_t textToMidiInMemory(const MemoryInput& text, const MemoryOutput& midi);

// The same two with the text passing through a pipe, for running both at
// once, on threads of their own, without the text in a file. Text that
// does not come whole throws PipeBroken.
void midiToTextPiped(const std::string& midiPath, TextPipe& text);
std::uint64_t textToMidiPiped(TextPipe& text, const std::string& midiPath);

// t2mf's exit code when it wrote its output but capped note values.
inline constexpr int CappedExitCode = 3;

// t2mf's line for that case ("FILE: capped N note values above 127 to 127"),
// and the N of such a line, for those who read it back; 0 for another line.
std::string cappedValuesLine(const std::string& textName, std::uint64_t count);
std::uint64_t cappedValuesIn(const std::string& line);

} // namespace zelmod::convert
