#include "job/JobFiles.h"

#include "files/Files.h"
#include "job/NativePath.h"

#include <QFileInfo>

#include <algorithm>
#include <array>
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

bool isConverterPartial(const std::optional<QString>& name, const QString& workDir) {
    return name &&
           std::any_of(converterOutputNames().begin(), converterOutputNames().end(),
                       [&](const QString& output) {
                           return convert::isPartialNameOf(nativeString(*name),
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

// The name of the file that writing to path reaches when that file lies in
// dir, or nothing. Links and "." do not hide that two paths meet.
std::optional<QString> nameIn(const QString& path, const QString& dir) {
    std::string target;
    try {
        target = convert::replacementTarget(nativeString(path));
    } catch (const convert::ConversionError&) {
        return std::nullopt; // a loop of links, which no job can write through
    }
    const QString targetPath = pathFromNative(QByteArray::fromStdString(target));
    const QString name = QFileInfo(targetPath).fileName();
    if (pathIdentity(targetPath).compare(pathIdentity(workPath(dir, name)), fileNameCase) != 0)
        return std::nullopt;
    return name;
}

bool isOneOf(const std::optional<QString>& name, const auto& names) {
    return name && std::any_of(names.begin(), names.end(), [&](const QString& listed) {
               return name->compare(listed, fileNameCase) == 0;
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
    const std::optional<QString> name = nameIn(path, workDir);
    return isOneOf(name, intermediateFileNames()) || isConverterPartial(name, workDir) ||
           isOneOf(name, std::array{WorkFile::setupFile, WorkFile::lock});
}

bool isProgramFile(const QString& path, const QString& dir) {
    static const std::array<QString, 4> names{converterName("mf2t"), converterName("t2mf"),
                                              converterName("zelmod-cli"), converterName("Zelmod")};
    return isOneOf(nameIn(path, dir), names);
}

} // namespace zelmod
