// The window program's whole life in one run, for tests that start it as
// another user: loaded as at start-up, then closed as by its close box.
#include "app/frmMain.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    frmMain window;
    const QString programDir = QCoreApplication::applicationDirPath();
    if (!window.Form_Load({programDir, programDir}))
        return 2;
    window.show();
    QTimer::singleShot(0, &window, &QWidget::close);
    return app.exec();
}
