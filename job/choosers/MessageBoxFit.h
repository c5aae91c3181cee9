// Message boxes sized as a native one is: wide enough for their caption, and
// a long text wrapped at a width that keeps its lines about equally long.
#pragma once

#include <QFont>
#include <QObject>
#include <QString>

class QMessageBox;

namespace zelmod {

// Each paragraph of text broken into lines no wider than maxWidth, each line
// as wide as the others: the narrowest width that needs no more lines than
// maxWidth does. Breaks fall where the line-breaking rules allow them.
QString balancedLines(const QString& text, const QFont& font, int maxWidth);

// Rewraps the box's text and widens it for its caption; call before it is shown.
void fitMessageBox(QMessageBox& box);

// While it lives, every message box that opens is fitted, also those that
// Qt's own dialogs open, such as the Save dialog's overwrite question.
class MessageBoxFitting : public QObject {
  public:
    MessageBoxFitting();
    ~MessageBoxFitting() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace zelmod
