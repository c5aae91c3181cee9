#include "setup_support.h"

#include <gtest/gtest.h>

namespace {

QStringList captured;

void capture(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtWarningMsg)
        captured << message;
}

} // namespace

void writeBytes(const QString& path, const QByteArray& bytes, QFile::Permissions mode) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << qPrintable(file.errorString());
    ASSERT_EQ(file.write(bytes), bytes.size());
    file.close();
    ASSERT_TRUE(file.setPermissions(mode));
}

QByteArray readBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool hasNormalMode(const QString& path) {
    const QFile::Permissions normal = QFile::ReadOwner | QFile::WriteOwner;
    return (QFile::permissions(path) & normal) == normal;
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
