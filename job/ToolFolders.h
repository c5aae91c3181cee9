// Where the program finds its converters and where it does its work. A
// portable folder (build/tool, or a copy of it) is both. An installed copy
// never writes into its program folder: each user works in a folder of
// their own, so that two users of one installation never meet.
#pragma once

#include "job/JobMessages.h"

#include <QString>

namespace zelmod {

struct ToolFolders {
    QString programDir; // the converters
    QString workDir;    // the setup file, the lock, the scripts, the intermediate files
};

// The file an installation lays beside the program; its presence alone
// marks the copy as installed.
inline constexpr const char* installedMarkerName = "zelmod-installed";

// The folders of a program that lies in programDir. An installed copy
// works in the application's per-user data folder, which depends on the
// application name: the programs set it to "Zelmod".
ToolFolders toolFoldersOf(const QString& programDir);

// Creates the working folder if it is missing, open to its owner alone.
std::optional<JobFailure> makeWorkDir(const QString& workDir);

} // namespace zelmod
