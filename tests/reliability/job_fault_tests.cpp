// Faults injected into whole jobs of zelmod-cli with the real converters.
// Whatever happens, the user's output is their old file or the complete new
// one, a failure says so, and the next job runs clean and leaves nothing in
// the tool's directory.
#include <gtest/gtest.h>

#include <algorithm>

#include <csignal>
#include <sys/mount.h>
#include <unistd.h>

#include <optional>

#include "tests/support/test_processes.h"

namespace zelmod::testing {
namespace {

using zelmod::testing::PrintTo;

const Bytes oldOutput = text("the user's old output");
// Enough notes that each converter runs for a while, to be caught running.
constexpr std::size_t NotePairs = 400000;

class JobFault;

struct FaultCase {
    const char* name;
    bool asNobody; // needed where file modes matter
    // Sets the fault up and runs the job; nothing when this system cannot have the fault.
    std::optional<RunResult> (*inject)(JobFault&);
    void (*remove)(JobFault&);    // takes the fault away before the next job
    bool killsTheProgram = false; // zelmod-cli itself ends by SIGKILL
    const char* cause = nullptr;  // the system's reason that the message must name
};

class JobFault : public ::testing::TestWithParam<FaultCase> {
  public:
    void SetUp() override {
        if (GetParam().asNobody && !canRunAsNobody())
            GTEST_SKIP()
                << "needs root and setpriv to run zelmod-cli as the unprivileged user 65534";
        workspace_.emplace(GetParam().asNobody ? Nobody : ::getuid());
        fs::create_directory(workspace_->user("out"));
        if (::chown(workspace_->user("out").c_str(), owner(), owner()) != 0)
            FAIL() << "cannot give the output folder to its owner";
        workspace_->writeUserFile("in.mid", noteFile(NotePairs, 1));
        workspace_->writeUserFile("next.mid", noteFile(100, 2));
        expected_ = cleanOutput("in.mid");
        expectedNext_ = cleanOutput("next.mid");
        workspace_->writeUserFile("out/out.mid", oldOutput);
    }

    void TearDown() override {
        for (const fs::path& mount : mounts_)
            ::umount2(mount.c_str(), MNT_DETACH);
    }

    Workspace& workspace() { return *workspace_; }
    uid_t owner() const { return GetParam().asNobody ? Nobody : ::getuid(); }
    fs::path output() const { return workspace_->user("out/out.mid"); }
    const Bytes& expected() const { return expected_; }
    const Bytes& expectedNext() const { return expectedNext_; }

    RunResult runJob(const std::string& input, const fs::path& output, RunOptions options = {}) {
        options.asNobody = GetParam().asNobody;
        // The faults are those of the window's road: converter programs
        // started through batch files in the tool's directory.
        return run(workspace_->tool("zelmod-cli"),
                   {"--batch-files", "--job", "pitch-mirror", "-o", output.string(),
                    workspace_->user(input).string()},
                   options);
    }
    // The job on the large input, to the user's output.
    RunResult runJob(RunOptions options = {}) {
        return runJob("in.mid", output(), std::move(options));
    }

    // A small file system over dir; false when this system does not allow it.
    bool mountSmall(const fs::path& dir, std::uintmax_t bytes) {
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
        if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) != 0)
            return false;
        mounts_.push_back(dir);
        return ::chown(dir.c_str(), owner(), owner()) == 0;
    }
    void resize(const fs::path& dir, std::uintmax_t bytes) {
        const std::string options = "size=" + std::to_string(bytes);
        ASSERT_EQ(::mount("tmpfs", dir.c_str(), "tmpfs", MS_REMOUNT, options.c_str()), 0);
    }

  private:
    Bytes cleanOutput(const std::string& input) {
        const fs::path result = workspace_->user("expected.mid");
        const RunResult clean = runJob(input, result);
        EXPECT_EQ(clean.exitCode, 0) << clean.errors;
        Bytes bytes = readFile(result);
        fs::remove(result);
        return bytes;
    }

    std::optional<Workspace> workspace_;
    Bytes expected_;
    Bytes expectedNext_;
    std::vector<fs::path> mounts_;
};

// Runs the job and kills the converter once it has begun to write its
// output, which it does through a partial file .OUTPUT.XXXXXX.tmp beside it.
std::optional<RunResult> killConverterWhileWriting(JobFault& test, const char* converter,
                                                   const char* output) {
    const fs::path executable = test.workspace().tool(converter);
    const std::string partial = "." + std::string(output) + ".";
    return test.runJob({.whileRunning = [executable, partial, &test](pid_t) {
        std::error_code error;
        const fs::directory_iterator files(test.workspace().tool(), error);
        if (error || std::none_of(begin(files), end(files), [&](const fs::directory_entry& file) {
                return file.path().filename().string().starts_with(partial) &&
                       fs::file_size(file.path(), error) > 0;
            }))
            return false;
        for (const pid_t pid : processesOf(executable))
            ::kill(pid, SIGKILL);
        return true;
    }});
}

// Runs the job and kills zelmod-cli itself once the converter runs.
std::optional<RunResult> killProgramWhileRunning(JobFault& test, const char* converter) {
    const fs::path executable = test.workspace().tool(converter);
    return test.runJob({.whileRunning = [executable](pid_t program) {
        return !processesOf(executable).empty() && ::kill(program, SIGKILL) == 0;
    }});
}

// Runs the job and kills zelmod-cli itself once the tool's directory holds the file.
std::optional<RunResult> killProgramOnceWritten(JobFault& test, const char* file) {
    const fs::path path = test.workspace().tool(file);
    return test.runJob({.whileRunning = [path](pid_t program) {
        std::error_code error;
        return fs::exists(path, error) && ::kill(program, SIGKILL) == 0;
    }});
}

