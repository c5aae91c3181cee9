// A throw-away tool's directory with converters made of small shell
// scripts, for tests of the job, the converter run and zelmod-cli.
#pragma once

#include "ToolFolders.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <string>

namespace zelmod::testing {

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
// Leaves a child of its own running and waits; the child's id is in child.pid.
inline const char* const hanging = "sleep 60 & echo $! > child.pid; wait";
} // namespace FakeConverter

inline void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

inline QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

class FakeToolDir {
  public:
    // subdirName lets a test put awkward characters into the directory's name.
    explicit FakeToolDir(const QString& subdirName = QStringLiteral("tool"))
        : path_(root_.filePath(subdirName)) {
        QDir().mkpath(path_);
    }

    const QString& path() const { return path_; }
    // A portable copy: converters and job files in the one folder.
    zelmod::ToolFolders folders() const { return {path_, path_}; }
    QString file(const QString& name) const { return path_ + QLatin1Char('/') + name; }
    QString outside(const QString& name) const { return root_.filePath(name); }

    void setConverter(const QString& name, const char* body) const {
        const QString path = file(name);
        writeFile(path, QByteArray("#!/bin/sh\n") + body + '\n');
        QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner |
                                        QFileDevice::ExeGroup | QFileDevice::ExeOther);
    }
    void setConverters(const char* toText, const char* toMidi) const {
        setConverter(QStringLiteral("mf2t"), toText);
        setConverter(QStringLiteral("t2mf"), toMidi);
    }

    // The job's own files that are still there.
    QStringList leftovers() const {
        QStringList found;
        for (const QString& name : jobFileNames) {
            if (QFile::exists(file(name)))
                found.append(name);
        }
        return found;
    }

  private:
    QTemporaryDir root_;
    QString path_;
};

} // namespace zelmod::testing
