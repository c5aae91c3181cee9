// Helpers for running zelmod-cli and the real converters under faults: a
// private tool's directory, child processes with limits, a user of their
// own and a kill at a chosen moment, and what a run leaves behind.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace zelmod::reliability {

namespace fs = std::filesystem;
using Bytes = std::string;

inline constexpr uid_t Nobody = 65534;

Bytes readFile(const fs::path& path);
void writeFile(const fs::path& path, const Bytes& bytes);
// Names of the entries in a folder, sorted.
std::vector<std::string> entries(const fs::path& dir);

// A tree of its own for one test, 0755 and owned by owner: tool/ holds
// copies of zelmod-cli, mf2t and t2mf from $ZELMOD_TOOL_DIR; user/ is the
// user's folder.
class Workspace {
  public:
    explicit Workspace(uid_t owner = ::getuid());
    ~Workspace();
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    const fs::path& root() const { return root_; }
    fs::path tool(const std::string& name = {}) const { return root_ / "tool" / name; }
    fs::path user(const std::string& name = {}) const { return root_ / "user" / name; }
    // A file in the user's folder, owned by the workspace's owner.
    void writeUserFile(const std::string& name, const Bytes& bytes) const;
    // Whatever the tool's directory holds besides the three programs.
    std::vector<std::string> toolLeftovers() const;
    // Copies the programs into dir (another file system) as a tool's directory.
    void installTools(const fs::path& dir) const;

  private:
    fs::path root_;
    uid_t owner_;
};

struct RunOptions {
    bool asNobody = false;        // through setpriv, as user and group 65534
    long long fileSizeLimit = -1; // bytes, as `ulimit -f` would set it
    // Called about every millisecond while the program runs; returns true once
    // it has done what it waits for.
    std::function<bool(pid_t)> whileRunning;
};

struct RunResult {
    int exitCode = -1;  // -1 when ended by a signal
    int signal = 0;     // the signal that ended it, or 0
    std::string errors; // what it wrote to standard error
    long peakRssKb = 0; // the largest resident size of it or any converter it ran
    std::chrono::duration<double> wallTime{};
};

// Runs the program with the arguments and waits for it.
RunResult run(const fs::path& program, const std::vector<std::string>& arguments,
              const RunOptions& options = {});

// The ids of the processes running this executable.
std::vector<pid_t> processesOf(const fs::path& executable);
// Waits until no process runs this executable (at most ten seconds).
bool waitUntilGone(const fs::path& executable);

// A MIDI file of one track: count note-on/note-off pairs of notes 2..127 on
// channel 1, with running status; seed varies the notes. mirrored gives the
// same file with every note mirrored (n becomes 129 - n), as the pitch
// mirror writes it.
Bytes noteFile(std::size_t pairs, unsigned seed, bool mirrored = false);

} // namespace zelmod::reliability
