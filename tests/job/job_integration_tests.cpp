// The whole job with the real converters, on generated files and on the
// corpus of files from other writers.
#include "job/ConversionJob.h"
#include "job/ConverterRun.h"
#include "tests/support/qt_test_kit.h"
#include "transform/TransformEventLine.h"

#include <QDirIterator>
#include <QProcess>

#include <gtest/gtest.h>

#include <vector>

namespace {

using zelmod::ConversionJob;
using zelmod::Job;
using zelmod::testing::PrintTo;
using namespace zelmod::testing;

QString realConverter(const char* name) {
    return qEnvironmentVariable("ZELMOD_TOOL_DIR") + QLatin1Char('/') + QLatin1String(name);
}

class RealConverters : public testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"mf2t", "t2mf"}) {
            if (!QFile::exists(realConverter(name)))
                GTEST_SKIP() << "the converters are not built in "
                             << realConverter("").toStdString();
            ASSERT_TRUE(QFile::copy(realConverter(name), tool.file(QString::fromLatin1(name))));
        }
    }

    ConversionJob::Outcome runJob(Job job, double amount, const QString& input, QString& message) {
        RecordingHost host;
        host.job = job;
        host.amount = QString::number(amount);
        host.input = input;
        host.output = output;
        zelmod::JobFilePaths paths;
        ConversionJob conversion(tool.folders(), host, paths,
                                 new zelmod::ConverterRun(tool.folders()));
        const ConversionJob::Outcome outcome = runToEnd(conversion);
        message = host.messages.empty() ? QString() : host.messages.back().text;
        EXPECT_TRUE(tool.leftovers().isEmpty()) << tool.leftovers().join(' ').toStdString();
        return outcome;
    }

    // The event text of a MIDI file, by the real converter, line by line.
    std::vector<std::string> eventLines(const QString& midi) const {
        const QString text = tool.outside(QStringLiteral("check.txt"));
        EXPECT_EQ(QProcess::execute(realConverter("mf2t"), {midi, text}), 0);
        std::vector<std::string> lines;
        for (const QByteArray& line : readFile(text).split('\n')) {
            if (!line.isEmpty())
                lines.push_back(line.chopped(line.endsWith('\r') ? 1 : 0).toStdString());
        }
        return lines;
    }

    FakeToolDir tool;
    QString output = tool.outside(QStringLiteral("out.mid"));
};

// A note value the converter back to MIDI caps at 127.
std::string cappedAt127(const std::string& line) {
    QList<QByteArray> fields = QByteArray::fromStdString(line).split(' ');
    if (fields.size() < 5 || (fields[1] != "On" && fields[1] != "Off"))
        return line;
    for (qsizetype i : {3, 4}) {
        if (fields[i].mid(2).toInt() > 127)
            fields[i] = fields[i].left(2) + "127";
    }
    return fields.join(' ').toStdString();
}

// What the output's event text must be: every line as the transformer
// rewrites it, note values capped, and nothing else changed.
void expectRewritten(const std::vector<std::string>& input, const std::vector<std::string>& output,
                     Job job, double amount) {
    ASSERT_EQ(output.size(), input.size());
    for (std::size_t i = 0; i < input.size(); ++i) {
        bool limit = false;
        const std::string expected =
            cappedAt127(zelmod::TransformEventLine(input[i], amount, limit, zelmod::fixedJob(job)));
        ASSERT_EQ(output[i], expected) << "line " << i + 1 << " was " << input[i];
        if (input[i].find(" ch=10 ") != std::string::npos) {
            ASSERT_EQ(output[i], input[i]);
        }
    }
}

// A small format 1 file: meta events, running status, notes on channels 1
// and 10, a controller and a note high enough to be clamped.
QByteArray generatedMidi() {
    return midiBytes({hexBytes("00ff030454657374" // track name
                               "00c005"           // program change
                               "00b00740"         // controller, volume
                               "00903c6460407f"   // ch 1: 60 on, 64 on (running)
                               "0099782460993664" // ch 10: 120, 54
                               "0090786e"         // ch 1: 120 on
                               "60803c40"         // ch 1: 60 off
                               "0080400000807800" // 64 off, 120 off
                               "0089782400893600" // ch 10 offs
                               "00ff2f00"),
                      hexBytes("00ff51030f4240"   // tempo
                               "00910a0110910a00" // ch 2: 10 on, on v=0
                               "00ff2f00")});
}

