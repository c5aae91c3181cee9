#include "cli/CommandLine.h"

#include "job/JobFiles.h"
#include "job/JobMessages.h"
#include "job/NativePath.h"

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

// The job names as one list, for the help and for a wrong --job.
QString jobList() {
    QStringList names;
    for (const JobName& entry : jobNames)
        names.append(QLatin1String(entry.name));
    return names.join(QStringLiteral(", "));
}

const QCommandLineOption jobOption(QStringLiteral("job"), QStringLiteral("one of ") + jobList(),
                                   QStringLiteral("JOB"));
const QCommandLineOption
    amountOption(QStringLiteral("amount"),
                 QStringLiteral("shift amount, read like the window's amount box (default 0)"),
                 QStringLiteral("TEXT"), QStringLiteral("0"));
const QCommandLineOption outputOption(QStringLiteral("o"),
                                      QStringLiteral("the output for a single input"),
                                      QStringLiteral("OUT.mid"));
const QCommandLineOption
    outDirOption(QStringLiteral("out-dir"),
                 QStringLiteral("one output per input in DIR, under the input's file name"),
                 QStringLiteral("DIR"));
const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                    QStringLiteral("print this help and exit"));
const QCommandLineOption versionOption(QStringLiteral("version"),
                                       QStringLiteral("print the version and exit"));

// The options with their descriptions, from which the parser also writes the help.
void describeOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Rewrites the notes of Standard MIDI Files with the converters beside this program.\n"
        "An existing output is replaced; an output may not be an input. Exit status:\n"
        "0 every file written, 1 some failed or interrupted, 2 usage error."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions(
        {jobOption, amountOption, outputOption, outDirOption, helpOption, versionOption});
    parser.addPositionalArgument(QStringLiteral("IN.mid"), QStringLiteral("the files to rewrite"),
                                 QStringLiteral("IN.mid..."));
}

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
    QCommandLineParser parser;
    describeOptions(parser);
    return parser.helpText();
}

bool parseCommandLine(const QStringList& arguments, CliRequest& request, QString& error) {
    QCommandLineParser parser;
    describeOptions(parser);
    if (!parser.parse(arguments)) {
        error = parser.errorText();
        return false;
    }
    request.versionAsked = parser.isSet(versionOption);
    if (parser.isSet(helpOption) || request.versionAsked)
        return false;
    const QStringList inputs = parser.positionalArguments();
    if (!parser.isSet(jobOption) || !jobFromName(parser.value(jobOption), request.job))
        error = QStringLiteral("--job must be one of ") + jobList();
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

QString refusalOf(const CliRequest& request, const QString& workDir) {
    QStringList inputs;
    for (const FileJob& file : request.files)
        inputs.append(pathIdentity(file.input));
    for (qsizetype i = 0; i < request.files.size(); ++i) {
        const FileJob& file = request.files[i];
        // The job clears its work files before it reads the input.
        if (isJobFile(file.input, workDir))
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
