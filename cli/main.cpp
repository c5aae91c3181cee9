// zelmod-cli: the conversion job without a window, for scripts and batches.
#include "cli/BatchRun.h"
#include "cli/CommandLine.h"
#include "cli/Console.h"
#include "cli/InputList.h"
#include "cli/Report.h"
#include "job/JobFiles.h"
#include "job/NativePath.h"
#include "job/ToolFolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <optional>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// A small file's texts in memory are a few hundred kilobytes each, above
// the size from which the C library maps every allocation afresh and gives
// it back when freed: each file then faulted its memory in anew (36 page
// faults a file, a tenth of the processor time). Kept in the heap, it is
// reused from file to file; a job's peak is what it was.
void keepTextsInTheHeap() {
#ifdef __GLIBC__
    mallopt(M_MMAP_THRESHOLD, 8 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 16 * 1024 * 1024);
#endif
}

// Qt's own list would turn bytes that are not UTF-8 into U+FFFD.
QStringList argumentsOf(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(zelmod::pathFromNative(QByteArray(argv[i])));
    return arguments;
}

int usageError(const QString& error) {
    zelmod::print(stderr,
                  QStringLiteral("zelmod-cli: ") + error + QLatin1Char('\n') + zelmod::usageText());
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    keepTextsInTheHeap();
    QCoreApplication app(argc, argv);
    // The window's name: both share an installed copy's per-user working folder.
    QCoreApplication::setApplicationName(zelmod::AppTitle);
    zelmod::CliRequest request;
    QString error;
    if (!zelmod::parseCommandLine(argumentsOf(argc, argv), request, error)) {
        if (!error.isEmpty())
            return usageError(error);
        zelmod::print(stdout, request.versionAsked
                                  ? QStringLiteral("zelmod-cli " ZELMOD_VERSION "\n")
                                  : zelmod::usageText());
        return 0;
    }
    QList<zelmod::FileJob> files;
    if (!zelmod::plannedFiles(request, files, error))
        return usageError(error);
    zelmod::ToolFolders folders = zelmod::toolFoldersOf(zelmod::programDirectory());
    // A run in a private folder shares no work files with the window.
    const QString sharedWorkDir = request.batchFiles ? folders.workDir : QString();
    if (const QString refusal = zelmod::refusalOf(files, sharedWorkDir); !refusal.isEmpty()) {
        zelmod::Console::complain(refusal);
        return 1;
    }
    // Each run works in a folder of its own, so that runs never wait for
    // one another, and calls the converters in its own process;
    // --batch-files works as the window does, in its working folder.
    std::optional<QTemporaryDir> jobDir;
    if (!request.batchFiles) {
        jobDir.emplace(QDir::tempPath() + QStringLiteral("/zelmod-cli-XXXXXX"));
        if (!jobDir->isValid()) {
            zelmod::Console::complain(jobDir->errorString());
            return 1;
        }
        folders.workDir = jobDir->path();
    }
    zelmod::ReportFile report;
    if (!request.reportPath.isEmpty()) {
        if (const auto failure = report.create(request.reportPath)) {
            zelmod::Console::complain(*failure);
            return 1;
        }
    }
    zelmod::BatchRun run(request, files, folders, report);
    QObject::connect(&run, &zelmod::BatchRun::finished, &app, &QCoreApplication::exit);
    QMetaObject::invokeMethod(&run, &zelmod::BatchRun::start, Qt::QueuedConnection);
    return QCoreApplication::exec();
}
