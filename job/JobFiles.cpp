#include "JobFiles.h"

#include "JobLock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>

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

// The converters write their outputs through OUTPUT.tmp beside them and
// rename that only when done, so a converter that was stopped (killed, or
// over a file-size limit) leaves it behind.
const std::array<QString, 2>& converterTemporaryNames() {
    static const std::array<QString, 2> names{WorkFile::eventText + QStringLiteral(".tmp"),
                                              WorkFile::outputMidi + QStringLiteral(".tmp")};
    return names;
}

void removeFile(const QString& path) {
    makeReplaceable(path);
    QFile::remove(path);
}

#ifdef Q_OS_WIN
constexpr Qt::CaseSensitivity fileNameCase = Qt::CaseInsensitive;
#else
constexpr Qt::CaseSensitivity fileNameCase = Qt::CaseSensitive;
#endif

// The folder as the system resolves it, so that links and "." do not hide
// that two paths meet.
QString resolvedDir(const QString& dir) {
    const QString canonical = QFileInfo(dir).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(QDir(dir).absolutePath()) : canonical;
}

// MF2T.EXE on Windows, mf2t elsewhere.
QString converterName(const char* baseName) {
#ifdef Q_OS_WIN
    return QString::fromLatin1(baseName).toUpper() + QStringLiteral(".EXE");
#else
    return QString::fromLatin1(baseName);
#endif
}

} // namespace

const ConverterCommand& toTextCommand() {
    static const ConverterCommand command{QStringLiteral("Zelmod.bat"), converterName("mf2t"),
                                          QStringLiteral(" Zeltmp.dat Zeltmps.txt")};
    return command;
}

const ConverterCommand& toMidiCommand() {
    static const ConverterCommand command{QStringLiteral("Zelmod2.bat"), converterName("t2mf"),
                                          QStringLiteral(" Zeltmpd.txt Zeltmp2.dat")};
    return command;
}

QString workPath(const QString& toolDir, const QString& name) {
    return toolDir + QLatin1Char('/') + name;
}

void makeReplaceable(const QString& path) {
#ifdef Q_OS_WIN
    if (QFileInfo::exists(path))
        QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::WriteOwner);
#else
    Q_UNUSED(path);
#endif
}

void removeIntermediateFiles(const QString& toolDir, CleanUp when) {
    const FileNames& names =
        when == CleanUp::BeforeJob ? intermediateFileNames() : intermediateFileNamesAtEnd();
    for (const QString& name : names)
        removeFile(workPath(toolDir, name));
    for (const QString& name : converterTemporaryNames())
        removeFile(workPath(toolDir, name));
}

bool isJobFile(const QString& path, const QString& toolDir) {
    const QFileInfo file(path);
    if (resolvedDir(file.absolutePath()).compare(resolvedDir(toolDir), fileNameCase) != 0)
        return false;
    const QString name = file.fileName();
    const auto same = [&](const QString& jobName) {
        return name.compare(jobName, fileNameCase) == 0;
    };
    return std::any_of(intermediateFileNames().begin(), intermediateFileNames().end(), same) ||
           std::any_of(converterTemporaryNames().begin(), converterTemporaryNames().end(), same) ||
           same(QLatin1String(JobLock::fileName));
}

} // namespace zelmod
