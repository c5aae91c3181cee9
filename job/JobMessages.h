// Every message a conversion job shows, in one place.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace zelmod {

struct JobMessage {
    enum class Icon { None, Exclamation };
    QString caption;
    QString text;
    Icon icon = Icon::None;
};

enum class JobMessageId {
    Completed,
    CompletedWithLimit,  // %1 one line for each bound that values were held at
    ClampedAtCeiling,    // %1 count, %2 notes or velocities
    ClampedAtFloor,      // %1 count, %2 notes or velocities
    JobBusy,             // %1 working folder
    ToolDirUnwritable,   // %1 working folder, %2 reason
    WorkDirNotOwned,     // %1 working folder
    InputUncopyable,     // %1 input, %2 reason
    InputNotAFile,       // %1 input
    InputNotMidi,        // %1 input
    InputIsWorkFile,     // %1 input
    OutputIsWorkFile,    // %1 output
    OutputIsProgramFile, // %1 output
    ToolDirUnencodable,  // %1 working folder
    ScriptUnwritable,    // %1 script, %2 reason
    ConverterNotStarted, // %1 converter, %2 reason
    ConverterFailed,     // %1 converter, %2 exit code, %3 the converter's message
    ConversionRefused,   // %1 input, %2 why in the user's terms, %3 the converter's line
    ConverterCrashed,    // %1 converter, %2 the converter's message
    ConverterNoOutput,   // %1 converter, %2 missing file
    WorkFileUncreatable, // %1 file, %2 reason
    EventTextUnopenable, // %1 file, %2 reason
    EventTextUnreadable, // %1 line number, %2 file, %3 reason
    EventLineInvalid,    // %1 line number, %2 the line
    EventTextUnreversed, // %1 the reversal's error line, naming the file and line
    EventTextUnwritable, // %1 line number, %2 file, %3 reason
    OutputUnwritable,    // %1 output, %2 reason; an earlier file there is kept
    OutputUncreatable,   // %1 output, %2 reason; no file was there
    InputNamesClash,     // %1 and %2 inputs of the same name for one output folder
    OutputIsInput,       // %1 output that is also an input
    Interrupted,
    OutputInUse,            // %1 output that cannot be replaced
    OutputReadOnly,         // %1 output that may not be replaced
    OutputFolderUnwritable, // %1 output in a folder that may not be written
    // Files dropped on the window, converted into one folder.
    DroppedFolderTitle,  // the folder dialog's title
    DroppedNotMidi,      // a dropped file that is not a MIDI file
    DroppedOutputsExist, // %1 how many outputs are already there
    DroppedSummary,      // %1 files written, %2 of them clamped, %3 failed
    DroppedFailure,      // %1 file, %2 why it failed or was skipped
    DroppedMoreFailures, // %1 how many more
    DroppedSkipped,      // the file was already there
    WorkFileUnremovable, // %1 file left from before, %2 reason
    WorkFileNotPrivate,  // %1 file that others own, share or could change
};

// Why a job failed: the message it is to show, built where the failure
// happens and carried unchanged to the host. A step that can fail gives an
// empty std::optional<JobFailure> when it succeeded.
struct JobFailure {
    JobMessageId id;
    QStringList arguments;
    bool operator==(const JobFailure&) const = default;
};

// The message with its placeholders filled in order. Paths are given in
// the system's own notation.
JobMessage jobMessage(JobMessageId id, const QStringList& arguments = {});
JobMessage jobMessage(const JobFailure& failure);

// The values a job had to keep within their bounds: shifted past the
// ceiling (written as 127) or below the floor (raised to 1).
struct ClampCount {
    quint64 atCeiling = 0;
    quint64 atFloor = 0;
    bool velocities = false; // the job changes velocities, not notes
    quint64 total() const { return atCeiling + atFloor; }
};

// The message of a job that wrote its output.
JobMessage completionMessage(const ClampCount& clamped);

// Why a converter refused the user's input, from its line
// ("mf2t: FILE: byte N: what", "t2mf: FILE: line N: what").
JobFailure converterRefusal(bool midiToText, const QString& input, const QString& line);

// A path as the user knows it.
QString shownPath(const QString& path);

// A failure that names a file and the system's reason.
JobFailure fileFailure(JobMessageId id, const QString& path, const QString& reason);

} // namespace zelmod
