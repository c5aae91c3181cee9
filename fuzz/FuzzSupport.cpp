#include "fuzz/FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "converters/Converters.h"

#ifdef _WIN32
#include <process.h>
#else
#include <cerrno>
#include <csignal>
#include <unistd.h>
#endif

namespace zelmod::fuzz {
namespace {

namespace fs = std::filesystem;

// What an existing output holds before a run; a refusal must leave it so.
constexpr std::string_view OldOutput = "the user's old file";

constexpr std::string_view ScratchPrefix = "zelmod-fuzz-";

// One folder per process for the converters' input and output, in memory
// where the system offers it, removed when the process ends. A run that
// stopped at a broken property could not remove its own: the next one does.
class ScratchDir {
  public:
    ScratchDir() {
        const fs::path memory = "/dev/shm";
        std::error_code error;
        const fs::path base = fs::is_directory(memory, error) ? memory : fs::temp_directory_path();
        removeStale(base);
        dir_ = base / (std::string(ScratchPrefix) + std::to_string(processId()));
        fs::remove_all(dir_, error);
        fs::create_directories(dir_);
    }
    ~ScratchDir() {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    std::string path(const char* name) const { return (dir_ / name).string(); }
    std::size_t fileCount() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), {}));
    }

  private:
    static long processId() {
#ifdef _WIN32
        return static_cast<long>(_getpid());
#else
        return static_cast<long>(getpid());
#endif
    }

    // Removes the folders of processes that no longer run.
    static void removeStale(const fs::path& base) {
#ifndef _WIN32
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(base, error)) {
            const std::string name = entry.path().filename().string();
            if (!name.starts_with(ScratchPrefix))
                continue;
            const long id = std::strtol(name.c_str() + ScratchPrefix.size(), nullptr, 10);
            if (id > 0 && kill(static_cast<pid_t>(id), 0) != 0 && errno == ESRCH)
                fs::remove_all(entry.path(), error);
        }
#endif
    }

    fs::path dir_;
};

const ScratchDir& scratch() {
    static const ScratchDir dir;
    return dir;
}

void writeFile(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    check(static_cast<bool>(out), "the scratch folder takes the input");
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs one conversion from a scratch input onto a scratch output that holds
// an old file, and checks what a run must leave behind either way.
template <typename Convert>
std::optional<std::string> convert(std::string_view input, Convert conversion) {
    const std::string in = scratch().path("in");
    const std::string out = scratch().path("out");
    writeFile(in, input);
    writeFile(out, OldOutput);
    bool accepted = true;
    try {
        conversion(in, out);
    } catch (const convert::ConversionError& error) {
        const std::string_view message = error.what();
        check(message.starts_with(in + ": "), "an error names the input first");
        check(message.find('\n') == std::string_view::npos, "an error is one line");
        check(readFile(out) == OldOutput, "a refusal leaves the old output as it was");
        accepted = false;
    }
    check(scratch().fileCount() == 2, "no temporary file is left beside the output");
    if (!accepted)
        return std::nullopt;
    return readFile(out);
}

} // namespace

void check(bool condition, const char* property) {
    if (condition)
        return;
    std::fprintf(stderr, "property broken: %s\n", property);
    std::abort();
}

std::optional<std::string> runMf2t(std::string_view midi) {
    return convert(
        midi, [](const std::string& in, const std::string& out) { convert::midiToText(in, out); });
}

std::optional<MidiResult> runT2mf(std::string_view text) {
    std::uint64_t capped = 0;
    auto bytes = convert(text, [&](const std::string& in, const std::string& out) {
        capped = convert::textToMidi(in, out);
    });
    if (!bytes)
        return std::nullopt;
    return MidiResult{std::move(*bytes), capped};
}

} // namespace zelmod::fuzz
