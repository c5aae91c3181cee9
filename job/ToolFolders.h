// Where the program finds its converters and where it does its work. A
// portable folder (build/tool, or a copy of it) of the user's own, which no
// one else may write to, is both. An installed copy never writes into its
// program folder, and neither does a copy in a folder that others may write
// to: each user works in a folder of their own, so that two users never meet.
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

// The folders of a program that lies in programDir. An installed or shared
// copy works in the application's per-user data folder, which depends on the
// application name: the programs set it to "Zelmod".
ToolFolders toolFoldersOf(const QString& programDir);

// Creates the working folder if it is missing, open to its owner alone. An
// existing one must be the user's; the per-user folder is closed to others,
// a program folder to other writers.
std::optional<JobFailure> makeWorkDir(const QString& workDir);

} // namespace zelmod
