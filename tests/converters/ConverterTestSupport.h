// Helpers for the converter tests: MIDI bytes built by hand, scratch files,
// and running the built converters.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

namespace zelmod::testing {

using Bytes = std::vector<std::uint8_t>;

Bytes join(std::initializer_list<Bytes> parts);
Bytes text(std::string_view characters);
Bytes chunk(std::string_view id, const Bytes& body);
Bytes header(std::uint16_t format, std::uint16_t tracks, std::uint16_t division);
// A file of one header chunk (format 1, 96 ticks) and one MTrk per body.
Bytes midiFile(std::initializer_list<Bytes> trackBodies);

// A folder of its own for each test, removed at the end of the test.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    std::string path(const std::string& name) const;
    // Names of the files in the folder.
    std::vector<std::string> files() const;

  private:
    std::filesystem::path dir_;
};

void writeFile(const std::string& path, const Bytes& bytes);
void writeFile(const std::string& path, std::string_view characters);
Bytes readFile(const std::string& path);
std::string readText(const std::string& path);

// The event text lines of a file written by mf2t (CR LF line ends).
std::vector<std::string> lines(const std::string& text);

struct ToolRun {
    int exitCode;
    std::string errorOutput;
};
// Runs build/tool/<tool> with the arguments and collects its exit code and stderr.
ToolRun runTool(const std::string& tool, const std::vector<std::string>& arguments,
                const ScratchDir& scratch);

// $ZELMOD_CORPUS_DIR and the files its manifest puts in the categories, or
// an empty list when the corpus is absent.
std::vector<std::string> corpusFiles(std::initializer_list<std::string_view> categories);

} // namespace zelmod::testing
