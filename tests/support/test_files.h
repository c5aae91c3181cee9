// The test kit's plain C++ part, which the Windows build shares: MIDI bytes
// built by hand, whole files, scratch folders, the corpus and the built
// programs. The Qt part (qt_test_kit.h) and the POSIX part
// (test_processes.h) build on it.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace zelmod::testing {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// A case of a test table that has a name shows as it in failure messages.
// Argument-dependent lookup finds it once the cases' namespace says
// `using zelmod::testing::PrintTo;`.
template <typename Case>
requires requires(const Case& c) {
    std::string_view(c.name);
}
void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}
// Names each instance of a parameterised test after its case.
inline constexpr auto caseName = [](const auto& info) { return std::string(info.param.name); };

Bytes join(std::initializer_list<Bytes> parts);
Bytes text(std::string_view characters);
Bytes chunk(std::string_view id, const Bytes& body);
Bytes header(std::uint16_t format, std::uint16_t tracks, std::uint16_t division);
// A file of one header chunk (format 1, 96 ticks) and one MTrk per body.
Bytes midiFile(std::initializer_list<Bytes> trackBodies);
// A format 0 file of one track: count note-on/note-off pairs of notes
// 2..127 on channel 1, with running status; seed varies the notes. mirrored
// gives the same file with every note mirrored (n becomes 129 - n), as the
// pitch mirror writes it.
Bytes noteFile(std::size_t pairs, unsigned seed, bool mirrored = false);

// What reading a file gives when it cannot be read, so that a failed
// comparison says so.
inline constexpr std::string_view Unreadable = "<unreadable>";

Bytes readFile(const fs::path& path);
std::string readText(const fs::path& path);
// Throws when the file cannot be written.
void writeFile(const fs::path& path, const Bytes& bytes);
void writeFile(const fs::path& path, std::string_view characters);
// Names of the entries in a folder, sorted.
std::vector<std::string> entries(const fs::path& dir);

// A folder of its own for each test, named after it, removed at its end.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string path(const std::string& name) const;
    std::vector<std::string> files() const { return entries(dir_); }

  private:
    fs::path dir_;
};

// The event text lines of a file written by mf2t (CR LF line ends).
std::vector<std::string> lines(const std::string& text);

// Waits until the condition holds, looking every ten milliseconds, at most
// for limit; whether it came.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::seconds(30));

// A program in the built tool's directory, $ZELMOD_TOOL_DIR.
fs::path builtProgram(const std::string& name);

struct ToolRun {
    int exitCode;
    std::string errorOutput;
};
// Runs a built program with the arguments and collects its exit code and stderr.
ToolRun runTool(const std::string& tool, const std::vector<std::string>& arguments,
                const ScratchDir& scratch);

// The files of $ZELMOD_CORPUS_DIR as its manifest lists them, or none when
// the corpus is absent.
struct CorpusFile {
    std::string path;
    std::string category;
};
std::vector<CorpusFile> corpus();
// The corpus files in the categories.
std::vector<std::string> corpusFiles(std::initializer_list<std::string_view> categories);

} // namespace zelmod::testing
