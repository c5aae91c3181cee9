// What zelmod-cli was asked to do.
#pragma once

#include "transform/TransformEventLine.h"

#include <QString>
#include <QStringList>

namespace zelmod {

struct CliRequest {
    Job job = Job::PitchMirror;
    // One amount text per pass over the inputs; with more than one, each
    // pass writes into a folder of its own below the output folder.
    QStringList amountTexts;
    QString output;     // -o: the output of the one input ("-" for standard output)
    QString outDir;     // --out-dir
    QStringList inputs; // files and folders from the command line
    QString filesFrom;  // --files-from: a list of more inputs ("-" for standard input)
    bool nulSeparated = false;
    bool skipExisting = false;
    bool quiet = false;
    int jobs = 1;              // files converted at once
    bool batchFiles = false;   // run the converters as the window does, in its working folder
    QString reportPath;        // --report: a record per input, for scripts
    bool versionAsked = false; // --version: print it and do nothing else

    // Standard output carries the converted file or the report.
    bool messagesToErrorOutput() const {
        return output == QLatin1String("-") || reportPath == QLatin1String("-");
    }
};

// Reads the arguments (program name first). On a usage error gives false
// and sets error; on --help or --version gives false with an empty error.
bool parseCommandLine(const QStringList& arguments, CliRequest& request, QString& error);

// The text printed for --help and after a usage error.
QString usageText();

// The command-line name of a job, as --job takes it.
QString jobName(Job job);

// Whether the text is one number and nothing more (blanks aside), read as
// the window's amount box reads it.
bool isWhollyAmount(const QString& text);

} // namespace zelmod
