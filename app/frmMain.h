// The main window: the job options, the shift amount and the start button.
#pragma once

#include "app/SingleInstance.h"
#include "job/ConversionJob.h"
#include "job/ToolFolders.h"

#include <QPixmap>
#include <QWidget>
#include <array>
#include <optional>

class DropBatch;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMimeData;
class QPushButton;
class QRadioButton;
namespace zelmod {
class CommonDialog;
}

class frmMain : public QWidget, private zelmod::JobHost {
    Q_OBJECT

  public:
    static constexpr int JobOptionCount = 5;
    static constexpr int ReverseJobIndex = 4; // takes no amount

    explicit frmMain(QWidget* parent = nullptr);

    // Whether the job option button of this index is selected; a job asks
    // this before it rewrites the lines.
    bool isJobSelected(int index) const override;

    // The folder of the converters and the one of the job's files; the
    // program's own folder for both unless set.
    void setToolFolders(const zelmod::ToolFolders& folders) { toolFolders = folders; }

    // Sets the program-wide values, refuses a second running instance and
    // checks or creates the setup file in the working folder. False when
    // refused: the window is then unloaded and the program must end.
    bool Form_Load(const zelmod::ToolFolders& folders);

  protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void cmdJob1_Click();
    void jobEnded();
    void cmdUp_Click();
    void cmdDown_Click();
    void stepAmount(double step);
    bool stepAmountOn(QEvent* event);
    void comeForward();
    bool takesDrop(const QMimeData* data) const;
    void startDroppedJob(const QString& input);
    void startDroppedBatch(const QStringList& paths);
    void batchEnded();

    void createControls();
    void createJobOptions();
    void nameAmountControls();
    void setTabOrder();
    void keepOptionGroupOneTabStop();
    void Form_Resize();
    void Form_MouseDown();
    void Form_Unload();
    void cmdClose_Click();

    // What the conversion job asks of the window.
    void setControlsEnabled(bool enabled) override;
    QString amountText() const override;
    void setAmountText(const QString& text) override;
    bool chooseInput(QString& path) override;
    bool chooseOutput(QString& path) override;
    void showMessage(const zelmod::JobMessage& message) override;
    void setBusy(bool busy) override;

    QPixmap background;
    SingleInstance instance;

    QPushButton* cmdJob1 = nullptr;
    QPushButton* cmdClose = nullptr;
    QGroupBox* fmeOption = nullptr;
    std::array<QRadioButton*, JobOptionCount> optJob{};
    QLineEdit* txtTrans = nullptr;
    QPushButton* cmdUp = nullptr;
    QPushButton* cmdDown = nullptr;
    QLabel* lblUp = nullptr;
    QLabel* lblDown = nullptr;
    zelmod::CommonDialog* dlgCommonDialog = nullptr; // shows the Open and Save dialogs

    zelmod::ToolFolders toolFolders;
    zelmod::JobFilePaths jobPaths;
    zelmod::ConversionJob* runningJob = nullptr;
    DropBatch* runningBatch = nullptr;
    QString droppedInput; // the next job's input, asked for by no dialog
    bool closeWhenJobEnds = false;
    // A job that ends while the About window is open shows its message, and
    // enables its controls, once that window has closed.
    bool aboutShown = false;
    std::optional<zelmod::JobMessage> heldMessage;
    bool waitCursorShown = false;
    int wheelAngleLeft = 0; // of a wheel notch not yet stepped
};
