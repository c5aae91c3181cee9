#include "app/QtTranslation.h"
#include "app/basStrSub.h"
#include "app/frmMain.h"
#include "job/NativePath.h"
#include "job/ToolFolders.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // Names an installed copy's per-user working folder, the same for zelmod-cli.
    QCoreApplication::setApplicationName(basStrSub::AppTitle);
    installQtJapaneseTranslation(app);
    frmMain window;
    if (!window.Form_Load(zelmod::toolFoldersOf(zelmod::programDirectory())))
        return 0;
    window.show();
    return app.exec();
}
