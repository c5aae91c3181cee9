#include "tests/support/qt_test_kit.h"

#ifdef Q_OS_UNIX
#include "tests/support/test_processes.h"
#endif

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
    QStringList found;
    for (const QString& name : jobFileNames) {
        if (QFile::exists(file(name)))
            found.append(name);
    }
    return found;
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
