// Helpers shared by the setup file and lifecycle tests.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QSize>
#include <QString>
#include <QStringList>

#include <ostream>

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

// The whole setup file as the program writes it.
inline const QByteArray SetupFileBytes = "Zelmod Setup File Ver.1.00\r\n";

void writeBytes(const QString& path, const QByteArray& bytes,
                QFile::Permissions mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                          QFile::ReadOther);
QByteArray readBytes(const QString& path);

// The owner may read and write the file: its attributes are normal.
bool hasNormalMode(const QString& path);

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
