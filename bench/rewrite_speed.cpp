// rewrite_speed TEXT OUT [RUNS]: times the job's line loop alone, rewriting
// the event text TEXT into a new file OUT under transpose 12 as a job does,
// asking for the selected job option on every line. Prints the best run's
// wall time and processor time in seconds, and the event text rewritten per
// second of each in GB/s: on a shared machine the processor time is the
// steadier figure.
#include "job/EventTextRewrite.h"

#include <QFile>
#include <QFileInfo>
#include <QString>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fputs("usage: rewrite_speed TEXT OUT [RUNS]\n", stderr);
        return 2;
    }
    const QString source = QString::fromLocal8Bit(argv[1]);
    const QString target = QString::fromLocal8Bit(argv[2]);
    const int runs = argc == 4 ? std::atoi(argv[3]) : 5;
    const zelmod::JobOptionQuery isSelected = zelmod::fixedJob(zelmod::Job::Transpose);
    double bestWall = 0;
    double bestProcessor = 0;
    for (int run = 0; run < runs; ++run) {
        // A job writes a fresh work file: emptying the last run's output
        // would be timed too.
        QFile::remove(target);
        const auto start = std::chrono::steady_clock::now();
        const std::clock_t processorStart = std::clock();
        const zelmod::RewriteResult result =
            zelmod::rewriteEventText(source, target, 12, isSelected);
        const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
        const double processor = double(std::clock() - processorStart) / CLOCKS_PER_SEC;
        if (result.failure) {
            std::fprintf(stderr, "rewrite_speed: %s\n",
                         qUtf8Printable(zelmod::jobMessage(*result.failure).text));
            return 1;
        }
        bestWall = run == 0 || wall.count() < bestWall ? wall.count() : bestWall;
        bestProcessor = run == 0 || processor < bestProcessor ? processor : bestProcessor;
    }
    const double gigabytes = double(QFileInfo(source).size()) / 1e9;
    std::printf("%.4f %.4f %.3f %.3f\n", bestWall, bestProcessor, gigabytes / bestWall,
                gigabytes / bestProcessor);
    return 0;
}
