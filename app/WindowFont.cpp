#include "app/WindowFont.h"

#include <QApplication>
#include <QFontDatabase>
#include <QStringList>
#include <QWidget>

namespace {

// Compact enough that every caption fits the control sizes of the window designs.
constexpr int WindowFontPixelSize = 12;

// Families known to cover the interface's kana and kanji, most preferred first.
const QStringList preferredFamilies = {
    QStringLiteral("Yu Gothic UI"), QStringLiteral("Meiryo UI"),
    QStringLiteral("MS UI Gothic"), QStringLiteral("Noto Sans CJK JP"),
    QStringLiteral("IPAPGothic"),   QStringLiteral("IPAGothic"),
    QStringLiteral("VL PGothic"),   QStringLiteral("Takao PGothic"),
};

QString japaneseFamily() {
    const QStringList installed = QFontDatabase::families(QFontDatabase::Japanese);
    for (const QString& family : preferredFamilies) {
        if (installed.contains(family))
            return family;
    }
    return installed.isEmpty() ? QString() : installed.first();
}

} // namespace

QFont japaneseWindowFont() {
    QFont font;
    const QString family = japaneseFamily();
    if (!family.isEmpty())
        font.setFamilies({family});
    font.setPixelSize(WindowFontPixelSize);
    return font;
}

// Before the event loop runs, a change of the application font does not
// reach the widgets already made, so the window is given the font itself.
void useWindowFontEverywhere(QWidget& window) {
    const QFont font = japaneseWindowFont();
    if (QApplication::font() != font)
        QApplication::setFont(font);
    window.setFont(font);
}
