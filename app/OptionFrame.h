// The frame fmeOption, drawn as a native group box draws itself: the caption
// a little in from the left edge, the border's top line through the middle of
// the caption and broken behind it. The frame lays nothing out, so its
// controls keep the places they are given.
#pragma once

#include <QGroupBox>

class OptionFrame : public QGroupBox {
    Q_OBJECT

  public:
    OptionFrame(const QString& caption, QWidget* parent);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QRect captionRect() const;
};
