// Program-wide values, one instance each.
#pragma once

#include "job/JobFiles.h"

#include <QString>

namespace basStrSub {

using zelmod::AppTitle;

extern QString SetupFilePath;
extern QString SetupHeader;
extern bool SaveSetupOnExit;
extern int MaxFormWidth; // outer size right after loading, in twips
extern int MaxFormHeight;

// Last chosen files; each job's dialogs start where the previous job's ended.
extern QString InputFilePath;
extern QString OutputFilePath;

} // namespace basStrSub
