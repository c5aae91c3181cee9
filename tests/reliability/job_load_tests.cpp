// Load on whole jobs of zelmod-cli with the real converters: a batch of
// hundreds of small files and one file of millions of events (far fewer
// under the sanitizers). Every output is compared with the file the pitch
// mirror must make, and mirrored back; the peak memory of the job's
// processes must not grow with the work.
#include <gtest/gtest.h>

#include <iostream>

#include "tests/support/test_processes.h"

namespace zelmod::testing {
namespace {

#ifdef ZELMOD_SANITIZE
// Under the sanitizers every process start and every event costs many times
// more: the load is scaled down to what they check well within the timeout.
constexpr std::size_t BatchFiles = 30;
constexpr std::size_t LargePairs = 100'000;
// AddressSanitizer keeps freed memory aside for a while, so the peak grows with
// the number of allocations however little the program holds at once.
constexpr bool peaksComparable = false;
#else
// Two hundred files, four hundred jobs: well within a third of the timeout
// even on a two-core machine that others are building on.
constexpr std::size_t BatchFiles = 200;
constexpr std::size_t LargePairs = 2'500'000;
constexpr bool peaksComparable = true;
#endif
// Room for the allocator's own variation; holding any file whole would need far more.
constexpr long SlackKb = 16 * 1024;

class JobLoad : public ::testing::Test {
  protected:
    RunResult mirror(const std::vector<fs::path>& inputs, const fs::path& outDir) {
        fs::create_directories(outDir);
        std::vector<std::string> arguments = {"--job", "pitch-mirror", "--out-dir",
                                              outDir.string()};
        for (const fs::path& input : inputs)
            arguments.push_back(input.string());
        RunResult result = run(workspace_.tool("zelmod-cli"), arguments);
        EXPECT_EQ(result.exitCode, 0) << result.errors.substr(0, 2000);
        return result;
    }

    // Writes count files of the given size into folder and returns their paths.
    std::vector<fs::path> noteFiles(const std::string& folder, std::size_t count,
                                    std::size_t pairs) {
        fs::create_directories(workspace_.user(folder));
        std::vector<fs::path> paths;
        for (std::size_t i = 0; i < count; ++i) {
            paths.push_back(workspace_.user(folder) / ("song" + std::to_string(i) + ".mid"));
            writeFile(paths.back(), noteFile(pairs, static_cast<unsigned>(i)));
        }
        return paths;
    }

    // Mirrors the files there and back, checks every output and gives the
    // larger of the two runs' peak memory.
    long mirrorThereAndBack(const std::vector<fs::path>& inputs, std::size_t pairs,
                            const std::string& name) {
        const fs::path there = workspace_.user(name + "-mirrored");
        const fs::path back = workspace_.user(name + "-back");
        const RunResult first = mirror(inputs, there);
        const RunResult second = mirror(listed(there), back);
        std::size_t wrong = 0;
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            const std::string file = inputs[i].filename().string();
            const bool mirrored =
                readFile(there / file) == noteFile(pairs, static_cast<unsigned>(i), true);
            const bool cameBack = readFile(back / file) == readFile(inputs[i]);
            EXPECT_TRUE(wrong > 0 || (mirrored && cameBack))
                << file << (mirrored ? " did not come back" : " is not the mirrored file");
            wrong += mirrored && cameBack ? 0 : 1;
        }
        EXPECT_EQ(wrong, 0u) << "outputs wrong";
        EXPECT_TRUE(workspace_.leftovers().empty());
        std::cout << name << ": " << inputs.size() << " files of " << 2 * pairs
                  << " events each, mirrored in " << first.wallTime.count() << " s and back in "
                  << second.wallTime.count() << " s, peak memory " << first.peakRssKb << " and "
                  << second.peakRssKb << " KiB\n";
        return std::max(first.peakRssKb, second.peakRssKb);
    }

    static std::vector<fs::path> listed(const fs::path& dir) {
        std::vector<fs::path> paths;
        for (const std::string& name : entries(dir))
            paths.push_back(dir / name);
        // The files' numbers, not their names, give the order of the inputs.
        std::sort(paths.begin(), paths.end(), [](const fs::path& a, const fs::path& b) {
            return a.string().size() != b.string().size() ? a.string().size() < b.string().size()
                                                          : a < b;
        });
        return paths;
    }

    void expectFlat(long baseKb, long loadedKb) {
        if (!peaksComparable) {
            std::cout << "peak memory not compared under AddressSanitizer\n";
            return;
        }
        EXPECT_LE(loadedKb, baseKb + SlackKb) << "memory grows with the work";
    }

    Workspace workspace_;
};

TEST_F(JobLoad, ManySmallFilesInOneBatch) {
    constexpr std::size_t pairs = 50;
    const long base = mirrorThereAndBack(noteFiles("one", 1, pairs), pairs, "one");
    const long loaded = mirrorThereAndBack(noteFiles("batch", BatchFiles, pairs), pairs, "batch");
    expectFlat(base, loaded);
}

TEST_F(JobLoad, OneFileOfManyEvents) {
    constexpr std::size_t smallPairs = 50;
    const long base = mirrorThereAndBack(noteFiles("small", 1, smallPairs), smallPairs, "small");
    const long loaded = mirrorThereAndBack(noteFiles("large", 1, LargePairs), LargePairs, "large");
    expectFlat(base, loaded);
}

} // namespace
} // namespace zelmod::testing
