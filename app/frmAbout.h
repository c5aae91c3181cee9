// The About window: the program's name and version, the converters it uses
// and a word of thanks for its icon. Shown modally; holds no state.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

class frmAbout : public QDialog {
    Q_OBJECT

  public:
    explicit frmAbout(QWidget* parent = nullptr);
    void setVisible(bool visible) override;

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void cmdExit_Click();

    QLabel* lblAbout = nullptr;
    QLabel* lblAout2 = nullptr;
    QPushButton* cmdExit = nullptr;
};
