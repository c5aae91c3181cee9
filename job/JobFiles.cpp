#include "job/JobFiles.h"

#include "files/Files.h"
#include "job/NativePath.h"

#include <QFileInfo>

#include <algorithm>
#include <array>
#include <functional>
#include <optional>

namespace zelmod {
namespace {

using FileNames = std::array<QString, 6>;

// The intermediate files in the order a job clears them before it starts.
const FileNames& intermediateFileNames() {
    static const FileNames names{
        WorkFile::inputCopy,        WorkFile::outputMidi, toTextCommand().scriptName,
        toMidiCommand().scriptName, WorkFile::eventText,  WorkFile::rewrittenText,
    };
    return names;
}

// The same files in the order a job removes them when it ends.
const FileNames& intermediateFileNamesAtEnd() {
    static const FileNames names{
        WorkFile::inputCopy,        WorkFile::eventText,     toTextCommand().scriptName,
        toMidiCommand().scriptName, WorkFile::rewrittenText, WorkFile::outputMidi,
    };
    return names;
}

// The converters write their outputs through partial files beside them and
// rename those only when done, so a converter that was stopped (killed, or
// over a file-size limit) leaves one behind.
const std::array<QString, 2>& converterOutputNames() {
    static const std::array<QString, 2> names{WorkFile::eventText, WorkFile::outputMidi};
    return names;
}

bool isConverterPartial(const QString& name, const QString& workDir) {
    return std::any_of(converterOutputNames().begin(), converterOutputNames().end(),
                       [&](const QString& output) {
                           return convert::isPartialNameOf(nativeString(name),
                                                           nativeString(workPath(workDir, output)));
                       });
}

QString removeFile(const QString& path) {
    setNormalAttributes(path);
    return removeNative(path);
}

// MF2T.EXE on Windows, mf2t elsewhere.
QString converterName(const char* baseName) {
#ifdef Q_OS_WIN
    return QString::fromLatin1(baseName).toUpper() + QStringLiteral(".EXE");
#else
    return QString::fromLatin1(baseName);
#endif
}

// Whether writing to path reaches a file in dir whose name isListed says
// yes to. Links and "." do not hide that two paths meet. The name is asked
// first: resolving the folders costs a system call for each of their parts.
bool reachesListedFile(const QString& path, const QString& dir,
                       const std::function<bool(const QString&)>& isListed) {
    std::string target;
    try {
        target = convert::replacementTarget(nativeString(path));
    } catch (const convert::ConversionError&) {
        return false; // a loop of links, which no job can write through
    }
    const QString targetPath = pathFromNative(QByteArray::fromStdString(target));
    const QString name = QFileInfo(targetPath).fileName();
    return isListed(name) &&
           pathIdentity(targetPath).compare(pathIdentity(workPath(dir, name)), fileNameCase) == 0;
}

bool isOneOf(const QString& name, const auto& names) {
    return std::any_of(names.begin(), names.end(), [&](const QString& listed) {
        return name.compare(listed, fileNameCase) == 0;
    });
}

// The converter's arguments: its input and its output, each after a blank.
QString argumentsText(const QString& input, const QString& output) {
    return QLatin1Char(' ') + input + QLatin1Char(' ') + output;
}

} // namespace

const ConverterCommand& toTextCommand() {
    static const ConverterCommand command{QStringLiteral("Zelmod.bat"), converterName("mf2t"),
                                          argumentsText(WorkFile::inputCopy, WorkFile::eventText)};
    return command;
}

const ConverterCommand& toMidiCommand() {
    static const ConverterCommand command{
        QStringLiteral("Zelmod2.bat"), converterName("t2mf"),
        argumentsText(WorkFile::rewrittenText, WorkFile::outputMidi)};
    return command;
}

QString workPath(const QString& dir, const QString& name) {
    return dir + QLatin1Char('/') + name;
}

std::optional<JobFailure> removeIntermediateFiles(const QString& workDir, CleanUp when) {
    const FileNames& names =
        when == CleanUp::BeforeJob ? intermediateFileNames() : intermediateFileNamesAtEnd();
    std::optional<JobFailure> stays;
    for (const QString& name : names) {
        const QString path = workPath(workDir, name);
        const QString reason = removeFile(path);
        if (!reason.isEmpty() && !stays)
            stays = fileFailure(JobMessageId::WorkFileUnremovable, path, reason);
    }
    for (const QString& name : converterOutputNames())
        convert::removeStalePartials(nativeString(workPath(workDir, name)));
    return stays;
}

bool isJobFile(const QString& path, const QString& workDir) {
    return reachesListedFile(path, workDir, [&](const QString& name) {
        return isOneOf(name, intermediateFileNames()) || isConverterPartial(name, workDir) ||
               isOneOf(name, std::array{WorkFile::setupFile, WorkFile::lock});
    });
}

bool isProgramFile(const QString& path, const QString& dir) {
    static const std::array<QString, 4> names{converterName("mf2t"), converterName("t2mf"),
                                              converterName("zelmod-cli"), converterName("Zelmod")};
    return reachesListedFile(path, dir, [](const QString& name) { return isOneOf(name, names); });
}

} // namespace zelmod
