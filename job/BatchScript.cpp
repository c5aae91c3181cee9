#include "job/BatchScript.h"

#include "job/NativePath.h"

#include <QDir>
#include <QOperatingSystemVersion>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

namespace zelmod {
namespace {

// In single quotes the shell interprets nothing; a quote itself is closed,
// escaped and reopened.
QString shellQuoted(const QString& text) {
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

// The command interpreter expands % even inside quotes.
QString percentsDoubled(QString text) {
    return text.replace(QLatin1Char('%'), QLatin1String("%%"));
}

// The bytes in which the command interpreter reads a script: the console's
// code page on Windows, the file names' own bytes elsewhere.
std::optional<QByteArray> encodeForConsole(const QString& text) {
#ifdef Q_OS_WIN
    const auto* wide = reinterpret_cast<const wchar_t*>(text.utf16());
    const int length = int(text.size());
    if (length == 0)
        return QByteArray();
    BOOL usedDefault = FALSE;
    const UINT codePage = GetOEMCP();
    const int size = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide, length, nullptr, 0,
                                         nullptr, &usedDefault);
    if (size <= 0 || usedDefault)
        return std::nullopt;
    QByteArray bytes(size, Qt::Uninitialized);
    WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide, length, bytes.data(), size, nullptr,
                        &usedDefault);
    if (usedDefault)
        return std::nullopt;
    return bytes;
#else
    // The shell takes file names as bytes; names that are not UTF-8 keep theirs.
    return nativePath(text);
#endif
}

} // namespace

QString windowsScriptText(const ToolFolders& folders, const ConverterCommand& command) {
    const QString work = percentsDoubled(folders.workDir);
    const QString lineEnd = QStringLiteral("\r\n");
    return work.left(2) + lineEnd + QStringLiteral("cd \"") + work + QLatin1Char('"') + lineEnd +
           QLatin1Char('"') + percentsDoubled(folders.programDir) + QLatin1Char('\\') +
           command.converterName + QLatin1Char('"') + command.arguments + lineEnd;
}

QString posixScriptText(const ToolFolders& folders, const ConverterCommand& command) {
    return QStringLiteral("cd ") + shellQuoted(folders.workDir) +
           QStringLiteral(" || exit 126\nexec ") + shellQuoted(folders.programDir) +
           shellQuoted(QLatin1Char('/') + command.converterName) + command.arguments +
           QLatin1Char('\n');
}

std::optional<QByteArray> windowsScriptBytes(const ToolFolders& folders,
                                             const ConverterCommand& command,
                                             const ConsoleEncoder& encode) {
    return encode(windowsScriptText(folders, command));
}

std::optional<QByteArray> scriptBytes(const ToolFolders& folders, const ConverterCommand& command) {
    if (QOperatingSystemVersion::currentType() == QOperatingSystemVersion::Windows) {
        const ToolFolders native{QDir::toNativeSeparators(folders.programDir),
                                 QDir::toNativeSeparators(folders.workDir)};
        return windowsScriptBytes(native, command, encodeForConsole);
    }
    return encodeForConsole(posixScriptText(folders, command));
}

} // namespace zelmod
