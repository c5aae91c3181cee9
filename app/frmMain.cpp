#include "app/frmMain.h"

#include "app/DropBatch.h"
#include "app/OptionFrame.h"
#include "app/Twips.h"
#include "app/WindowFont.h"
#include "app/basDatFileManager.h"
#include "app/basStrSub.h"
#include "app/frmAbout.h"
#include "job/ConverterRun.h"
#include "job/JobFiles.h"
#include "job/NativePath.h"
#include "job/amount/ShiftAmount.h"
#include "job/choosers/CommonDialog.h"
#include "job/choosers/basFileManager.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QWheelEvent>

#include <cstdlib>

namespace {

struct JobOption {
    const char* caption;
    QRect geometry;
};

// Captions and places of the job options, by index; the index is the job.
const std::array<JobOption, frmMain::JobOptionCount> jobOptions{{
    {"音程鏡面処理", twipsRect(360, 240, 1575, 255)},
    {"トランスポーズ", twipsRect(360, 480, 1575, 255)},
    {"強弱鏡面処理", twipsRect(360, 720, 1935, 255)},
    {"強弱情報シフト", twipsRect(360, 960, 1935, 255)},
    {"逆再生！", twipsRect(360, 1200, 1935, 255)},
}};

// The step buttons carry no text; a small triangle in the colour of button
// text shows their direction, also in a dark palette. Held down, they repeat.
class StepButton : public QPushButton {
  public:
    StepButton(Qt::ArrowType direction, QWidget* parent)
        : QPushButton(QStringLiteral(" "), parent), direction(direction) {
        setIconSize(ArrowSize);
        setAutoRepeat(true);
        drawArrow();
    }

  protected:
    void changeEvent(QEvent* event) override {
        if (event->type() == QEvent::PaletteChange)
            drawArrow();
        QPushButton::changeEvent(event);
    }

  private:
    static constexpr QSize ArrowSize{7, 4};

    void drawArrow() {
        QPixmap pixmap(ArrowSize);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setPen(Qt::NoPen);
        painter.setBrush(palette().color(QPalette::Active, QPalette::ButtonText));
        painter.drawPolygon(direction == Qt::UpArrow
                                ? QPolygon({QPoint(3, 0), QPoint(7, 4), QPoint(0, 4)})
                                : QPolygon({QPoint(0, 0), QPoint(7, 0), QPoint(3, 4)}));
        setIcon(QIcon(pixmap));
    }

    Qt::ArrowType direction;
};

template <typename Widget> Widget* placed(Widget* widget, const char* name, const QRect& geometry) {
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(geometry);
    return widget;
}

} // namespace

