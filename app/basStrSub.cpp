#include "app/basStrSub.h"

namespace basStrSub {

QString SetupFilePath;
QString SetupHeader;
bool SaveSetupOnExit = false;
int MaxFormWidth = 0;
int MaxFormHeight = 0;
QString InputFilePath;
QString OutputFilePath;

} // namespace basStrSub
