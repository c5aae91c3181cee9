// The test kit's Qt part: readable failure messages for Qt's types, whole
// files, the program's own files, a throw-away tool's directory with
// converters made of small shell scripts, and the warnings Qt reports.
#pragma once

#include "job/ToolFolders.h"
#include "tests/support/test_files.h"
#ifdef Q_OS_UNIX
#include "tests/support/test_processes.h"
#endif

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <ostream>

// Readable failure messages for the texts and bytes the tests compare.
inline std::ostream& operator<<(std::ostream& out, const QString& text) {
    return out << text.toStdString();
}
inline std::ostream& operator<<(std::ostream& out, const QByteArray& bytes) {
    return out << '"' << bytes.toPercentEncoding(" ").toStdString() << '"';
}
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text << '"';
}
inline void PrintTo(const QByteArray& bytes, std::ostream* out) {
    *out << bytes;
}
inline void PrintTo(const QSize& size, std::ostream* out) {
    *out << size.width() << 'x' << size.height();
}

namespace zelmod::testing {

// A file that cannot be read reads as Unreadable.
QByteArray readFile(const QString& path);
// Writes the whole file and gives it mode; throws when it cannot.
void writeFile(const QString& path, const QByteArray& bytes,
               QFile::Permissions mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                         QFile::ReadOther);
// The owner may read and write the file: its attributes are normal.
bool hasNormalMode(const QString& path);

// The whole setup file as the program writes it.
inline const QByteArray SetupFileBytes = "Zelmod Setup File Ver.1.00\r\n";

// The job's own files in the tool's directory.
inline const QStringList jobFileNames{
    QStringLiteral("Zeltmp.dat"),     QStringLiteral("Zeltmp2.dat"), QStringLiteral("Zelmod.bat"),
    QStringLiteral("Zelmod2.bat"),    QStringLiteral("Zeltmps.txt"), QStringLiteral("Zeltmpd.txt"),
    QStringLiteral("Zelmod.job.lock")};

// Converters that stand in for the real ones. Each gets its input and
// output file names as $1 and $2.
namespace FakeConverter {
inline const char* const copying = "cp \"$1\" \"$2\"";
inline const char* const failing = "echo \"fake: $1: not what was expected\" >&2; exit 1";
inline const char* const silent = "exit 0";
inline const char* const capping =
    "cp \"$1\" \"$2\"; echo \"t2mf: $1: capped 2 note values above 127 to 127\" >&2; exit 3";
inline const char* const invalidLine =
    "printf '0 On ch=1 n=60 v=1\\r\\n0 On ch=1 n=abc v=1\\r\\n' > \"$2\"";
// Leaves a child of its own running and waits; the child's id is in
// child.pid beside the tool's folder, which is renamed into place whole, so
// that a test never reads it empty.
inline const char* const hanging =
    "sleep 60 & echo $! > ../child.pid.part && mv ../child.pid.part ../child.pid; wait";
} // namespace FakeConverter

#ifdef Q_OS_UNIX
// A throw-away tool's folder (the test kit's Workspace, without programs),
// for tests of the job, the converter run and zelmod-cli.
class FakeToolDir {
  public:
    // subdirName lets a test put awkward characters into the folder's name.
    explicit FakeToolDir(const QString& subdirName = QStringLiteral("tool"));

    const QString& path() const { return path_; }
    // A portable copy: converters and job files in the one folder.
    zelmod::ToolFolders folders() const { return {path_, path_}; }
    QString file(const QString& name) const { return path_ + QLatin1Char('/') + name; }
    QString outside(const QString& name) const;

    void setConverter(const QString& name, const char* body) const;
    void setConverters(const char* toText, const char* toMidi) const;
    // Whatever the folder holds besides the programs.
    QStringList leftovers() const;

  private:
    Workspace space_;
    QString path_;
};
#endif

// Collects the warnings the program reports while it lives.
class WarningCapture {
  public:
    WarningCapture();
    ~WarningCapture();
    WarningCapture(const WarningCapture&) = delete;
    WarningCapture& operator=(const WarningCapture&) = delete;

    int count() const;
    QString text() const;

  private:
    QtMessageHandler previous;
};

} // namespace zelmod::testing
