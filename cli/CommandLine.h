// What zelmod-cli was asked to do.
#pragma once

#include "transform/TransformEventLine.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace zelmod {

struct FileJob {
    QString input;
    QString output;
};

struct CliRequest {
    Job job = Job::PitchMirror;
    QString amountText;
    bool versionAsked = false; // --version: print it and do nothing else
    QList<FileJob> files;
};

// Reads the arguments (program name first). On a usage error gives false
// and sets error; on --help or --version gives false with an empty error.
bool parseCommandLine(const QStringList& arguments, CliRequest& request, QString& error);

// The text printed for --help and after a usage error.
QString usageText();

// Why the files cannot be converted as asked, checked before any work
// starts: an input that is one of the job's work files in workDir, two
// inputs of one name for one folder, or an output that is one of the inputs
// (with -o as with --out-dir). Empty when they can.
QString refusalOf(const CliRequest& request, const QString& workDir);

} // namespace zelmod
