// The small script that runs one converter from the program folder inside
// the working folder, so that the converter finds the bare file names of
// its arguments there.
#pragma once

#include "job/ToolFolders.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

namespace zelmod {

// One converter run: the script's file name, the converter's file name and
// the argument text with its leading blank.
struct ConverterCommand {
    QString scriptName;
    QString converterName;
    QString arguments;
};

// Encodes text in the console's code page, or gives nothing when a
// character has no form there.
using ConsoleEncoder = std::function<std::optional<QByteArray>(const QString&)>;

// The Windows batch text for folders in native form (C:\Tools): the working
// folder's disk, a cd into the quoted working folder and the quoted
// converter path in the program folder with its arguments, each line ending
// CR LF. The command interpreter expands % even inside quotes, so every % of
// the folders is doubled.
QString windowsScriptText(const ToolFolders& folders, const ConverterCommand& command);

// The same as a POSIX shell script, which then replaces the shell with the
// converter. The folders are single-quoted, so no character in them is
// interpreted by the shell.
QString posixScriptText(const ToolFolders& folders, const ConverterCommand& command);

// The Windows text in the console's code page, or nothing when a folder
// holds a character that the code page cannot encode.
std::optional<QByteArray> windowsScriptBytes(const ToolFolders& folders,
                                             const ConverterCommand& command,
                                             const ConsoleEncoder& encode);

// The script for the system this program runs on, asked at run time, in
// its console's encoding, ready to be written; nothing when it cannot be
// encoded. The folders may use either separator.
std::optional<QByteArray> scriptBytes(const ToolFolders& folders, const ConverterCommand& command);

} // namespace zelmod
