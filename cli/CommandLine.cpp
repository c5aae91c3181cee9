#include "cli/CommandLine.h"

#include "job/NativePath.h"
#include "job/amount/ShiftAmount.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <QThread>

#include <array>
#include <filesystem>

namespace zelmod {
namespace {

// More would only hold more files open at once.
constexpr int maxJobs = 256;

struct JobName {
    const char* name;
    Job job;
};

constexpr std::array<JobName, 5> jobNames{{
    {"pitch-mirror", Job::PitchMirror},
    {"transpose", Job::Transpose},
    {"velocity-mirror", Job::VelocityMirror},
    {"velocity-shift", Job::VelocityShift},
    {"reverse", Job::Reverse},
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
const QCommandLineOption amountOption(
    QStringLiteral("amount"),
    QStringLiteral("shift amount, a number kept within -127..127 (default 0); several, as "
                   "1,3,5 or -5..6, write each into its own folder below --out-dir; --job "
                   "reverse checks it, then ignores it"),
    QStringLiteral("AMOUNTS"), QStringLiteral("0"));
const QCommandLineOption outputOption(QStringLiteral("o"),
                                      QStringLiteral("the output for a single input file "
                                                     "(- for standard output)"),
                                      QStringLiteral("OUT.mid"));
const QCommandLineOption outDirOption(
    QStringLiteral("out-dir"),
    QStringLiteral("one output per input in DIR (made when missing): a file under its own "
                   "name, a folder's files in the same tree below DIR"),
    QStringLiteral("DIR"));
const QCommandLineOption filesFromOption(
    QStringLiteral("files-from"),
    QStringLiteral("more inputs, one a line (- for standard input); a relative name keeps "
                   "its folders below --out-dir"),
    QStringLiteral("FILE"));
const QCommandLineOption nulOption(QStringLiteral("0"),
                                   QStringLiteral("the --files-from names end with NUL, as "
                                                  "find -print0 writes them"));
const QCommandLineOption skipOption(QStringLiteral("skip-existing"),
                                    QStringLiteral("leave an input whose output exists"));
const QCommandLineOption quietOption(QStringLiteral("quiet"),
                                     QStringLiteral("print failures only"));
const QCommandLineOption
    reportOption(QStringLiteral("report"),
                 QStringLiteral("write one JSON object per input and line to FILE, a new file "
                                "(- for standard output)"),
                 QStringLiteral("FILE"));
const QCommandLineOption batchFilesOption(
    QStringLiteral("batch-files"),
    QStringLiteral("run the converters as the window does, through batch files in its "
                   "working folder, one run at a time"));
const QCommandLineOption jobsOption(QStringList{QStringLiteral("j"), QStringLiteral("jobs")},
                                    QStringLiteral("convert N files at once (default: the "
                                                   "number of processors)"),
                                    QStringLiteral("N"));
const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                    QStringLiteral("print this help and exit"));
const QCommandLineOption versionOption(QStringLiteral("version"),
                                       QStringLiteral("print the version and exit"));

// The options with their descriptions, from which the parser also writes the help.
void describeOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Rewrites the notes of Standard MIDI Files. A folder given as input is searched\n"
        "for .mid and .midi files. An existing output is replaced; an output may not be\n"
        "an input. Exit status: 0 every file written or skipped, 1 some failed or\n"
        "interrupted, 2 usage error."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions({jobOption, amountOption, outputOption, outDirOption, filesFromOption,
                       nulOption, skipOption, quietOption, reportOption, jobsOption,
                       batchFilesOption, helpOption, versionOption});
    parser.addPositionalArgument(QStringLiteral("IN"),
                                 QStringLiteral("the files and folders to rewrite"),
                                 QStringLiteral("IN..."));
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

// The amounts of one item of the list: a number, or a range of whole numbers.
bool addAmounts(const QString& item, QStringList& amounts, QString& error) {
    const qsizetype dots = item.indexOf(QLatin1String(".."));
    if (dots < 0) {
        if (!isWhollyAmount(item)) {
            error = QStringLiteral("--amount: \"%1\" is not a number").arg(item);
            return false;
        }
        amounts.append(item);
        return true;
    }
    const QString first = item.left(dots);
    const QString last = item.mid(dots + 2);
    const double from = amountFromText(first.toStdString());
    const double to = amountFromText(last.toStdString());
    const auto whole = [](double value) { return value == double(qint64(value)); };
    if (!isWhollyAmount(first) || !isWhollyAmount(last) || !whole(from) || !whole(to) ||
        from > to || to - from > 2 * AmountLimit) {
        error =
            QStringLiteral("--amount: \"%1\" is not a range of whole numbers, low..high").arg(item);
        return false;
    }
    for (qint64 amount = qint64(from); amount <= qint64(to); ++amount)
        amounts.append(QString::number(amount));
    return true;
}

bool readAmounts(const QString& text, QStringList& amounts, QString& error) {
    amounts.clear();
    for (const QString& item : text.split(QLatin1Char(','))) {
        if (!addAmounts(item, amounts, error))
            return false;
    }
    return true;
}

// The choices that contradict each other or leave the run without work.
QString conflictIn(const QCommandLineParser& parser, const CliRequest& request) {
    if (parser.isSet(outputOption) == parser.isSet(outDirOption))
        return QStringLiteral("give either -o or --out-dir");
    if (request.inputs.isEmpty() && request.filesFrom.isEmpty())
        return QStringLiteral("no input given");
    std::error_code ignored;
    if (!request.output.isEmpty() &&
        (request.inputs.size() != 1 || !request.filesFrom.isEmpty() ||
         std::filesystem::is_directory(filesystemPath(request.inputs[0]), ignored)))
        return QStringLiteral("-o takes exactly one input file");
    if (!request.output.isEmpty() && request.amountTexts.size() != 1)
        return QStringLiteral("-o takes a single amount");
    if (request.nulSeparated && request.filesFrom.isEmpty())
        return QStringLiteral("-0 goes with --files-from");
    if (request.output == QLatin1String("-") && request.reportPath == QLatin1String("-"))
        return QStringLiteral("-o - and --report - would share standard output");
    return QString();
}

} // namespace

QString usageText() {
    QCommandLineParser parser;
    describeOptions(parser);
    return parser.helpText();
}

QString jobName(Job job) {
    for (const JobName& entry : jobNames) {
        if (entry.job == job)
            return QLatin1String(entry.name);
    }
    return QString();
}

// Full-width digits and signs are folded as Unicode folds them; the text
// only passes when the amount reader gets the same number from it as from
// the folded text, so no reading is accepted that the job would not make.
bool isWhollyAmount(const QString& text) {
    static const QRegularExpression number(QStringLiteral(
        "^([+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([EeDd][+-]?[0-9]+)?|&[Hh][0-9A-Fa-f]+|&[Oo][0-7]+)$"));
    QString folded = text.normalized(QString::NormalizationForm_KC);
    folded.remove(QRegularExpression(QStringLiteral("[ \\t\\n]")));
    return number.match(folded).hasMatch() &&
           amountFromText(folded.toStdString()) == amountFromText(text.toStdString());
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
    if (!parser.isSet(jobOption) || !jobFromName(parser.value(jobOption), request.job)) {
        error = QStringLiteral("--job must be one of ") + jobList();
        return false;
    }
    if (!readAmounts(parser.value(amountOption), request.amountTexts, error))
        return false;
    request.output = parser.value(outputOption);
    request.outDir = parser.value(outDirOption);
    request.inputs = parser.positionalArguments();
    request.filesFrom = parser.value(filesFromOption);
    request.nulSeparated = parser.isSet(nulOption);
    request.skipExisting = parser.isSet(skipOption);
    request.quiet = parser.isSet(quietOption);
    request.reportPath = parser.value(reportOption);
    request.batchFiles = parser.isSet(batchFilesOption);
    bool whole = true;
    request.jobs = parser.isSet(jobsOption) ? parser.value(jobsOption).toInt(&whole)
                                            : QThread::idealThreadCount();
    if (!whole || request.jobs < 1 || request.jobs > maxJobs) {
        error = QStringLiteral("-j: \"%1\" is not a number of files from 1 to %2")
                    .arg(parser.value(jobsOption))
                    .arg(maxJobs);
        return false;
    }
    error = conflictIn(parser, request);
    return error.isEmpty();
}

} // namespace zelmod
