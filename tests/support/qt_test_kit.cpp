#include "tests/support/qt_test_kit.h"

#include <gtest/gtest.h>

#ifdef Q_OS_UNIX
#include "tests/support/test_processes.h"
#endif

#include <QCoreApplication>
#include <QDir>
#include <QThread>

#include <stdexcept>

namespace zelmod::testing {
namespace {

QStringList captured;

void capture(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtWarningMsg)
        captured << message;
}

} // namespace

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll()
                                          : QByteArray::fromStdString(std::string(Unreadable));
}

void writeFile(const QString& path, const QByteArray& bytes, QFile::Permissions mode) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
    file.close();
    if (!file.setPermissions(mode))
        throw std::runtime_error("cannot set the mode of " + path.toStdString());
}

bool hasNormalMode(const QString& path) {
    const QFile::Permissions normal = QFile::ReadOwner | QFile::WriteOwner;
    return (QFile::permissions(path) & normal) == normal;
}

QByteArray midiBytes(std::initializer_list<Bytes> trackBodies) {
    const Bytes file = midiFile(trackBodies);
    return QByteArray(reinterpret_cast<const char*>(file.data()), qsizetype(file.size()));
}

Bytes hexBytes(const char* hex) {
    const QByteArray bytes = QByteArray::fromHex(hex);
    return Bytes(bytes.begin(), bytes.end());
}

#ifdef Q_OS_UNIX
QStringList asNobody(const QStringList& command) {
    QStringList words;
    for (const std::string& word : AsNobody)
        words << QString::fromStdString(word);
    return words + command;
}
#endif

FakeToolDir::FakeToolDir(const QString& subdirName) : path_(root_.filePath(subdirName)) {
    QDir().mkpath(path_);
}

void FakeToolDir::setConverter(const QString& name, const char* body) const {
    const QString path = file(name);
    writeFile(path, QByteArray("#!/bin/sh\n") + body + '\n',
              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                  QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
}

void FakeToolDir::setConverters(const char* toText, const char* toMidi) const {
    setConverter(QStringLiteral("mf2t"), toText);
    setConverter(QStringLiteral("t2mf"), toMidi);
}

QStringList FakeToolDir::leftovers() const {
    static const QStringList kept{QStringLiteral("mf2t"),       QStringLiteral("t2mf"),
                                  QStringLiteral("zelmod-cli"), QStringLiteral("Zelmod"),
                                  QStringLiteral("Zelmod.dat"), QStringLiteral("child.pid")};
    QStringList found = QDir(path_).entryList(QDir::Files | QDir::Hidden | QDir::System);
    found.removeIf([](const QString& name) { return kept.contains(name); });
    return found;
}

bool handleEventsUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QThread::msleep(1);
    }
    return true;
}

ConversionJob::Outcome runToEnd(ConversionJob& job) {
    std::optional<ConversionJob::Outcome> outcome;
    QObject::connect(&job, &ConversionJob::finished,
                     [&outcome](ConversionJob::Outcome end) { outcome = end; });
    job.start();
    EXPECT_TRUE(handleEventsUntil([&] { return outcome.has_value(); })) << "the job never ended";
    return outcome.value_or(ConversionJob::Outcome::Failed);
}

ConverterRunResult runToEnd(ConverterRunner& runner, const ConverterCommand& command) {
    std::optional<ConverterRunResult> result;
    const QMetaObject::Connection connection =
        QObject::connect(&runner, &ConverterRunner::finished,
                         [&result](const ConverterRunResult& end) { result = end; });
    runner.start(command);
    EXPECT_TRUE(handleEventsUntil([&] { return result.has_value(); })) << "the run never ended";
    QObject::disconnect(connection);
    return result.value_or(ConverterRunResult{});
}

bool RecordingHost::isJobSelected(int index) const {
    selectionQuestions.push_back(index);
    return index == int(job);
}

void RecordingHost::showMessage(const JobMessage& message) {
    messages.push_back(message);
    busyAtAMessage = busyAtAMessage || busy;
}

void RecordingHost::setBusy(bool converting) {
    busy = converting;
    wasBusy = wasBusy || converting;
}

QString RecordingHost::shownMessages() const {
    QStringList texts;
    for (const JobMessage& message : messages)
        texts.append(message.caption + QLatin1Char('|') + message.text);
    return texts.join('\n');
}

bool RecordingHost::choose(const std::optional<QString>& answer, QString& path) {
    dialogStarts.append(path);
    if (answer)
        path = *answer;
    return answer.has_value();
}

WarningCapture::WarningCapture() : previous(qInstallMessageHandler(capture)) {
    captured.clear();
}

WarningCapture::~WarningCapture() {
    qInstallMessageHandler(previous);
}

int WarningCapture::count() const {
    return int(captured.size());
}

QString WarningCapture::text() const {
    return captured.join(QLatin1Char('\n'));
}

} // namespace zelmod::testing