frmMain::frmMain(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      background(QStringLiteral(":/background.bmp")),
      instance(basStrSub::AppTitle), toolFolders{zelmod::programDirectory(),
                                                 zelmod::programDirectory()} {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(basStrSub::AppTitle);
    setWindowIcon(QIcon(QStringLiteral(":/zelmod.ico")));
    useWindowFontEverywhere(*this);
    resize(twipsSize(7395, 8280));
    createControls();
    setTabOrder();
    cmdJob1->setFocus();
    connect(cmdJob1, &QPushButton::clicked, this, &frmMain::cmdJob1_Click);
    connect(cmdUp, &QPushButton::clicked, this, &frmMain::cmdUp_Click);
    connect(cmdDown, &QPushButton::clicked, this, &frmMain::cmdDown_Click);
    connect(cmdClose, &QPushButton::clicked, this, &frmMain::cmdClose_Click);
    connect(&instance, &SingleInstance::calledByAnother, this, &frmMain::comeForward);
    txtTrans->installEventFilter(this);
    setAcceptDrops(true);
}

void frmMain::createControls() {
    cmdJob1 = placed(new QPushButton(QStringLiteral("MIDIファイルの鏡面処理開始"), this), "cmdJob1",
                     twipsRect(360, 7680, 2415, 495));
    cmdClose = placed(new QPushButton(QStringLiteral("閉じる"), this), "cmdClose",
                      twipsRect(4680, 7680, 2295, 495));
    fmeOption = placed(new OptionFrame(QStringLiteral("処理内容を選択します"), this), "fmeOption",
                       twipsRect(0, 6000, 3495, 1575));
    createJobOptions();
    txtTrans = placed(new QLineEdit(QStringLiteral("0"), fmeOption), "txtTrans",
                      twipsRect(2160, 720, 615, 270));
    cmdUp = placed(new StepButton(Qt::UpArrow, fmeOption), "cmdUp", twipsRect(2880, 720, 255, 105));
    cmdDown =
        placed(new StepButton(Qt::DownArrow, fmeOption), "cmdDown", twipsRect(2880, 840, 255, 105));
    lblUp = placed(new QLabel(QStringLiteral("Up"), fmeOption), "lblUp",
                   twipsRect(2880, 480, 375, 255));
    lblDown = placed(new QLabel(QStringLiteral("Down"), fmeOption), "lblDown",
                     twipsRect(2880, 960, 495, 255));
    nameAmountControls();
    // Enter presses the focused button, as Space does.
    for (QPushButton* button : findChildren<QPushButton*>())
        button->setAutoDefault(true);
    dlgCommonDialog = new zelmod::CommonDialog(this);
    dlgCommonDialog->setObjectName(QStringLiteral("dlgCommonDialog"));
}

// What a screen reader announces for the controls whose captions do not say
// it; each label names the step button it stands by.
void frmMain::nameAmountControls() {
    txtTrans->setAccessibleName(QStringLiteral("シフト量"));
    cmdUp->setAccessibleName(QStringLiteral("上げる"));
    cmdDown->setAccessibleName(QStringLiteral("下げる"));
    lblUp->setBuddy(cmdUp);
    lblDown->setBuddy(cmdDown);
}

void frmMain::createJobOptions() {
    for (int index = 0; index < JobOptionCount; ++index) {
        const JobOption& option = jobOptions[index];
        auto* button = new QRadioButton(QString::fromUtf8(option.caption), fmeOption);
        placed(button, "optJob", option.geometry);
        button->setProperty("index", index);
        optJob[index] = button;
    }
    optJob[0]->setChecked(true);
    keepOptionGroupOneTabStop();
}

// Tab reaches the option group once, at its selected button; the arrow keys
// move the selection within the group.
void frmMain::keepOptionGroupOneTabStop() {
    for (QRadioButton* button : optJob) {
        const auto updatePolicy = [button](bool checked) {
            button->setFocusPolicy(checked ? Qt::StrongFocus : Qt::ClickFocus);
        };
        updatePolicy(button->isChecked());
        connect(button, &QRadioButton::toggled, this, updatePolicy);
        button->installEventFilter(this);
    }
}

// The amount box steps with keys and the wheel. The options stand in one
// column, so Left and Right move through them as Up and Down do.
bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == txtTrans)
        return stepAmountOn(event);
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Left || key->key() == Qt::Key_Right) {
            QKeyEvent vertical(QEvent::KeyPress,
                               key->key() == Qt::Key_Left ? Qt::Key_Up : Qt::Key_Down,
                               key->modifiers());
            QCoreApplication::sendEvent(watched, &vertical);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void frmMain::setTabOrder() {
    QWidget::setTabOrder(cmdJob1, cmdClose);
    QWidget::setTabOrder(cmdClose, optJob[0]);
    for (int index = 1; index < JobOptionCount; ++index)
        QWidget::setTabOrder(optJob[index - 1], optJob[index]);
    QWidget::setTabOrder(optJob[JobOptionCount - 1], txtTrans);
    QWidget::setTabOrder(txtTrans, cmdUp);
    QWidget::setTabOrder(cmdUp, cmdDown);
}

// Starts one conversion job; the dialogs start from the files chosen in
// the previous job.
void frmMain::cmdJob1_Click() {
    jobPaths = {basStrSub::InputFilePath, basStrSub::OutputFilePath};
    runningJob = new zelmod::ConversionJob(toolFolders, *this, jobPaths,
                                           new zelmod::ConverterRun(toolFolders), this);
    connect(runningJob, &zelmod::ConversionJob::finished, this, &frmMain::jobEnded);
    runningJob->start();
}

void frmMain::jobEnded() {
    basStrSub::InputFilePath = jobPaths.input;
    basStrSub::OutputFilePath = jobPaths.output;
    runningJob->deleteLater();
    runningJob = nullptr;
    droppedInput.clear(); // when the job ended before it asked
    if (closeWhenJobEnds)
        close();
}

void frmMain::setControlsEnabled(bool enabled) {
    if (enabled && heldMessage)
        return;
    cmdClose->setEnabled(enabled);
    cmdJob1->setEnabled(enabled);
    fmeOption->setEnabled(enabled);
}

QString frmMain::amountText() const {
    return txtTrans->text();
}

void frmMain::setAmountText(const QString& text) {
    txtTrans->setText(text);
}

bool frmMain::chooseInput(QString& path) {
    if (!droppedInput.isEmpty()) {
        path = std::exchange(droppedInput, QString());
        return true;
    }
    return zelmod::basFileManager::ChooseOpenFile(*dlgCommonDialog,
                                                  QStringLiteral("変換対象のファイルを開きます"),
                                                  QStringLiteral("MIDI ファイル (*.mid)|*.mid|"),
                                                  path, zelmod::basFileManager::StartFromPath);
}

bool frmMain::chooseOutput(QString& path) {
    return zelmod::basFileManager::ChooseSaveFile(
        *dlgCommonDialog, QStringLiteral("変換ファイルの保存先を指定してください"),
        QStringLiteral("MIDI (*.mid)|*.mid|"), path, zelmod::basFileManager::StartFromPath);
}

void frmMain::showMessage(const zelmod::JobMessage& message) {
    if (aboutShown) {
        heldMessage = message;
        return;
    }
    const bool exclamation = message.icon == zelmod::JobMessage::Icon::Exclamation;
    dlgCommonDialog->showMessage(
        {message.text, message.caption, exclamation ? QMessageBox::Warning : QMessageBox::NoIcon});
}

void frmMain::setBusy(bool busy) {
    if (busy == waitCursorShown)
        return;
    waitCursorShown = busy;
    if (busy)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QGuiApplication::restoreOverrideCursor();
}

void frmMain::cmdUp_Click() {
    stepAmount(1);
}

void frmMain::cmdDown_Click() {
    stepAmount(-1);
}

// Steps the amount unless it already stands at or beyond the limit it moves
// towards, then brings it inside the limits and writes it back, always.
void frmMain::stepAmount(double step) {
    double amount = zelmod::amountFromText(txtTrans->text().toStdString());
    if (step > 0 ? amount < zelmod::AmountLimit : amount > -zelmod::AmountLimit)
        amount += step;
    txtTrans->setText(QString::fromStdString(zelmod::amountToText(zelmod::clampAmount(amount))));
}

// As in a spin box, the Up and Down keys and each notch of the mouse wheel
// step the amount as the step buttons do.
bool frmMain::stepAmountOn(QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key != Qt::Key_Up && key != Qt::Key_Down)
            return false;
        stepAmount(key == Qt::Key_Up ? 1 : -1);
        return true;
    }
    if (event->type() == QEvent::Wheel && txtTrans->isEnabled()) {
        // A fine-grained wheel sends parts of a notch; they add up.
        const int angle = static_cast<QWheelEvent*>(event)->angleDelta().y() + wheelAngleLeft;
        const int notches = angle / QWheelEvent::DefaultDeltasPerStep;
        wheelAngleLeft = angle % QWheelEvent::DefaultDeltasPerStep;
        for (int notch = 0; notch < std::abs(notches); ++notch)
            stepAmount(notches > 0 ? 1 : -1);
        return true;
    }
    return false;
}

