#include "ConverterTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

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

ScratchDir::ScratchDir() {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("zelmod-") + test->test_suite_name() + "-" + test->name();
    for (char& c : name) {
        if (c == '/')
            c = '_';
    }
#ifndef _WIN32
    name += "-" + std::to_string(getpid());
#endif
    dir_ = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::string ScratchDir::path(const std::string& name) const {
    return (dir_ / name).string();
}

std::vector<std::string> ScratchDir::files() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_))
        names.push_back(entry.path().filename().string());
    return names;
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

void writeFile(const std::string& path, std::string_view characters) {
    writeFile(path, text(characters));
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::string readText(const std::string& path) {
    const Bytes bytes = readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        result.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "text does not end with CR LF";
    return result;
}

ToolRun runTool(const std::string& tool, const std::vector<std::string>& arguments,
                const ScratchDir& scratch) {
    const char* toolDir = std::getenv("ZELMOD_TOOL_DIR");
    EXPECT_NE(toolDir, nullptr) << "ZELMOD_TOOL_DIR is not set";
    std::string command = "\"" + std::string(toolDir ? toolDir : ".") + "/" + tool + "\"";
    for (const std::string& argument : arguments)
        command += " \"" + argument + "\"";
    const std::string errorPath = scratch.path("stderr.log");
    command += " 2>\"" + errorPath + "\"";
#ifdef _WIN32
    // cmd /c drops the first and the last quote of a line with more than two.
    command = "\"" + command + "\"";
#endif
    const int status = std::system(command.c_str());
    ToolRun run{-1, {}};
    {
        std::ifstream log(errorPath); // text mode: Windows' CR LF reads as LF
        run.errorOutput.assign(std::istreambuf_iterator<char>(log), {});
    }
    std::filesystem::remove(errorPath);
#ifdef _WIN32
    run.exitCode = status;
#else
    if (WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
#endif
    return run;
}

std::vector<std::string> corpusFiles(std::initializer_list<std::string_view> categories) {
    std::vector<std::string> files;
    const char* dir = std::getenv("ZELMOD_CORPUS_DIR");
    if (!dir)
        return files;
    std::ifstream manifest(std::string(dir) + "/manifest.tsv");
    std::string line;
    while (std::getline(manifest, line)) {
        std::istringstream fields(line);
        std::string file, category;
        std::getline(fields, file, '\t');
        std::getline(fields, category, '\t');
        for (std::string_view wanted : categories) {
            if (category == wanted)
                files.push_back(std::string(dir) + "/" + file);
        }
    }
    return files;
}

} // namespace zelmod::testing
