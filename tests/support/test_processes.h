// The test kit's POSIX part: programs run as child processes with limits,
// as the unprivileged user of their own or killed at a chosen moment, and
// a private tool's directory with copies of the built programs.
#pragma once

#include "tests/support/test_files.h"

#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <functional>

namespace zelmod::testing {

// The unprivileged user the tests switch to, since file modes do not bind root.
inline constexpr uid_t Nobody = 65534;
// The words that run the command after them as Nobody, without our groups.
inline const std::vector<std::string> AsNobody = {"setpriv", "--reuid=65534", "--regid=65534",
                                                  "--clear-groups", "--"};
// Whether this process may switch to Nobody: it runs as root and setpriv works.
bool canRunAsNobody();

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
    bool asNobody = false;        // through setpriv
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
// Whether the process ends within the limit: it is gone, or only a zombie.
bool endsWithin(pid_t pid, std::chrono::milliseconds limit);

} // namespace zelmod::testing
