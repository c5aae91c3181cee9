#include "app/OptionFrame.h"

#include <QPainter>
#include <QStyle>
#include <qdrawutil.h>

namespace {

// Where the caption starts, and the room the border leaves on either side of it.
constexpr int CaptionInset = 8;
constexpr int CaptionGap = 2;

} // namespace

OptionFrame::OptionFrame(const QString& caption, QWidget* parent) : QGroupBox(caption, parent) {
    // Opaque, as a native frame is: the captions inside stay legible over
    // the window's picture.
    setAutoFillBackground(true);
}

QRect OptionFrame::captionRect() const {
    const QFontMetrics metrics = fontMetrics();
    return QRect(CaptionInset, 0, metrics.horizontalAdvance(title()), metrics.height());
}

void OptionFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect caption = captionRect();
    const QRect border = rect().adjusted(0, caption.height() / 2, 0, 0);
    painter.save();
    painter.setClipRegion(QRegion(rect()) - caption.adjusted(-CaptionGap, 0, CaptionGap, 0));
    qDrawShadeRect(&painter, border, palette(), true, 1, 0);
    painter.restore();
    style()->drawItemText(&painter, caption, Qt::AlignLeft | Qt::AlignVCenter, palette(),
                          isEnabled(), title(), QPalette::WindowText);
}
