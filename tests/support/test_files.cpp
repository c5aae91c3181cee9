#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace zelmod::testing {

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes text(std::string_view characters) {
    return Bytes(characters.begin(), characters.end());
}

Bytes chunk(std::string_view id, const Bytes& body) {
    const auto size = static_cast<std::uint32_t>(body.size());
    return join({text(id),
                 {static_cast<std::uint8_t>(size >> 24), static_cast<std::uint8_t>(size >> 16),
                  static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size)},
                 body});
}

Bytes header(std::uint16_t format, std::uint16_t tracks, std::uint16_t division) {
    return chunk("MThd",
                 {static_cast<std::uint8_t>(format >> 8), static_cast<std::uint8_t>(format),
                  static_cast<std::uint8_t>(tracks >> 8), static_cast<std::uint8_t>(tracks),
                  static_cast<std::uint8_t>(division >> 8), static_cast<std::uint8_t>(division)});
}

Bytes midiFile(std::initializer_list<Bytes> trackBodies) {
    Bytes file = header(1, static_cast<std::uint16_t>(trackBodies.size()), 96);
    for (const Bytes& body : trackBodies)
        file = join({file, chunk("MTrk", body)});
    return file;
}

Bytes noteFile(std::size_t pairs, unsigned seed, bool mirrored) {
    // Built in place, without copies: a started program shares this process's
    // memory until it execs, and the load tests measure its peak memory.
    Bytes file = join({header(0, 1, 96), text("MTrk"), {0, 0, 0, 0}});
    const std::size_t trackStart = file.size();
    file.reserve(trackStart + pairs * 6 + 4);
    std::uint32_t state = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < pairs; ++i) {
        state = state * 1664525u + 1013904223u;
        const unsigned value = 2 + (state >> 8) % 126;
        const auto note = static_cast<std::uint8_t>(mirrored ? 129 - value : value);
        if (i == 0)
            file.insert(file.end(), {0x00, 0x90, note, 0x64});
        else
            file.insert(file.end(), {0x00, note, 0x64});
        file.insert(file.end(), {0x0A, note, 0x00}); // running status, velocity 0 ends the note
    }
    file.insert(file.end(), {0x00, 0xFF, 0x2F, 0x00});
    const auto size = static_cast<std::uint32_t>(file.size() - trackStart);
    for (int byte = 0; byte < 4; ++byte)
        file[trackStart - 4 + byte] = static_cast<std::uint8_t>(size >> (24 - 8 * byte));
    return file;
}

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return text(Unreadable);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::string readText(const fs::path& path) {
    const Bytes bytes = readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

void writeFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out.flush())
        throw std::runtime_error("cannot write " + path.string());
}

void writeFile(const fs::path& path, std::string_view characters) {
    writeFile(path, text(characters));
}

std::vector<std::string> entries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

ScratchDir::ScratchDir() {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("zelmod-") + test->test_suite_name() + "-" + test->name();
    std::replace(name.begin(), name.end(), '/', '_');
#ifndef _WIN32
    name += "-" + std::to_string(getpid());
#endif
    dir_ = fs::temp_directory_path() / name;
    fs::remove_all(dir_);
    fs::create_directories(dir_);
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
}

std::string ScratchDir::path(const std::string& name) const {
    return (dir_ / name).string();
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        result.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "text does not end with CR LF";
    return result;
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

fs::path builtProgram(const std::string& name) {
    const char* toolDir = std::getenv("ZELMOD_TOOL_DIR");
    if (!toolDir)
        throw std::runtime_error("ZELMOD_TOOL_DIR is not set");
    return fs::path(toolDir) / name;
}

ToolRun runTool(const std::string& tool, const std::vector<std::string>& arguments,
                const ScratchDir& scratch) {
    std::string command = "\"" + builtProgram(tool).string() + "\"";
    for (const std::string& argument : arguments)
        command += " \"" + argument + "\"";
    const std::string errorPath = scratch.path("stderr.log");
    command += " 2>\"" + errorPath + "\"";
#ifdef _WIN32
    // cmd /c drops the first and the last quote of a line with more than two.
    command = "\"" + command + "\"";
    // Under Wine a program now and then fails to start: system() gives -1,
    // or cmd finds no program (9009). Neither is the tool's answer.
    int status = std::system(command.c_str());
    for (int retry = 0; retry < 2 && (status == -1 || status == 9009); ++retry)
        status = std::system(command.c_str());
#else
    const int status = std::system(command.c_str());
#endif
    ToolRun run{-1, {}};
    {
        std::ifstream log(errorPath); // text mode: Windows' CR LF reads as LF
        run.errorOutput.assign(std::istreambuf_iterator<char>(log), {});
    }
    fs::remove(errorPath);
#ifdef _WIN32
    run.exitCode = status;
#else
    if (WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
#endif
    return run;
}

std::vector<CorpusFile> corpus() {
    std::vector<CorpusFile> files;
    const char* dir = std::getenv("ZELMOD_CORPUS_DIR");
    if (!dir)
        return files;
    std::ifstream manifest(fs::path(dir) / "manifest.tsv");
    std::string line;
    std::getline(manifest, line); // the columns' names
    while (std::getline(manifest, line)) {
        std::istringstream fields(line);
        CorpusFile file;
        std::getline(fields, file.path, '\t');
        if (std::getline(fields, file.category, '\t'))
            files.push_back({std::string(dir) + "/" + file.path, file.category});
    }
    return files;
}

std::vector<std::string> corpusFiles(std::initializer_list<std::string_view> categories) {
    std::vector<std::string> files;
    for (const CorpusFile& file : corpus()) {
        if (std::find(categories.begin(), categories.end(), file.category) != categories.end())
            files.push_back(file.path);
    }
    return files;
}

} // namespace zelmod::testing