bool frmMain::isJobSelected(int index) const {
    return index >= 0 && index < JobOptionCount && optJob[index]->isChecked();
}

void frmMain::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, background); // unscaled; what lies outside is cut off
}

bool frmMain::Form_Load(const zelmod::ToolFolders& folders) {
    setToolFolders(folders);
    basStrSub::SetupFilePath = zelmod::workPath(folders.workDir, zelmod::WorkFile::setupFile);
    basStrSub::SetupHeader = basStrSub::AppTitle + " Setup File Ver.1.00";
    basStrSub::SaveSetupOnExit = true;
    // The design size is the largest the window may take; smaller is allowed.
    // Qt sizes the client area, the window system adds its frame.
    basStrSub::MaxFormWidth = width() * TwipsPerPixel;
    basStrSub::MaxFormHeight = height() * TwipsPerPixel;
    setMaximumSize(size());

    if (instance.anotherIsRunning()) {
        // Shown before the window is, so the box has no owner.
        zelmod::CommonDialog().showMessage(
            {"すでに「" + basStrSub::AppTitle + "」は起動されています、２重起動はできません",
             basStrSub::AppTitle, QMessageBox::Warning});
        // Only now: come forward earlier, the running window might cover the box.
        instance.callRunningInstance();
        basStrSub::SaveSetupOnExit = false;
        close();
        return false;
    }
    instance.listenForCalls();
    qint32 mismatch = 0; // whether the file's line differed: nothing depends on it
    // A folder that cannot be made fails the setup file's write, which says so.
    zelmod::makeWorkDir(folders.workDir);
    if (basDatFileManager::SetupFileExists(basStrSub::SetupFilePath))
        basDatFileManager::ReadSetupFile(basStrSub::SetupFilePath, mismatch);
    else
        basDatFileManager::WriteSetupFile(basStrSub::SetupFilePath);
    return true;
}

