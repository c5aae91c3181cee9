// reverse_speed TEXT OUT [RUNS]: times the reverse playback step alone,
// reading the event text TEXT and writing the reversed text to a new file
// OUT, as a job would between the two converters. Prints the best run's
// wall time and processor time in seconds, and the event text reversed per
// second of each in GB/s, as rewrite_speed does for the line rewrite.
#include "transform/ReversePlayback.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <filesystem>

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fputs("usage: reverse_speed TEXT OUT [RUNS]\n", stderr);
        return 2;
    }
    const int runs = argc == 4 ? std::atoi(argv[3]) : 5;
    double bestWall = 0;
    double bestProcessor = 0;
    for (int run = 0; run < runs; ++run) {
        std::filesystem::remove(argv[2]);
        const auto start = std::chrono::steady_clock::now();
        const std::clock_t processorStart = std::clock();
        try {
            zelmod::reversePlayback(argv[1], argv[2]);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "reverse_speed: %s\n", error.what());
            return 1;
        }
        const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
        const double processor = double(std::clock() - processorStart) / CLOCKS_PER_SEC;
        bestWall = run == 0 || wall.count() < bestWall ? wall.count() : bestWall;
        bestProcessor = run == 0 || processor < bestProcessor ? processor : bestProcessor;
    }
    const double gigabytes = double(std::filesystem::file_size(argv[1])) / 1e9;
    std::printf("%.4f %.4f %.3f %.3f\n", bestWall, bestProcessor, gigabytes / bestWall,
                gigabytes / bestProcessor);
    return 0;
}
