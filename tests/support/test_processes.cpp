#include "tests/support/test_processes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace zelmod::testing {
namespace {

// A run that has not ended after this long is stopped and reported.
constexpr auto RunLimit = std::chrono::minutes(3);

std::vector<char*> pointersTo(std::vector<std::string>& words) {
    std::vector<char*> pointers;
    for (std::string& word : words)
        pointers.push_back(word.data());
    pointers.push_back(nullptr);
    return pointers;
}

// A file for what the child writes, already gone from its folder.
int anonymousFile() {
    char path[] = "/tmp/zelmod-test-output-XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0)
        throw std::runtime_error("cannot make a file for a program's output");
    ::unlink(path);
    return fd;
}

std::string contentOf(int fd) {
    std::string text(static_cast<std::size_t>(::lseek(fd, 0, SEEK_END)), '\0');
    if (::pread(fd, text.data(), text.size(), 0) < 0)
        text.clear();
    return text;
}

// Only async-signal-safe calls between fork and exec: everything the child
// needs is made before.
[[noreturn]] void becomeProgram(char* const* argv, char* const* envp, const RunOptions& options,
                                int inputFd, int outputFd, int errorFd) {
    ::dup2(inputFd, STDIN_FILENO);
    ::dup2(outputFd, STDOUT_FILENO);
    ::dup2(errorFd, STDERR_FILENO);
    if (options.fileSizeLimit >= 0) {
        const rlimit limit{static_cast<rlim_t>(options.fileSizeLimit),
                           static_cast<rlim_t>(options.fileSizeLimit)};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (!options.workingDirectory.empty() && ::chdir(options.workingDirectory.c_str()) != 0)
        ::_exit(127);
    ::execvpe(argv[0], argv, envp);
    ::_exit(127);
}

} // namespace

bool canRunAsNobody() {
    return ::geteuid() == 0 && run("true", {}, {.asNobody = true}).exitCode == 0;
}

void giveTo(const fs::path& path, uid_t owner) {
    if (::lchown(path.c_str(), owner, owner) != 0)
        throw std::runtime_error("cannot give " + path.string() + " to its owner");
}

std::vector<fs::path> builtTools() {
    return {builtProgram("zelmod-cli"), builtProgram("mf2t"), builtProgram("t2mf")};
}

Workspace::Workspace(uid_t owner, const std::vector<fs::path>& programs,
                     const std::string& toolName)
    : toolName_(toolName), owner_(owner), programs_(programs) {
    std::string pattern = (fs::temp_directory_path() / "zelmod-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary folder");
    root_ = pattern;
    fs::permissions(root_, fs::perms(0755));
    fs::create_directory(user());
    fs::create_directory(tool());
    fs::create_directory(runtime());
    fs::permissions(runtime(), fs::perms::owner_all);
    installPrograms(tool());
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

void Workspace::setConverter(const std::string& name, const std::string& body) const {
    writeFile(tool(name), "#!/bin/sh\n" + body + "\n");
    fs::permissions(tool(name), fs::perms(0755));
}

std::vector<std::string> Workspace::leftovers() const {
    std::vector<std::string> left;
    for (const std::string& name : entries(tool())) {
        const auto isNamed = [&](const fs::path& program) { return program.filename() == name; };
        if (std::find(ProgramNames.begin(), ProgramNames.end(), name) == ProgramNames.end() &&
            std::none_of(programs_.begin(), programs_.end(), isNamed))
            left.push_back(name);
    }
    return left;
}

void Workspace::installPrograms(const fs::path& dir) const {
    for (const fs::path& program : programs_) {
        const fs::path copy = dir / program.filename();
        fs::copy_file(program, copy, fs::copy_options::overwrite_existing);
        fs::permissions(copy, fs::perms(0755));
        giveTo(copy, owner_);
    }
}

std::vector<std::string> Workspace::windowEnvironment() const {
    return {"QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + runtime().string(),
            "HOME=" + runtime().string(), "ZELMOD_TEST_ANSWER_MESSAGES=1"};
}

Child::Child(const fs::path& program, const std::vector<std::string>& arguments, RunOptions options)
    : options_(std::move(options)), start_(std::chrono::steady_clock::now()),
      outputFd_(anonymousFile()), errorFd_(anonymousFile()) {
    std::vector<std::string> words;
    if (options_.asNobody)
        words = AsNobody;
    words.push_back(program.string());
    words.insert(words.end(), arguments.begin(), arguments.end());
    // The first of two settings of a name counts: those asked for go first.
    std::vector<std::string> environment = options_.environment;
    for (char** variable = environ; *variable; ++variable)
        environment.emplace_back(*variable);
    const std::vector<char*> argv = pointersTo(words);
    const std::vector<char*> envp = pointersTo(environment);
    const int inputFd = anonymousFile();
    if (::write(inputFd, options_.input.data(), options_.input.size()) !=
            ssize_t(options_.input.size()) ||
        ::lseek(inputFd, 0, SEEK_SET) != 0)
        throw std::runtime_error("cannot write a program's input");
    pid_ = ::fork();
    if (pid_ < 0)
        throw std::runtime_error("cannot start " + program.string());
    if (pid_ == 0)
        becomeProgram(argv.data(), envp.data(), options_, inputFd, outputFd_, errorFd_);
    ::close(inputFd);
}

Child::~Child() {
    if (running()) {
        kill(SIGKILL);
        ::wait4(pid_, &status_, 0, &usage_);
    }
    ::close(outputFd_);
    ::close(errorFd_);
}

bool Child::running() {
    if (!ended_)
        ended_ = ::wait4(pid_, &status_, WNOHANG, &usage_) != 0;
    return !ended_;
}

void Child::kill(int signal) const {
    ::kill(pid_, signal);
}

RunResult Child::wait() {
    bool waiting = static_cast<bool>(options_.whileRunning);
    while (running()) {
        if (std::chrono::steady_clock::now() - start_ > RunLimit) {
            ADD_FAILURE() << "a program did not end; stopped";
            kill(SIGKILL);
        }
        if (waiting)
            waiting = !options_.whileRunning(pid_);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    RunResult result;
    result.wallTime = std::chrono::steady_clock::now() - start_;
    result.peakRssKb = usage_.ru_maxrss;
    if (WIFEXITED(status_))
        result.exitCode = WEXITSTATUS(status_);
    else if (WIFSIGNALED(status_))
        result.signal = WTERMSIG(status_);
    result.output = contentOf(outputFd_);
    result.errors = contentOf(errorFd_);
    return result;
}

RunResult run(const fs::path& program, const std::vector<std::string>& arguments,
              const RunOptions& options) {
    return Child(program, arguments, options).wait();
}

std::vector<std::string> linesStartingWith(const std::string& text, std::string_view prefix) {
    std::vector<std::string> found;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string_view line(text.data() + start, end - start);
        if (line.starts_with(prefix))
            found.emplace_back(line);
        start = end + 1;
    }
    return found;
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
