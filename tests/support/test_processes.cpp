#include "tests/support/test_processes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>

namespace zelmod::testing {
namespace {

const std::vector<std::string> programs = {"zelmod-cli", "mf2t", "t2mf"};

// A run that has not ended after this long is stopped and reported.
constexpr auto RunLimit = std::chrono::minutes(3);

void giveTo(const fs::path& path, uid_t owner) {
    if (::lchown(path.c_str(), owner, owner) != 0)
        throw std::runtime_error("cannot give " + path.string() + " to its owner");
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
    if (options.asNobody)
        words = AsNobody;
    words.push_back(program.string());
    words.insert(words.end(), arguments.begin(), arguments.end());
    const std::vector<char*> argv = argumentVector(words);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
}

} // namespace

bool canRunAsNobody() {
    RunOptions options;
    options.asNobody = true;
    return ::geteuid() == 0 && run("true", {}, options).exitCode == 0;
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
    giveTo(root_, owner_);
    for (const auto& entry : fs::recursive_directory_iterator(root_))
        giveTo(entry.path(), owner_);
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
    giveTo(user(name), owner_);
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
    for (const std::string& name : programs) {
        fs::copy_file(builtProgram(name), dir / name, fs::copy_options::overwrite_existing);
        fs::permissions(dir / name, fs::perms(0755));
        giveTo(dir / name, owner_);
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
    return waitUntil([&] { return processesOf(executable).empty(); }, std::chrono::seconds(10));
}

bool endsWithin(pid_t pid, std::chrono::milliseconds limit) {
    const fs::path stat = fs::path("/proc") / std::to_string(pid) / "stat";
    return waitUntil(
        [&] {
            const std::string state = readText(stat);
            return state == Unreadable || state.find(") Z ") != std::string::npos;
        },
        limit);
}

} // namespace zelmod::testing
