// Any text: reverse playback either refuses it with one line that names the
// line at fault, or writes text that it takes back itself, with the same
// header, tracks and chunks.
#include "transform/ReversePlayback.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "files/Files.h"
#include "fuzz/FuzzSupport.h"

namespace {

// The lines that give the text its structure, in order.
std::string structure(std::string_view text) {
    std::string lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        std::string_view line = text.substr(start, end - start);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        if (line.starts_with("M") || line.starts_with("TrkEnd") || line.starts_with("Chunk"))
            lines.append(line).push_back('\n');
        start = end + 1;
    }
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string reversed;
    try {
        reversed = zelmod::reversePlaybackText(input);
    } catch (const zelmod::convert::ConversionError& error) {
        const std::string_view message = error.what();
        zelmod::fuzz::check(message.starts_with("text: line ") &&
                                message.find('\n') == std::string_view::npos,
                            "a refusal is one line that names the line");
        return 0;
    }
    zelmod::fuzz::check(structure(reversed) == structure(input),
                        "header, tracks and chunks stay as they were");
    try {
        zelmod::reversePlaybackText(reversed);
    } catch (const zelmod::convert::ConversionError&) {
        zelmod::fuzz::check(false, "the reversed text is taken back");
    }
    return 0;
}
