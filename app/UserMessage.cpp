#include "UserMessage.h"

#include "MessageBoxFit.h"

#include <QMetaEnum>
#include <QtGlobal>

#include <cstdio>

void showUserMessage(QMessageBox::Icon icon, const QString& caption, const QString& text,
                     QWidget* parent) {
    if (qEnvironmentVariableIsSet("ZELMOD_TEST_ANSWER_MESSAGES")) {
        const char* iconName = QMetaEnum::fromType<QMessageBox::Icon>().valueToKey(icon);
        std::fprintf(stderr, "message box: %s | %s | %s\n", iconName, qUtf8Printable(caption),
                     qUtf8Printable(text));
        return;
    }
    QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
    zelmod::fitMessageBox(box);
    box.exec();
}
