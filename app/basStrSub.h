// Program-wide values, one instance each.
#pragma once

#include <QString>

namespace basStrSub {

// The application title: the window caption, the setup file's name and header.
inline const QString AppTitle = QStringLiteral("Zelmod");

extern QString SetupFilePath;
extern QString SetupHeader;
extern bool SaveSetupOnExit;
extern int MaxFormWidth; // outer size right after loading, in twips
extern int MaxFormHeight;

// Last chosen files; each job's dialogs start where the previous job's ended.
extern QString InputFilePath;
extern QString OutputFilePath;

} // namespace basStrSub
