#include "ReliabilitySupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace zelmod::reliability {
namespace {

const std::vector<std::string> programs = {"zelmod-cli", "mf2t", "t2mf"};

// A run that has not ended after this long is stopped and reported.
constexpr auto RunLimit = std::chrono::minutes(3);

void ownTree(const fs::path& root, uid_t owner) {
    if (::chown(root.c_str(), owner, owner) != 0)
        throw std::runtime_error("cannot give " + root.string() + " to its owner");
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (::lchown(entry.path().c_str(), owner, owner) != 0)
            throw std::runtime_error("cannot give " + entry.path().string() + " to its owner");
    }
}

std::vector<char*> argumentVector(std::vector<std::string>& words) {
    std::vector<char*> vector;
    for (std::string& word : words)
        vector.push_back(word.data());
    vector.push_back(nullptr);
    return vector;
}

[[noreturn]] void runChild(const fs::path& program, const std::vector<std::string>& arguments,
                           const RunOptions& options, int errorFd) {
    ::dup2(errorFd, STDERR_FILENO);
    const int devNull = ::open("/dev/null", O_RDWR);
    ::dup2(devNull, STDIN_FILENO);
    ::dup2(devNull, STDOUT_FILENO);
    if (options.fileSizeLimit >= 0) {
        const rlimit limit{static_cast<rlim_t>(options.fileSizeLimit),
                           static_cast<rlim_t>(options.fileSizeLimit)};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::vector<std::string> words;
    if (options.asNobody) {
        words = {"setpriv", "--reuid=" + std::to_string(Nobody),
                 "--regid=" + std::to_string(Nobody), "--clear-groups", "--"};
    }
    words.push_back(program.string());
    words.insert(words.end(), arguments.begin(), arguments.end());
    const std::vector<char*> argv = argumentVector(words);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
}

} // namespace

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return "<missing>";
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush())
        throw std::runtime_error("cannot write " + path.string());
}

std::vector<std::string> entries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

Workspace::Workspace(uid_t owner) : owner_(owner) {
    std::string pattern = (fs::temp_directory_path() / "zelmod-reliability-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary folder");
    root_ = pattern;
    fs::permissions(root_, fs::perms(0755));
    fs::create_directory(user());
    fs::create_directory(tool());
    installTools(tool());
    ownTree(root_, owner_);
}

Workspace::~Workspace() {
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(root_, ignored)) {
        if (entry.is_directory(ignored))
            fs::permissions(entry.path(), fs::perms(0755), ignored);
    }
    fs::remove_all(root_, ignored);
}

void Workspace::writeUserFile(const std::string& name, const Bytes& bytes) const {
    writeFile(user(name), bytes);
    if (::chown(user(name).c_str(), owner_, owner_) != 0)
        throw std::runtime_error("cannot give " + name + " to its owner");
}

std::vector<std::string> Workspace::toolLeftovers() const {
    std::vector<std::string> left;
    for (const std::string& name : entries(tool())) {
        if (std::find(programs.begin(), programs.end(), name) == programs.end())
            left.push_back(name);
    }
    return left;
}

void Workspace::installTools(const fs::path& dir) const {
    const char* built = std::getenv("ZELMOD_TOOL_DIR");
    if (!built)
        throw std::runtime_error("ZELMOD_TOOL_DIR is not set");
    for (const std::string& name : programs) {
        fs::copy_file(fs::path(built) / name, dir / name, fs::copy_options::overwrite_existing);
        fs::permissions(dir / name, fs::perms(0755));
        if (::chown((dir / name).c_str(), owner_, owner_) != 0)
            throw std::runtime_error("cannot give " + name + " to its owner");
    }
}

RunResult run(const fs::path& program, const std::vector<std::string>& arguments,
              const RunOptions& options) {
    char errorPath[] = "/tmp/zelmod-reliability-stderr-XXXXXX";
    const int errorFd = ::mkstemp(errorPath);
    if (errorFd < 0)
        throw std::runtime_error("cannot make a file for standard error");
    ::unlink(errorPath);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0)
        runChild(program, arguments, options, errorFd);

    RunResult result;
    int status = 0;
    rusage usage{};
    bool waiting = static_cast<bool>(options.whileRunning);
    while (::wait4(pid, &status, WNOHANG, &usage) == 0) {
        if (std::chrono::steady_clock::now() - start > RunLimit) {
            ADD_FAILURE() << program << " did not end; stopped";
            ::kill(pid, SIGKILL);
        }
        if (waiting)
            waiting = !options.whileRunning(pid);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    result.wallTime = std::chrono::steady_clock::now() - start;
    result.peakRssKb = usage.ru_maxrss;
    if (WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
    std::string errors(static_cast<std::size_t>(::lseek(errorFd, 0, SEEK_END)), '\0');
    if (::pread(errorFd, errors.data(), errors.size(), 0) >= 0)
        result.errors = errors;
    ::close(errorFd);
    return result;
}

std::vector<pid_t> processesOf(const fs::path& executable) {
    std::vector<pid_t> found;
    std::error_code error;
    const fs::path wanted = fs::canonical(executable, error);
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::error_code gone;
        if (fs::read_symlink(entry.path() / "exe", gone) == wanted)
            found.push_back(static_cast<pid_t>(std::stol(name)));
    }
    return found;
}

bool waitUntilGone(const fs::path& executable) {
    for (int i = 0; i < 10000; ++i) {
        if (processesOf(executable).empty())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

Bytes noteFile(std::size_t pairs, unsigned seed, bool mirrored) {
    Bytes track;
    track.reserve(pairs * 6 + 8);
    std::uint32_t state = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < pairs; ++i) {
        state = state * 1664525u + 1013904223u;
        const unsigned value = 2 + (state >> 8) % 126;
        const char note = static_cast<char>(mirrored ? 129 - value : value);
        if (i == 0)
            track += {'\x00', '\x90', note, '\x64'};
        else
            track += {'\x00', note, '\x64'};
        track += {'\x0A', note, '\x00'}; // running status, velocity 0 ends the note
    }
    track += {'\x00', '\xFF', '\x2F', '\x00'};
    const auto size = static_cast<std::uint32_t>(track.size());
    Bytes file("MThd\0\0\0\x06\0\0\0\x01\0\x60MTrk", 18);
    file += {static_cast<char>(size >> 24), static_cast<char>(size >> 16),
             static_cast<char>(size >> 8), static_cast<char>(size)};
    return file + track;
}

} // namespace zelmod::reliability
