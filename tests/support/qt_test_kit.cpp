#include "tests/support/qt_test_kit.h"

#include "job/JobFiles.h"

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
namespace {

QString qtPath(const fs::path& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.string()));
}

} // namespace

FakeToolDir::FakeToolDir(const QString& subdirName)
    : space_(::getuid(), {}, QFile::encodeName(subdirName).toStdString()),
      path_(qtPath(space_.tool())) {}

QString FakeToolDir::outside(const QString& name) const {
    return name.isEmpty() ? qtPath(space_.root())
                          : qtPath(space_.root() / QFile::encodeName(name).toStdString());
}

void FakeToolDir::setConverter(const QString& name, const char* body) const {
    space_.setConverter(QFile::encodeName(name).toStdString(), body);
}

void FakeToolDir::setConverters(const char* toText, const char* toMidi) const {
    setConverter(QStringLiteral("mf2t"), toText);
    setConverter(QStringLiteral("t2mf"), toMidi);
}

QStringList FakeToolDir::leftovers() const {
    QStringList found;
    for (const std::string& name : space_.leftovers())
        found.append(QFile::decodeName(QByteArray::fromStdString(name)));
    found.removeAll(zelmod::WorkFile::setupFile);
    return found;
}
#endif

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

QString RecordingHost::shownMessages() const {
    QStringList texts;
    for (const JobMessage& message : messages)
        texts.append(message.caption + QLatin1Char('|') + message.text);
    return texts.join('\n');
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
