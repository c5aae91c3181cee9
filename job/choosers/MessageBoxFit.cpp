#include "job/choosers/MessageBoxFit.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QTextLayout>

namespace zelmod {
namespace {

// The longest line a box shows, in full-width characters.
constexpr int LineLimitInCharacters = 32;
// Room that a title bar takes beside its caption (icon and buttons), in text lines.
constexpr int TitleBarRoomInLines = 8;
const char* const FittedProperty = "zelmodFitted";

QStringList wrapped(const QString& paragraph, const QFont& font, int width) {
    QTextLayout layout(paragraph, font);
    QStringList lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        lines << paragraph.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    return lines;
}

QString balancedParagraph(const QString& paragraph, const QFont& font, int maxWidth) {
    const qsizetype lineCount = wrapped(paragraph, font, maxWidth).size();
    if (lineCount <= 1)
        return paragraph;
    int narrow = 0; // needs more lines
    int wide = maxWidth;
    while (wide - narrow > 1) {
        const int middle = (narrow + wide) / 2;
        (wrapped(paragraph, font, middle).size() > lineCount ? narrow : wide) = middle;
    }
    return wrapped(paragraph, font, wide).join(QLatin1Char('\n'));
}

} // namespace

QString balancedLines(const QString& text, const QFont& font, int maxWidth) {
    QStringList paragraphs = text.split(QLatin1Char('\n'));
    for (QString& paragraph : paragraphs)
        paragraph = balancedParagraph(paragraph, font, maxWidth);
    return paragraphs.join(QLatin1Char('\n'));
}

void fitMessageBox(QMessageBox& box) {
    if (box.property(FittedProperty).toBool())
        return;
    box.setProperty(FittedProperty, true);
    const QFontMetrics metrics(box.font());
    const int lineLimit = metrics.horizontalAdvance(QChar(0x3000)) * LineLimitInCharacters;
    box.setText(balancedLines(box.text(), box.font(), lineLimit));
    // The box takes the width its layout needs; a spacer across the layout
    // makes that room for the caption too.
    QFont captionFont = box.font();
    captionFont.setBold(true);
    const int captionWidth = QFontMetrics(captionFont).horizontalAdvance(box.windowTitle()) +
                             TitleBarRoomInLines * metrics.height();
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(captionWidth, 0, QSizePolicy::Minimum), grid->rowCount(), 0,
                      1, grid->columnCount());
}

MessageBoxFitting::MessageBoxFitting() {
    qApp->installEventFilter(this);
}

MessageBoxFitting::~MessageBoxFitting() {
    qApp->removeEventFilter(this);
}

bool MessageBoxFitting::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show) {
        if (auto* box = qobject_cast<QMessageBox*>(watched))
            fitMessageBox(*box);
    }
    return QObject::eventFilter(watched, event);
}

} // namespace zelmod
