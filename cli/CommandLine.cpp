#include "CommandLine.h"

#include "JobFiles.h"
#include "JobMessages.h"
#include "NativePath.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

#include <array>

namespace zelmod {
namespace {

struct JobName {
    const char* name;
    Job job;
};

constexpr std::array<JobName, 4> jobNames{{
    {"pitch-mirror", Job::PitchMirror},
    {"transpose", Job::Transpose},
    {"velocity-mirror", Job::VelocityMirror},
    {"velocity-shift", Job::VelocityShift},
}};

const QCommandLineOption jobOption(QStringLiteral("job"), QString(), QStringLiteral("job"));
const QCommandLineOption amountOption(QStringLiteral("amount"), QString(), QStringLiteral("text"),
                                      QStringLiteral("0"));
const QCommandLineOption outputOption(QStringLiteral("o"), QString(), QStringLiteral("file"));
const QCommandLineOption outDirOption(QStringLiteral("out-dir"), QString(), QStringLiteral("dir"));
const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
const QCommandLineOption versionOption(QStringLiteral("version"));

bool jobFromName(const QString& name, Job& job) {
    for (const JobName& entry : jobNames) {
        if (name == QLatin1String(entry.name)) {
            job = entry.job;
            return true;
        }
    }
    return false;
}

} // namespace

QString usageText() {
    return QStringLiteral(
        "usage: zelmod-cli --job JOB [--amount TEXT] -o OUT.mid IN.mid\n"
        "       zelmod-cli --job JOB [--amount TEXT] --out-dir DIR IN.mid...\n"
        "Rewrites the notes of Standard MIDI Files with the converters beside this program.\n"
        "  --job JOB        pitch-mirror, transpose, velocity-mirror or velocity-shift\n"
        "  --amount TEXT    shift amount, read like the window's amount box (default 0)\n"
        "  -o OUT.mid       the output for a single input\n"
        "  --out-dir DIR    one output per input in DIR, under the input's file name\n"
        "  --version        print the version and exit\n"
        "An existing output is replaced; an output may not be an input. Exit status:\n"
        "0 every file written, 1 some failed or interrupted, 2 usage error.\n");
}

bool parseCommandLine(const QStringList& arguments, CliRequest& request, QString& error) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions(
        {jobOption, amountOption, outputOption, outDirOption, helpOption, versionOption});
    if (!parser.parse(arguments)) {
        error = parser.errorText();
        return false;
    }
    request.versionAsked = parser.isSet(versionOption);
    if (parser.isSet(helpOption) || request.versionAsked)
        return false;
    const QStringList inputs = parser.positionalArguments();
    if (!parser.isSet(jobOption) || !jobFromName(parser.value(jobOption), request.job))
        error = QStringLiteral("--job must be one of pitch-mirror, transpose, velocity-mirror, "
                               "velocity-shift");
    else if (parser.isSet(outputOption) == parser.isSet(outDirOption))
        error = QStringLiteral("give either -o or --out-dir");
    else if (inputs.isEmpty())
        error = QStringLiteral("no input file given");
    else if (parser.isSet(outputOption) && inputs.size() != 1)
        error = QStringLiteral("-o takes exactly one input file");
    if (!error.isEmpty())
        return false;

    request.amountText = parser.value(amountOption);
    request.files.clear();
    for (const QString& input : inputs) {
        const QString output =
            parser.isSet(outputOption)
                ? parser.value(outputOption)
                : QDir(parser.value(outDirOption)).filePath(QFileInfo(input).fileName());
        request.files.append({input, output});
    }
    return true;
}

QString refusalOf(const CliRequest& request, const QString& toolDir) {
    QStringList inputs;
    for (const FileJob& file : request.files)
        inputs.append(pathIdentity(file.input));
    for (qsizetype i = 0; i < request.files.size(); ++i) {
        const FileJob& file = request.files[i];
        // The job clears its work files before it reads the input.
        if (isJobFile(file.input, toolDir))
            return jobMessage(JobMessageId::InputIsWorkFile, {shownPath(file.input)}).text;
        for (qsizetype j = 0; j < i; ++j) {
            if (request.files[j].output.compare(file.output, fileNameCase) == 0)
                return jobMessage(JobMessageId::InputNamesClash,
                                  {shownPath(request.files[j].input), shownPath(file.input)})
                    .text;
        }
        if (inputs.contains(pathIdentity(file.output), fileNameCase))
            return jobMessage(JobMessageId::OutputIsInput, {shownPath(file.output)}).text;
    }
    return QString();
}

} // namespace zelmod