long long inputSize(JobFault& test) {
    return static_cast<long long>(fs::file_size(test.workspace().user("in.mid")));
}

constexpr std::uintmax_t MiB = 1024 * 1024;

std::uintmax_t toolsSize(const Workspace& workspace) {
    std::uintmax_t size = 0;
    for (const char* name : {"zelmod-cli", "mf2t", "t2mf"})
        size += fs::file_size(workspace.tool(name));
    return size;
}

void nothingToRemove(JobFault&) {}

void waitForConverters(JobFault& test) {
    EXPECT_TRUE(waitUntilGone(test.workspace().tool("mf2t")));
    EXPECT_TRUE(waitUntilGone(test.workspace().tool("t2mf")));
}

const FaultCase faultCases[] = {
    {"Mf2tKilled", false,
     [](JobFault& t) { return killConverterWhileWriting(t, "mf2t", "Zeltmps.txt"); },
     nothingToRemove},
    {"T2mfKilled", false,
     [](JobFault& t) { return killConverterWhileWriting(t, "t2mf", "Zeltmp2.dat"); },
     nothingToRemove},
    {"ProgramKilledDuringMf2t", false,
     [](JobFault& t) { return killProgramWhileRunning(t, "mf2t"); }, nothingToRemove, true},
    {"ProgramKilledDuringRewrite", false,
     [](JobFault& t) { return killProgramOnceWritten(t, "Zeltmpd.txt"); }, nothingToRemove, true},
    {"ProgramKilledDuringT2mf", false,
     [](JobFault& t) { return killProgramWhileRunning(t, "t2mf"); }, nothingToRemove, true},
    {"ToolDirFull", false,
     [](JobFault& test) -> std::optional<RunResult> {
         Workspace& workspace = test.workspace();
         const std::uintmax_t size = toolsSize(workspace) + 4 * MiB;
         if (!test.mountSmall(workspace.tool(), size))
             return std::nullopt;
         workspace.installPrograms(workspace.tool());
         return test.runJob();
     },
     [](JobFault& test) { test.resize(test.workspace().tool(), 1024 * MiB); }, false,
     "No space left on device"},
    {"OutputDirFull", false,
     [](JobFault& test) -> std::optional<RunResult> {
         const fs::path dir = test.output().parent_path();
         if (!test.mountSmall(dir, MiB))
             return std::nullopt;
         writeFile(test.output(), oldOutput);
         return test.runJob();
     },
     [](JobFault& test) { test.resize(test.output().parent_path(), 64 * MiB); }, false,
     "out.mid: cannot write: No space left on device"},
    {"FileSizeLimitBelowTheEventText", false,
     [](JobFault& t) -> std::optional<RunResult> {
         return t.runJob({.fileSizeLimit = inputSize(t) + 65536});
     },
     nothingToRemove},
    {"FileSizeLimitBelowTheInput", false,
     [](JobFault& t) -> std::optional<RunResult> {
         return t.runJob({.fileSizeLimit = inputSize(t) / 2});
     },
     nothingToRemove},
    {"ToolDirReadOnly", true,
     [](JobFault& test) -> std::optional<RunResult> {
         fs::permissions(test.workspace().tool(), fs::perms(0555));
         return test.runJob();
     },
     [](JobFault& test) { fs::permissions(test.workspace().tool(), fs::perms(0755)); }},
    {"ToolDirReadOnlyAfterAKilledJob", true,
     [](JobFault& test) -> std::optional<RunResult> {
         EXPECT_EQ(killProgramWhileRunning(test, "t2mf")->signal, SIGKILL);
         waitForConverters(test);
         EXPECT_FALSE(test.workspace().leftovers().empty()) << "the kill came too late";
         fs::permissions(test.workspace().tool(), fs::perms(0555));
         return test.runJob();
     },
     [](JobFault& test) { fs::permissions(test.workspace().tool(), fs::perms(0755)); }},
};

TEST_P(JobFault, LeavesTheOldOutputOrTheNewOneAndTheNextJobRunsClean) {
    const FaultCase& fault = GetParam();
    const std::optional<RunResult> injected = fault.inject(*this);
    if (!injected)
        GTEST_SKIP() << "this system does not let the test mount a small file system";
    const RunResult& faulted = *injected;
    if (fault.killsTheProgram) {
        EXPECT_EQ(faulted.signal, SIGKILL) << "the job ended before the kill";
    } else {
        EXPECT_EQ(faulted.exitCode, 1) << "signal " << faulted.signal << ": " << faulted.errors;
        EXPECT_NE(faulted.errors.find("in.mid: "), std::string::npos) << faulted.errors;
        if (fault.cause) {
            EXPECT_NE(faulted.errors.find(fault.cause), std::string::npos) << faulted.errors;
        }
    }
    const Bytes after = readFile(output());
    EXPECT_TRUE(after == oldOutput || after == expected())
        << "a partial output of " << after.size() << " bytes";
    if (!fault.killsTheProgram) {
        EXPECT_EQ(entries(output().parent_path()), std::vector<std::string>{"out.mid"});
    }

    // The next job, on a small file, starts at once; it ends long before a
    // converter of the faulted job would, if one were still running.
    fault.remove(*this);
    const RunResult next = runJob("next.mid", output());
    EXPECT_EQ(next.exitCode, 0) << next.errors;
    EXPECT_TRUE(readFile(output()) == expectedNext());
    EXPECT_EQ(entries(output().parent_path()), std::vector<std::string>{"out.mid"});
    waitForConverters(*this);
    EXPECT_EQ(workspace().leftovers(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Faults, JobFault, ::testing::ValuesIn(faultCases), caseName);

} // namespace
} // namespace zelmod::testing