void frmMain::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Form_Resize();
}

// The maximum size set at load is a hint that a window manager may ignore,
// or that no window manager may be there to apply; a larger size is undone.
void frmMain::Form_Resize() {
    const QSize allowed = size().boundedTo(maximumSize());
    if (allowed != size())
        resize(allowed);
}

// Qt hands a press that a child leaves unhandled (a label, the frame, the
// blank part of an option button) on to this window, so what counts is what
// lies under the press, not who received it.
void frmMain::mousePressEvent(QMouseEvent* event) {
    if (!childAt(event->position().toPoint()))
        Form_MouseDown();
}

// Another start of the program asked for this window: bring it, or the
// dialog open over it, to the front.
void frmMain::comeForward() {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    QWidget* front = QApplication::activeModalWidget();
    if (!front)
        front = this;
    front->raise();
    front->activateWindow();
}

// A job goes on while the About window is open.
void frmMain::Form_MouseDown() {
    frmAbout about;
    aboutShown = true;
    about.exec();
    aboutShown = false;
    if (heldMessage) {
        showMessage(*std::exchange(heldMessage, std::nullopt));
        setControlsEnabled(true);
    }
}

// Closing during a job stops the job first; the window closes once the
// job has cleaned up.
void frmMain::closeEvent(QCloseEvent* event) {
    if (runningJob || runningBatch) {
        closeWhenJobEnds = true;
        if (runningJob)
            runningJob->cancel();
        else
            runningBatch->cancel();
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}

void frmMain::Form_Unload() {
    if (basStrSub::SaveSetupOnExit)
        basDatFileManager::WriteSetupFile(basStrSub::SetupFilePath);
}

void frmMain::cmdClose_Click() {
    close();
}

// Files dropped while no job runs: one MIDI file is the input of a job as
// the start button starts it, several files or a folder are converted into
// one folder. Refused during a job, so that the cursor shows it.
bool frmMain::takesDrop(const QMimeData* data) const {
    if (runningJob || runningBatch || !droppedInput.isEmpty() || !cmdJob1->isEnabled() ||
        !data->hasUrls())
        return false;
    const QList<QUrl> urls = data->urls();
    const QString first = urls.constFirst().toLocalFile();
    if (urls.size() == 1)
        return DropBatch::isMidiFileName(first) || QFileInfo(first).isDir();
    return std::all_of(urls.begin(), urls.end(), [](const QUrl& url) { return url.isLocalFile(); });
}

void frmMain::dragEnterEvent(QDragEnterEvent* event) {
    if (takesDrop(event->mimeData()))
        event->acceptProposedAction();
}

// The dialogs open once the drop has ended, so that the program the files
// came from is not kept waiting.
void frmMain::dropEvent(QDropEvent* event) {
    if (!takesDrop(event->mimeData()))
        return;
    event->acceptProposedAction();
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        paths << url.toLocalFile();
    if (paths.size() == 1 && !QFileInfo(paths.constFirst()).isDir())
        startDroppedJob(paths.constFirst());
    else
        startDroppedBatch(DropBatch::droppedFiles(paths));
}

void frmMain::startDroppedJob(const QString& input) {
    droppedInput = input;
    QMetaObject::invokeMethod(this, &frmMain::cmdJob1_Click, Qt::QueuedConnection);
}

// The folder dialog starts in the folder of the last output.
void frmMain::startDroppedBatch(const QStringList& paths) {
    runningBatch = new DropBatch(toolFolders, *this, *dlgCommonDialog, this);
    connect(runningBatch, &DropBatch::finished, this, &frmMain::batchEnded);
    QMetaObject::invokeMethod(
        runningBatch, [this, paths] { runningBatch->start(paths, basStrSub::OutputFilePath); },
        Qt::QueuedConnection);
}

void frmMain::batchEnded() {
    runningBatch->deleteLater();
    runningBatch = nullptr;
    if (closeWhenJobEnds)
        close();
}
