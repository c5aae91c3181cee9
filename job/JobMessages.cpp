#include "job/JobMessages.h"

#include <QDir>
#include <QRegularExpression>

#include <array>

namespace zelmod {
namespace {

struct MessageText {
    JobMessageId id;
    const char* text;
};

// The words for a file that is no MIDI file: the job's refusal, the summary
// of dropped files and the meaning of the converter's line all say them.
#define NOT_MIDI_TEXT "MIDI ファイルではありません"

const char* const completedCaption = "(?)<変換完了！";
const char* const errorCaption = "§ エラー";
const char* const notes = "音";
const char* const velocities = "強弱";

// In the order of JobMessageId.
constexpr std::array<MessageText, 43> messageTexts{{
    {JobMessageId::Completed, "変換完了！"},
    {JobMessageId::CompletedWithLimit, "変換は完了しましたが、\n%1"},
    {JobMessageId::ClampedAtCeiling, "%1 個の%2が上限 127 で頭打ちになりました"},
    {JobMessageId::ClampedAtFloor, "%1 個の%2が下限 1 に引き上げられました"},
    {JobMessageId::JobBusy, "このフォルダでは別の変換が実行中です、同時には変換できません\n%1"},
    {JobMessageId::ToolDirUnwritable, "ツールのフォルダに書き込めません、変換できません\n%1\n%2"},
    {JobMessageId::WorkDirNotOwned,
     "作業用のフォルダがほかのユーザーのものです、安全のため変換できません\n%1"},
    {JobMessageId::InputUncopyable, "変換対象のファイルを読み込めません\n%1\n%2"},
    {JobMessageId::InputNotAFile,
     "変換対象が通常のファイルではありません、パイプや装置からは変換できません\n%1"},
    {JobMessageId::InputNotMidi, NOT_MIDI_TEXT "\n%1"},
    {JobMessageId::InputIsWorkFile,
     "作業用のファイルは変換できません、別のファイルを指定してください\n%1"},
    {JobMessageId::OutputIsWorkFile,
     "作業用のファイルには保存できません、別の保存先を指定してください\n%1"},
    {JobMessageId::OutputIsProgramFile,
     "変換ツールのファイルには保存できません、別の保存先を指定してください\n%1"},
    {JobMessageId::ToolDirUnencodable,
     "ツールのフォルダ名に、コマンド プロンプトで扱えない文字があります、変換できません\n%1"},
    {JobMessageId::ScriptUnwritable, "変換用のバッチファイルを作成できません\n%1\n%2"},
    {JobMessageId::ConverterNotStarted, "変換プログラムを起動できません\n%1\n%2"},
    {JobMessageId::ConverterFailed,
     "変換プログラムがエラーで終了しました（終了コード %2）\n%1\n%3"},
    {JobMessageId::ConversionRefused, "%2、変換できません\n%1\n%3"},
    {JobMessageId::ConverterCrashed, "変換プログラムが異常終了しました\n%1\n%2"},
    {JobMessageId::ConverterNoOutput, "変換プログラムが出力ファイルを作成しませんでした\n%1\n%2"},
    {JobMessageId::WorkFileUncreatable, "作業用のファイルを作成できません\n%1\n%2"},
    {JobMessageId::EventTextUnopenable, "イベントテキストを開けません\n%1\n%2"},
    {JobMessageId::EventTextUnreadable, "イベントテキストの%1行目を読み込めません\n%2\n%3"},
    {JobMessageId::EventLineInvalid, "イベントテキストの%1行目を変換できません\n%2"},
    {JobMessageId::EventTextUnreversed, "イベントテキストを逆再生できません\n%1"},
    {JobMessageId::EventTextUnwritable, "%1行目で作業用のファイルに書き込めなくなりました\n%2\n%3"},
    {JobMessageId::OutputUnwritable,
     "変換ファイルを保存できません、元のファイルはそのままです\n%1\n%2"},
    {JobMessageId::OutputUncreatable, "変換ファイルを保存できません\n%1\n%2"},
    {JobMessageId::InputNamesClash,
     "同じ名前の入力ファイルが２つあります、同じフォルダには保存できません\n%1\n%2"},
    {JobMessageId::OutputIsInput,
     "保存先が入力ファイルと同じです、入力ファイルは上書きできません\n%1"},
    {JobMessageId::Interrupted, "変換を中断しました"},
    {JobMessageId::OutputInUse, "ファイルが使用中です、上書きできません\n%1"},
    {JobMessageId::OutputReadOnly, "ファイルが読み取り専用です、上書きできません\n%1"},
    {JobMessageId::OutputFolderUnwritable,
     "フォルダに書き込む権限がありません、保存できません\n%1"},
    {JobMessageId::DroppedFolderTitle, "変換ファイルの保存先のフォルダを指定してください"},
    {JobMessageId::DroppedNotMidi, NOT_MIDI_TEXT},
    {JobMessageId::DroppedOutputsExist,
     "保存先のフォルダに同じ名前のファイルが %1 個あります、上書きしますか？"},
    {JobMessageId::DroppedSummary,
     "%1 個のファイルを変換しました（うち頭打ちあり %2 個）\n変換できなかったファイル %3 個"},
    {JobMessageId::DroppedFailure, "%1: %2"},
    {JobMessageId::DroppedMoreFailures, "ほか %1 個"},
    {JobMessageId::DroppedSkipped, "保存先に同じ名前のファイルがあるためスキップしました"},
    {JobMessageId::WorkFileUnremovable,
     "前の作業用のファイルを削除できません、変換できません\n%1\n%2"},
    {JobMessageId::WorkFileNotPrivate, "作業用のファイルがほかのユーザーのものか、ふつうのファイル"
                                       "ではありません、変換できません\n%1"},
}};

// What the converters' failures mean to the user, keyed by the words their
// line begins its what with; the first that fits counts. Where the line
// names the track, the words that have a form for it say which.
struct ConverterReason {
    const char* kind;
    const char* text;
    const char* inTrack = nullptr; // %1 the track, counted from 1
};
const char* const endedInTrack = "トラックの途中でファイルが終わっています";
const char* const endedInNamedTrack = "トラック %1 の途中でファイルが終わっています";
constexpr std::array<ConverterReason, 7> midiReasons{{
    {"not a MIDI file", NOT_MIDI_TEXT},
    {"truncated MThd chunk", "ファイルの先頭が途中で切れています"},
    {"MThd chunk of", "ファイルの先頭が壊れています"},
    {"truncated MTrk chunk", endedInTrack, endedInNamedTrack},
    {"truncated chunk header", endedInTrack},
    {"unexpected end of file", endedInTrack, endedInNamedTrack},
    {"the file ends after", "ファイルに書かれた数のトラックがありません"},
}};
const ConverterReason damagedMidi{"", "MIDI ファイルの中身が壊れています",
                                  "トラック %1 の中身が壊れています"};
const char* const unwritableMidi = "変換したデータを MIDI ファイルに戻せません";

} // namespace

JobMessage jobMessage(JobMessageId id, const QStringList& arguments) {
    const MessageText& entry = messageTexts[std::size_t(id)];
    Q_ASSERT(entry.id == id);
    // One pass, so that a % in a path or a converter's message stays as it is.
    const QString pattern = QString::fromUtf8(entry.text);
    const QString text = arguments.size() == 1   ? pattern.arg(arguments[0])
                         : arguments.size() == 2 ? pattern.arg(arguments[0], arguments[1])
                         : arguments.size() == 3
                             ? pattern.arg(arguments[0], arguments[1], arguments[2])
                             : pattern;
    const bool completion = id == JobMessageId::Completed ||
                            id == JobMessageId::CompletedWithLimit ||
                            id == JobMessageId::DroppedSummary;
    if (completion)
        return {QString::fromUtf8(completedCaption), text, JobMessage::Icon::Exclamation};
    return {QString::fromUtf8(errorCaption), text.trimmed(), JobMessage::Icon::None};
}

JobMessage jobMessage(const JobFailure& failure) {
    return jobMessage(failure.id, failure.arguments);
}

JobMessage completionMessage(const ClampCount& clamped) {
    if (clamped.total() == 0)
        return jobMessage(JobMessageId::Completed);
    const QString values = QString::fromUtf8(clamped.velocities ? velocities : notes);
    QStringList lines;
    if (clamped.atCeiling)
        lines << jobMessage(JobMessageId::ClampedAtCeiling,
                            {QString::number(clamped.atCeiling), values})
                     .text;
    if (clamped.atFloor)
        lines << jobMessage(JobMessageId::ClampedAtFloor,
                            {QString::number(clamped.atFloor), values})
                     .text;
    return jobMessage(JobMessageId::CompletedWithLimit, {lines.join(QLatin1Char('\n'))});
}

JobFailure converterRefusal(bool midiToText, const QString& input, const QString& line) {
    if (!midiToText)
        return {JobMessageId::ConversionRefused,
                {shownPath(input), QString::fromUtf8(unwritableMidi), line}};
    const ConverterReason* reason = &damagedMidi;
    for (const ConverterReason& known : midiReasons)
        if (line.contains(QStringLiteral(": ") + QLatin1String(known.kind))) {
            reason = &known;
            break;
        }
    static const QRegularExpression trackPlace(QStringLiteral(": track ([0-9]+), byte "));
    const QRegularExpressionMatch track = trackPlace.match(line);
    const QString why = track.hasMatch() && reason->inTrack
                            ? QString::fromUtf8(reason->inTrack).arg(track.captured(1))
                            : QString::fromUtf8(reason->text);
    return {JobMessageId::ConversionRefused, {shownPath(input), why, line}};
}

JobFailure fileFailure(JobMessageId id, const QString& path, const QString& reason) {
    return {id, {shownPath(path), reason}};
}

QString shownPath(const QString& path) {
    return QDir::toNativeSeparators(path);
}

} // namespace zelmod
