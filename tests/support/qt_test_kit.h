// The test kit's Qt part: readable failure messages for Qt's types, whole
// files, the program's own files, a throw-away tool's directory with
// converters made of small shell scripts, a recording host for jobs, waits
// that handle events, and the warnings Qt reports.
#pragma once

#include "job/ConversionJob.h"
#include "job/ToolFolders.h"
#include "tests/support/test_files.h"
#include "transform/TransformEventLine.h"
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

#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <vector>

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

// A MIDI file of one MTrk per body (midiFile), as Qt bytes.
QByteArray midiBytes(std::initializer_list<Bytes> trackBodies);
// Bytes given in hexadecimal.
Bytes hexBytes(const char* hex);

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
// Copies, without the line "MThd" that lets a text pass for a MIDI file.
inline const char* const copying = "sed /^MThd$/d \"$1\" > \"$2\"";
inline const char* const failing = "echo \"fake: $1: not what was expected\" >&2; exit 1";
inline const char* const capping =
    "cp \"$1\" \"$2\"; echo \"t2mf: $1: capped 2 note values above 127 to 127\" >&2; exit 3";
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
    // Whatever the folder holds besides the programs and the setup file.
    QStringList leftovers() const;

  private:
    Workspace space_;
    QString path_;
};
#endif

// Handles events until the condition holds, at most for limit; whether it came.
bool handleEventsUntil(const std::function<bool()>& condition,
                       std::chrono::milliseconds limit = std::chrono::seconds(30));

// Starts the job and handles events until it has ended.
ConversionJob::Outcome runToEnd(ConversionJob& job);
// Starts the converter and handles events until its run has ended.
ConverterRunResult runToEnd(ConverterRunner& runner, const ConverterCommand& command);

// Stands in for a window: answers the dialogs and records what the job shows.
class RecordingHost : public JobHost {
  public:
    QString amount = QStringLiteral("12");
    Job job = Job::Transpose;
    std::optional<QString> input;  // nothing: the Open dialog is cancelled
    std::optional<QString> output; // nothing: the Save dialog is cancelled
    std::vector<bool> controlStates;
    std::vector<JobMessage> messages;
    QStringList dialogStarts; // the path each dialog started from
    mutable std::vector<int> selectionQuestions;
    bool busy = false;
    bool wasBusy = false;
    bool busyAtAMessage = false;

    void setControlsEnabled(bool enabled) override { controlStates.push_back(enabled); }
    QString amountText() const override { return amount; }
    void setAmountText(const QString& text) override { amount = text; }
    bool isJobSelected(int index) const override {
        selectionQuestions.push_back(index);
        return index == int(job);
    }
    bool chooseInput(QString& path) override { return choose(input, path); }
    bool chooseOutput(QString& path) override { return choose(output, path); }
    void showMessage(const JobMessage& message) override {
        messages.push_back(message);
        busyAtAMessage = busyAtAMessage || busy;
    }
    void setBusy(bool converting) override {
        busy = converting;
        wasBusy = wasBusy || converting;
    }
    // Caption and text of every message, one a line.
    QString shownMessages() const;

  private:
    bool choose(const std::optional<QString>& answer, QString& path) {
        dialogStarts.append(path);
        if (answer)
            path = *answer;
        return answer.has_value();
    }
};

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
