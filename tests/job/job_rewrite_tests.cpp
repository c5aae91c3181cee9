#include "job/EventTextRewrite.h"
#include "tests/support/qt_test_kit.h"

#include <gtest/gtest.h>

#ifndef Q_OS_WIN
#include <csignal>
#include <sys/resource.h>
#endif

namespace {

using zelmod::JobFailure;
using zelmod::JobMessageId;
using zelmod::RewriteResult;
using zelmod::testing::PrintTo;
using namespace zelmod::testing;

struct RewriteCase {
    const char* name;
    QByteArray source;
    QByteArray target; // what the target holds afterwards
    std::optional<JobFailure> failure;
    std::uint64_t clampedLines;
};

class Rewrite : public testing::TestWithParam<RewriteCase> {};

RewriteResult transpose12(const QTemporaryDir& dir, const QByteArray& source) {
    writeFile(dir.filePath(QStringLiteral("in.txt")), source);
    return zelmod::rewriteEventText(dir.filePath(QStringLiteral("in.txt")),
                                    dir.filePath(QStringLiteral("out.txt")), 12,
                                    zelmod::fixedJob(zelmod::Job::Transpose));
}

TEST_P(Rewrite, WritesEveryLineEndingCrLf) {
    const RewriteCase& c = GetParam();
    QTemporaryDir dir;
    const RewriteResult result = transpose12(dir, c.source);
    EXPECT_EQ(result.failure, c.failure);
    EXPECT_EQ(result.clampedLines, c.clampedLines);
    if (!c.failure) {
        EXPECT_EQ(readFile(dir.filePath(QStringLiteral("out.txt"))), c.target);
    }
}

const QByteArray note = "0 On ch=1 n=60 v=100";
const QByteArray noteUp = "0 On ch=1 n=72 v=100";

INSTANTIATE_TEST_SUITE_P(
    LineEnds, Rewrite,
    testing::Values(
        RewriteCase{"empty text", "", "", std::nullopt, 0},
        RewriteCase{"LF, CR LF and no end", note + "\n" + note + "\r\n" + note,
                    noteUp + "\r\n" + noteUp + "\r\n" + noteUp + "\r\n", std::nullopt, 0},
        RewriteCase{"empty lines", "\n\r\n", "\r\n\r\n", std::nullopt, 0},
        RewriteCase{"a lone CR is content", "a\rb\n", "a\rb\r\n", std::nullopt, 0},
        RewriteCase{"only the CR before LF goes", "x\r\r\n", "x\r\r\n", std::nullopt, 0},
        RewriteCase{"bytes outside ASCII pass", "\xff\x80 \xe9\n", "\xff\x80 \xe9\r\n",
                    std::nullopt, 0}));

INSTANTIATE_TEST_SUITE_P(
    Lines, Rewrite,
    testing::Values(
        RewriteCase{"limit on the last line", note + "\n0 On ch=1 n=120 v=1\n",
                    noteUp + "\r\n0 On ch=1 n=128 v=1\r\n", std::nullopt, 1},
        RewriteCase{"limit on the first line", "0 On ch=1 n=127 v=1\n" + note + "\n",
                    "0 On ch=1 n=128 v=1\r\n" + noteUp + "\r\n", std::nullopt, 1},
        RewriteCase{"a value of four digits", "0 Off ch=1 n=1000 v=1\n", "",
                    JobFailure{JobMessageId::EventLineInvalid, {"1", "0 Off ch=1 n=1000 v=1"}}, 0},
        RewriteCase{"a line that cannot be converted", "a\nb\r\n0 On ch=1 n=abc v=1\r\nd\n", "",
                    JobFailure{JobMessageId::EventLineInvalid, {"3", "0 On ch=1 n=abc v=1"}}, 0}));

TEST(RewriteEventText, TransformsEveryLineOfALongText) {
    QTemporaryDir dir;
    constexpr int lineCount = 700'000; // beyond any fixed line limit
    QByteArray source;
    for (int i = 0; i < lineCount; ++i)
        source += QByteArray::number(i) + " On ch=1 n=60 v=100\n";
    const RewriteResult result = transpose12(dir, source);
    ASSERT_EQ(result.failure, std::nullopt);
    const QByteArray target = readFile(dir.filePath(QStringLiteral("out.txt")));
    EXPECT_EQ(target.count("\r\n"), lineCount);
    EXPECT_TRUE(target.endsWith("699999 On ch=1 n=72 v=100\r\n"));
}

// Texts of several megabytes are read in many batches: lines are still
// counted and written in order.
QByteArray manyLines(int count, int invalidAt) {
    QByteArray text;
    for (int i = 1; i <= count; ++i) {
        const QByteArray note = QByteArray::number(i % 120);
        text += i == invalidAt ? QByteArray("0 On ch=1 n=x v=1\n")
                               : QByteArray::number(i) + " On ch=1 n=" + note + " v=1\r\n";
    }
    return text;
}

TEST(RewriteEventText, KeepsTheOrderAcrossBatches) {
    QTemporaryDir dir;
    const QByteArray source = manyLines(200'000, 0);
    const RewriteResult result = transpose12(dir, source);
    ASSERT_EQ(result.failure, std::nullopt);
    const QList<QByteArray> in = source.split('\n');
    const QList<QByteArray> out = readFile(dir.filePath(QStringLiteral("out.txt"))).split('\n');
    ASSERT_EQ(out.size(), in.size());
    std::uint64_t clampedLines = 0; // notes of 117 and more, here and there
    for (qsizetype i = 0; i + 1 < in.size(); ++i) {
        bool limit = false;
        const std::string expected = zelmod::TransformEventLine(
            in[i].chopped(1).toStdString(), 12, limit, zelmod::fixedJob(zelmod::Job::Transpose));
        ASSERT_EQ(out[i].toStdString(), expected + "\r") << "line " << i + 1;
        clampedLines += limit;
    }
    EXPECT_GT(clampedLines, 0u);
    EXPECT_EQ(result.clampedLines, clampedLines);
}

struct LateFailureCase {
    const char* name;
    int invalidAt;
};

class LateInvalidLine : public testing::TestWithParam<LateFailureCase> {};

TEST_P(LateInvalidLine, IsNamedByItsNumberInTheWholeText) {
    QTemporaryDir dir;
    const RewriteResult result = transpose12(dir, manyLines(200'000, GetParam().invalidAt));
    EXPECT_EQ(result.failure, (JobFailure{JobMessageId::EventLineInvalid,
                                          {QString::number(GetParam().invalidAt),
                                           QStringLiteral("0 On ch=1 n=x v=1")}}));
}

INSTANTIATE_TEST_SUITE_P(Positions, LateInvalidLine,
                         testing::Values(LateFailureCase{"the first batch", 10},
                                         LateFailureCase{"a few batches in", 30'000},
                                         LateFailureCase{"many batches in", 150'001},
                                         LateFailureCase{"the last line", 200'000}));

TEST(RewriteEventText, KeepsALineLongerThanItsBuffer) {
    QTemporaryDir dir;
    const QByteArray longLine = "0 SysEx " + QByteArray(3 * 1024 * 1024, 'a');
    const RewriteResult result = transpose12(dir, note + "\n" + longLine + "\n" + note);
    ASSERT_EQ(result.failure, std::nullopt);
    EXPECT_EQ(readFile(dir.filePath(QStringLiteral("out.txt"))),
              noteUp + "\r\n" + longLine + "\r\n" + noteUp + "\r\n");
}

struct FileFailureCase {
    const char* name;
    const char* source; // nullptr: a text of three lines
    const char* target; // nullptr: a file in the test's folder
    JobMessageId id;
    const char* lineNumber;          // nullptr: the message names no line
    unsigned long fileSizeLimit = 0; // bytes the target may hold, as a full disk would; 0: no limit
};

#ifndef Q_OS_WIN
// While it lives, a file may hold at most the given bytes (0: no limit).
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &kept_);
        if (bytes > 0) {
            std::signal(SIGXFSZ, SIG_IGN); // a write beyond the limit fails instead
            const rlimit limit{bytes, kept_.rlim_max};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &kept_); }

  private:
    rlimit kept_{};
};
#endif

class FileFailure : public testing::TestWithParam<FileFailureCase> {};

TEST_P(FileFailure, IsReportedWithItsLine) {
    const FileFailureCase& c = GetParam();
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("in.txt")), "a\nb\nc\n");
    const QString source = c.source ? QString::fromUtf8(c.source) : dir.filePath("in.txt");
    const QString target = c.target ? QString::fromUtf8(c.target) : dir.filePath("out.txt");
#ifndef Q_OS_WIN
    const FileSizeLimit limit(c.fileSizeLimit);
#endif
    const RewriteResult result =
        zelmod::rewriteEventText(source, target, 0, zelmod::fixedJob(zelmod::Job::PitchMirror));
    ASSERT_TRUE(result.failure);
    EXPECT_EQ(result.failure->id, c.id);
    QStringList arguments = result.failure->arguments; // [line,] file, reason
    EXPECT_FALSE(arguments.takeLast().isEmpty());
    arguments.removeLast();
    EXPECT_EQ(arguments, c.lineNumber ? QStringList{c.lineNumber} : QStringList());
}

const FileFailureCase fileFailures[] = {
    {"no event text", "/nonexistent/Zeltmps.txt", nullptr, JobMessageId::EventTextUnopenable,
     nullptr},
    {"target that cannot be created", nullptr, "/nonexistent/Zeltmpd.txt",
     JobMessageId::WorkFileUncreatable, nullptr},
#ifndef Q_OS_WIN // failures that only POSIX lets a test cause
    {"event text that cannot be read", "/proc/self/mem", nullptr, JobMessageId::EventTextUnreadable,
     "1"},
    {"full disk", nullptr, nullptr, JobMessageId::EventTextUnwritable, "3", 4},
#endif
};

INSTANTIATE_TEST_SUITE_P(Files, FileFailure, testing::ValuesIn(fileFailures));

} // namespace
