#include "app/frmAbout.h"

#include "app/Twips.h"
#include "app/WindowFont.h"

#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include <algorithm>

namespace {

QLabel* label(QWidget* parent, const char* name, const char* text, const QRect& geometry) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(geometry);
    label->setWordWrap(true);
    // A font with taller lines than the design's needs a little more room below.
    label->resize(label->width(), std::max(label->height(), label->heightForWidth(label->width())));
    return label;
}

} // namespace

frmAbout::frmAbout(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral(" "));
    setWindowIcon(QIcon(QStringLiteral(":/about.ico")));
    useWindowFontEverywhere(*this);
    setFixedSize(twipsSize(7560, 2220));

    lblAbout =
        label(this, "lblAbout", "Zelmod Ver1.00　このソフトはMF2T/T2MFの技術を使用しています。",
              twipsRect(720, 480, 5295, 375));
    lblAout2 =
        label(this, "lblAout2", "アイコンはZelmodの開発者たちが描きました。ありがとうございます。",
              twipsRect(720, 960, 5175, 255));
    cmdExit = new QPushButton(QStringLiteral("Close"), this);
    cmdExit->setObjectName(QStringLiteral("cmdExit"));
    cmdExit->setGeometry(twipsRect(6240, 1560, 975, 375));
    cmdExit->setFocus();
    connect(cmdExit, &QPushButton::clicked, this, &frmAbout::cmdExit_Click);
}

// A dialog would centre itself; this window goes where the window system
// puts new windows. The native window is made while its position is still
// open, and the dialog is then told that it has been placed.
void frmAbout::setVisible(bool visible) {
    if (visible && !testAttribute(Qt::WA_WState_Created))
        create();
    setAttribute(Qt::WA_Moved);
    QDialog::setVisible(visible);
}

void frmAbout::cmdExit_Click() {
    accept();
}

// Escape does not close this window; only its button and close box do.
void frmAbout::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Cancel))
        return;
    QDialog::keyPressEvent(event);
}