struct JobCase {
    const char* name;
    Job job;
    double amount;
    const char* message;
};

class GeneratedFile : public RealConverters, public testing::WithParamInterface<JobCase> {};

TEST_P(GeneratedFile, GivesTheExpectedNotesAndKeepsEverythingElse) {
    const QString input = tool.outside(QStringLiteral("in.mid"));
    writeFile(input, generatedMidi());
    QString message;
    ASSERT_EQ(runJob(GetParam().job, GetParam().amount, input, message),
              ConversionJob::Outcome::Written)
        << message.toStdString();
    EXPECT_EQ(message, QString::fromUtf8(GetParam().message));
    expectRewritten(eventLines(input), eventLines(output), GetParam().job, GetParam().amount);
}

const char* const plain = "変換完了！";

INSTANTIATE_TEST_SUITE_P(
    Jobs, GeneratedFile,
    testing::Values(JobCase{"pitch mirror", Job::PitchMirror, 0, plain},
                    JobCase{"transpose up", Job::Transpose, 12,
                            "変換は完了しましたが、\n2 個の音が上限 127 で頭打ちになりました"},
                    JobCase{"transpose down", Job::Transpose, -5, plain},
                    JobCase{"transpose by a fraction", Job::Transpose, 2.5, plain},
                    // Mirrored off velocities of 0 become 129, which the converter caps.
                    JobCase{"velocity mirror", Job::VelocityMirror, 0,
                            "変換は完了しましたが、\n3 個の強弱が上限 127 で頭打ちになりました"},
                    JobCase{"velocity shift", Job::VelocityShift, -100,
                            "変換は完了しましたが、\n5 個の強弱が下限 1 に引き上げられました"}));

TEST_F(RealConverters, PitchMirrorTwiceGivesTheFileBackByteForByte) {
    const QString input = tool.outside(QStringLiteral("in.mid"));
    const QByteArray original = generatedMidi();
    writeFile(input, original);
    QString message;
    ASSERT_EQ(runJob(Job::PitchMirror, 0, input, message), ConversionJob::Outcome::Written);
    const QString once = tool.outside(QStringLiteral("once.mid"));
    QFile::rename(output, once);
    ASSERT_EQ(runJob(Job::PitchMirror, 0, once, message), ConversionJob::Outcome::Written);
    EXPECT_EQ(readFile(output).toHex().toStdString(), original.toHex().toStdString());
}

#ifdef ZELMOD_SANITIZE
// Every process start costs many times more under the sanitizers: there
// every fourth file keeps the test well within its timeout.
constexpr std::size_t CorpusStride = 4;
#else
constexpr std::size_t CorpusStride = 1;
#endif

TEST_F(RealConverters, TransposesEveryReadableCorpusFile) {
    const std::vector<CorpusFile> files = corpus();
    if (files.empty())
        GTEST_SKIP() << "no corpus at " << qEnvironmentVariable("ZELMOD_CORPUS_DIR").toStdString();
    for (std::size_t i = 0; i < files.size(); i += CorpusStride) {
        const CorpusFile& file = files[i];
        SCOPED_TRACE(file.path);
        const QString path = QFile::decodeName(file.path.c_str());
        QFile::remove(output);
        QString message;
        const ConversionJob::Outcome outcome = runJob(Job::Transpose, 7, path, message);
        if (file.category == "damaged" ||
            (file.category == "irregular" && outcome == ConversionJob::Outcome::Failed)) {
            EXPECT_EQ(outcome, ConversionJob::Outcome::Failed);
            EXPECT_TRUE(message.contains(QDir::toNativeSeparators(path))) << message.toStdString();
            EXPECT_FALSE(QFile::exists(output));
            continue;
        }
        ASSERT_EQ(outcome, ConversionJob::Outcome::Written) << message.toStdString();
        expectRewritten(eventLines(path), eventLines(output), Job::Transpose, 7);
    }
}

} // namespace
