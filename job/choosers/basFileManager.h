// The file choosers through which a conversion job asks for its input and
// output files.
#pragma once

#include "job/JobMessages.h"

#include <QString>

#include <optional>

namespace zelmod {

class CommonDialog;

namespace basFileManager {

// How the dialog is prepared before it opens.
enum StartMode : int {
    StartPlain = 0,           // no name, no folder
    StartInToolDirectory = 1, // the folder that holds the program
    StartFromPath = 2,        // the folder of path (or path itself when it is a folder)
    StartWithPath = 3,        // path typed into the name box
};

// Shows the Open dialog with the given title and caller's filter pairs
// ("MIDI (*.mid)|*.mid|"), an all-files pair listed first and the caller's
// preselected. True with path set to the chosen file; false on cancel, with
// path unchanged and no message.
bool ChooseOpenFile(CommonDialog& dialog, const QString& title, const QString& filter,
                    QString& path, int startMode);

// The same with the Save dialog, which asks before an existing file is
// chosen. A chosen file that cannot be replaced is reported in a message box
// and gives false; path then already holds it. The file itself is left alone.
bool ChooseSaveFile(CommonDialog& dialog, const QString& title, const QString& filter,
                    QString& path, int startMode);

// Why a new file could not later be renamed over path, or nothing when it
// can: a folder that may not be written, whether the file is there yet or
// not; someone else's file in a sticky folder or (on Windows) a read-only
// file; a folder there, or (on Windows) a file another program holds open.
std::optional<JobMessageId> replaceRefusal(const QString& path);

} // namespace basFileManager
} // namespace zelmod
