// Reverse playback (逆再生！): turns the event text that mf2t writes into the
// event text of the same piece played backwards, for t2mf to turn back into
// MIDI. Unlike the line rewrite it needs whole tracks, so it is a step of
// its own between the two converters (docs/event-text.md says what it does
// to each kind of event).
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace zelmod {

// Reads the event text at sourcePath twice, holding one track at a time, and
// writes the reversed text to targetPath through a temporary file that
// replaces it only on success. Throws convert::ConversionError
// ("FILE: line N: what") for text it cannot read or take. Keeps no state
// between calls, so any thread may call it. keepGoing, when given, is asked
// every few thousand lines; once it says no, the work stops with
// ReverseCancelled and targetPath is left as it was.
struct ReverseCancelled {};
void reversePlayback(const std::string& sourcePath, const std::string& targetPath,
                     const std::function<bool()>& keepGoing = {});

// The same on text held in memory; errors name the text as name.
std::string reversePlaybackText(std::string_view text, const std::string& name = "text");

} // namespace zelmod
