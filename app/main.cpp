#include "QtTranslation.h"
#include "frmMain.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    installQtJapaneseTranslation(app);
    frmMain window;
    if (!window.Form_Load(QCoreApplication::applicationDirPath()))
        return 0;
    window.show();
    return app.exec();
}
