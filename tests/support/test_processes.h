// The test kit's POSIX part: a tool's folder of its own with copies of the
// built programs, and programs run as child processes, with limits, as the
// unprivileged user or killed at a chosen moment.
#pragma once

#include "tests/support/test_files.h"

#include <sys/resource.h>
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
// Gives the file or folder (not what it holds) to owner; throws when it cannot.
void giveTo(const fs::path& path, uid_t owner);

// The programs and converters a tool's folder holds.
inline const std::vector<std::string> ProgramNames = {"Zelmod", "zelmod-cli", "mf2t", "t2mf"};
// zelmod-cli and the converters, as the build made them.
std::vector<fs::path> builtTools();

// A tree of its own for one test, 0755 and owned by owner: the tool's folder
// (tool/, or toolName) holds copies of programs and is the working folder of
// a portable copy; user/ is the user's folder; runtime/ (0700) is the home
// and runtime folder of the window programs started here.
class Workspace {
  public:
    explicit Workspace(uid_t owner = ::getuid(),
                       const std::vector<fs::path>& programs = builtTools(),
                       const std::string& toolName = "tool");
    ~Workspace();
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    const fs::path& root() const { return root_; }
    fs::path tool(const std::string& name = {}) const { return in(toolName_, name); }
    fs::path user(const std::string& name = {}) const { return in("user", name); }
    fs::path runtime() const { return root_ / "runtime"; }
    // A file in the user's folder, owned by the workspace's owner.
    void writeUserFile(const std::string& name, const Bytes& bytes) const;
    // A converter made of a shell script; it gets its input and output as $1 and $2.
    void setConverter(const std::string& name, const std::string& body) const;
    // Whatever the tool's folder holds besides the programs.
    std::vector<std::string> leftovers() const;
    // Copies the programs into dir (another file system) as a tool's folder.
    void installPrograms(const fs::path& dir) const;
    // The environment a window program started here needs besides the usual:
    // no screen, runtime/ as its home, and message boxes answered at once.
    std::vector<std::string> windowEnvironment() const;

  private:
    fs::path in(const std::string& folder, const std::string& name) const {
        return name.empty() ? root_ / folder : root_ / folder / name;
    }

    fs::path root_;
    std::string toolName_;
    uid_t owner_;
    std::vector<fs::path> programs_;
};

struct RunOptions {
    bool asNobody = false;                  // through setpriv
    long long fileSizeLimit = -1;           // bytes, as `ulimit -f` would set it
    std::vector<std::string> environment{}; // NAME=value, added to this process's
    std::string input{};                    // standard input; empty by default
    fs::path workingDirectory{};            // this process's own when empty
    // Called about every millisecond while the program runs; returns true once
    // it has done what it waits for.
    std::function<bool(pid_t)> whileRunning{};
};

struct RunResult {
    int exitCode = -1;  // -1 when ended by a signal
    int signal = 0;     // the signal that ended it, or 0
    std::string output; // what it wrote to standard output
    std::string errors; // what it wrote to standard error
    long peakRssKb = 0; // the largest resident size of it or any converter it ran
    std::chrono::duration<double> wallTime{};
};

// A program started as a child process, with the options' standard input
// and its output collected. One that still runs when this goes is killed.
class Child {
  public:
    Child(const fs::path& program, const std::vector<std::string>& arguments,
          RunOptions options = {});
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    bool running();
    void kill(int signal) const;
    // Waits for the end, calling whileRunning meanwhile; a program that
    // runs for minutes is stopped and reported.
    RunResult wait();

  private:
    RunOptions options_;
    std::chrono::steady_clock::time_point start_;
    pid_t pid_ = -1;
    int outputFd_ = -1;
    int errorFd_ = -1;
    bool ended_ = false;
    int status_ = 0;
    rusage usage_{};
};

// Runs the program with the arguments and waits for it.
RunResult run(const fs::path& program, const std::vector<std::string>& arguments,
              const RunOptions& options = {});

// The lines of text that start with prefix.
std::vector<std::string> linesStartingWith(const std::string& text, std::string_view prefix);

// The ids of the processes running this executable.
std::vector<pid_t> processesOf(const fs::path& executable);
// Waits until no process runs this executable (at most ten seconds).
bool waitUntilGone(const fs::path& executable);
// Whether the process ends within the limit: it is gone, or only a zombie.
bool endsWithin(pid_t pid, std::chrono::milliseconds limit);

} // namespace zelmod::testing
