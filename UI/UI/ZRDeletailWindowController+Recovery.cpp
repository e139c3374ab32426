// Recovery from the results window: the destination-folder panel, the checks
// on the chosen folder (write access, same device as the scan, free space),
// the start through the engine, the progress window while files are copied
// and the end windows.
#include <sys/statvfs.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>

#include "BundleResources.h"
#include "Log.h"
#include "TCImageButton.h"
#include "TCImageWindow.h"
#include "ZRDeletailWindowController.h"
#include "ZRProgressWindow.h"

namespace {

int64_t FreeBytes(const QString& folder)
{
    struct statvfs info {};
    const QByteArray path = QFile::encodeName(folder);
    if (path.isEmpty() || statvfs(path.constData(), &info) != 0)
        return -1;
    return static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);
}

void SetRecoverButtonOn(QAbstractButton* button, bool on)
{
    if (auto* image = qobject_cast<TCImageButton*>(button))
        image->setButtonEnabled(on);
    else if (button)
        button->setEnabled(on);
}

// Every process-wide total of checked files over recoveries of loaded results.
uint64_t g_u64TotalSelect = 0;

}  // namespace

QString ZRDeletailWindowController::dataPathWithFileName(const QString& name)
{
    const QStringList folders = QStandardPaths::standardLocations(QStandardPaths::DocumentsLocation);
    const QString base = folders.isEmpty() ? QDir::homePath() : folders.first();
    return QDir(base).filePath(name);
}

void ZRDeletailWindowController::recovrtyButtonClick()
{
    SetRecoverButtonOn(recovertyButton, false);
    m_recoveryClickStart = QDateTime::currentSecsSinceEpoch();
    m_isRecoveryEndSHowWindow = 1;
    if (m_panel)
        delete m_panel.data();
    auto* dialog = new QFileDialog(aWindow);
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    dialog->setOption(QFileDialog::DontResolveSymlinks, false);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setWindowTitle(localized("PAGE_FOUR_RECOVERY_NODE"));
    const QString prompt = localized("PAGE_FOUR_RECOVERY_WINDOW_SAVE_BUTTON");
    if (!prompt.isEmpty())
        dialog->setLabelText(QFileDialog::Accept, prompt);
    if (m_rectNew.width() == 0 && m_rectNew.height() == 0) {
        m_rectNew = aWindow->geometry();
        m_rectNew.setHeight(std::max(0, m_rectNew.height() - 75));
    }
    // The panel keeps the frame the user last gave it.
    dialog->setGeometry(m_rectNew);
    m_panel = dialog;
    connect(dialog, &QFileDialog::finished, this, [this, dialog](int result) {
        if (m_panel != dialog)
            return;
        const QStringList chosen = dialog->selectedFiles();
        panelEnded(result == QDialog::Accepted ? 1 : 0, chosen.isEmpty() ? QString() : chosen.first());
    });
    dialog->open();
    m_bridge->SpyIDStringTable1(4164, QString::number(QDateTime::currentSecsSinceEpoch() - m_recoveryClickStart));
}

void ZRDeletailWindowController::panelEnded(int code, const QString& folder)
{
    if (m_panel) {
        m_panel->hide();
        m_rectNew = m_panel->geometry();
        m_panel->deleteLater();
        m_panel = nullptr;
    }
    SetRecoverButtonOn(recovertyButton, true);
    if (code != 1)
        return;
    if (m_isImport) {
        m_bridge->SpyIDIncreateTable1(4137);
        uint32_t count = 0;
        uint64_t size = 0;
        m_bridge->GetSelectedFilesAmout(count, size);
        g_u64TotalSelect += count;
        m_bridge->SpyIDStringTable2(4144, QString::number(g_u64TotalSelect));
    }
    m_recoverySavePathStr = folder;
    const bool writable = canWriteTo ? canWriteTo(folder)
                                     : (!folder.isEmpty() && access(QFile::encodeName(folder).constData(), W_OK) == 0);
    if (!writable) {
        showSheet(SheetKind::NoAccess);
        return;
    }
    if (m_bridge->IsRecoveryToSameDevice(folder)) {
        showSheet(SheetKind::SameDevice);
        return;
    }
    // Free space must exceed the checked size by 5 %; a size that cannot be
    // read counts as none.
    int64_t free = freeSpaceOf ? freeSpaceOf(folder) : FreeBytes(folder);
    if (free < 0)
        free = 0;
    const uint64_t need = m_selectedFileSize / 100 * 105 + (m_selectedFileSize % 100) * 105 / 100;
    if (static_cast<uint64_t>(free) <= need) {
        showSheet(SheetKind::NoSpace);
        return;
    }
    startRecovery();
    reportRecoveryStart();
}

void ZRDeletailWindowController::reportRecoveryStart()
{
    const QString mode = QString::number(m_selectSegmentCount);
    m_bridge->SpyIDStringTable2(4120, mode);
    if (m_selectTypeCount == kTreeType && m_opDataFile) {
        for (const OpNodeDataPtr& root : m_allTypeArr)
            if (root && root->name() == m_opDataFile->name()) {
                m_bridge->SpyIDStringTable2(4115, mode);
                break;
            }
    }
}

void ZRDeletailWindowController::startRecovery()
{
    m_isFinishRecovery = 0;
    m_isBeginRecovery = 1;
    if (m_selectTypeCount < kTreePath || m_selectTypeCount > kTreeModifyTime)
        return;
    m_bridge->DoRecovery(&rootsOf(m_selectTypeCount), m_recoverySavePathStr, "DoRecovery", this);
}

void ZRDeletailWindowController::alertEnded_competenceContext(int /*code*/) {}

void ZRDeletailWindowController::alertEnded_eContext(int code)
{
    if (code != kSheetAlternate) {
        // Another folder: a new panel in a moment.
        QTimer::singleShot(500, this, [this] { recovrtyButtonClick(); });
    } else {
        startRecovery();
    }
    reportRecoveryStart();
}

void ZRDeletailWindowController::alertEnded_noSpaceContext(int code)
{
    // The default button chooses another folder (a new panel in a moment, as
    // after the same-device sheet); the alternate one goes on into this
    // folder all the same.
    if (code == kSheetAlternate)
        startRecovery();
    else if (code == kSheetDefault)
        QTimer::singleShot(500, this, [this] { recovrtyButtonClick(); });
}

void ZRDeletailWindowController::releaseRecoveryProgressWindow()
{
    if (!m_recoveryProgressWindow)
        return;
    ZRShowScanProgressWindowController* window = m_recoveryProgressWindow;
    m_recoveryProgressWindow = nullptr;
    if (m_recoveryModalRunning) {
        // Its modal session is still on the stack: end it and let the code
        // that runs it release the window when the session has returned.
        window->stopModal();
        if (window->isWindowLoaded())
            window->window()->hide();
        m_releaseProgressAfterModal = true;
        return;
    }
    if (window->isWindowLoaded())
        window->window()->hide();
    delete window;
}

void ZRDeletailWindowController::recoveryAction()
{
    if (!m_recoveryProgressWindow && m_bridge->IsRecoveryRunning() && !m_recoveryModalRunning) {
        m_recoveryProgressWindow = new ZRShowScanProgressWindowController;
        m_recoveryProgressWindow->setDelegate(this);
    }
    uint64_t total = 0, done = 0;
    int64_t error = 0;
    const QString name = m_bridge->GetRecoveryProgressTotal(total, done, error);
    if (error > 0) {
        if (m_recoveryProgressWindow)
            m_recoveryProgressWindow->setNoMemeryViewHidden();
    } else {
        const double percent =
            (done != 0 && total != 0) ? static_cast<double>(done) * 100.0 / static_cast<double>(total) : 0.0;
        if (m_recoveryProgressWindow)
            m_recoveryProgressWindow->changeProgressValue(percent, name);
        if (!m_bridge->IsRecoveryRunning()) {
            if (m_isFinishRecovery)
                return;
            m_isFinishRecovery = 1;
            releaseRecoveryProgressWindow();
            if (m_isRecoveryEndSHowWindow == 1)
                showRecoveryEndWindow();
            return;
        }
    }
    if (m_isBeginRecovery && m_recoveryProgressWindow && !m_recoveryModalRunning) {
        m_isBeginRecovery = 0;
        ZRShowScanProgressWindowController* window = m_recoveryProgressWindow;
        m_recoveryModalRunning = true;
        window->runModal();
        m_recoveryModalRunning = false;
        if (m_releaseProgressAfterModal) {
            m_releaseProgressAfterModal = false;
            delete window;
        } else if (m_recoveryProgressWindow == window && m_bridge->IsRecoveryRunning()) {
            // The user closed the window itself while the recovery runs or
            // waits for room (a full destination pauses it): that is a stop,
            // or the paused recovery would hold the engine for good and no
            // later recovery could start.
            stopButtonAction(2);
        }
        if (aWindow)
            aWindow->activateWindow();
    }
}

void ZRDeletailWindowController::stopButtonAction(int action)
{
    if (action == 1) {
        m_bridge->PauseOrResumeRecovery();
        return;
    }
    m_isFinishRecovery = 1;
    m_isRecoveryEndSHowWindow = 0;
    releaseRecoveryProgressWindow();
    m_bridge->StopRecvoery();
    showRecoveryNotEndWindow();
}

void ZRDeletailWindowController::showRecoveryEndWindow()
{
    ++m_recoveryEndWindowsShown;
    if (runRecoveryEndWindow)
        runRecoveryEndWindow(m_recoverySavePathStr);
    if (aWindow)
        aWindow->activateWindow();
}

void ZRDeletailWindowController::showRecoveryNotEndWindow()
{
    ++m_recoveryNotEndWindowsShown;
    if (runRecoveryNotEndWindow)
        runRecoveryNotEndWindow(static_cast<double>(m_bridge->GetRecoveridedFiles()), m_recoverySavePathStr);
    if (aWindow)
        aWindow->activateWindow();
}

// ---- saving the scan result ---------------------------------------------------------

namespace {

QString RunSaveResultPanel(QWidget* parent, const QString& folder, const QString& name)
{
    QFileDialog panel(parent);
    panel.setAcceptMode(QFileDialog::AcceptSave);
    panel.setFileMode(QFileDialog::AnyFile);
    panel.setNameFilter(QStringLiteral("*.rsf"));
    panel.setDefaultSuffix(QStringLiteral("rsf"));
    panel.setDirectory(folder);
    panel.selectFile(name);
    if (panel.exec() != QDialog::Accepted || panel.selectedFiles().isEmpty())
        return {};
    return panel.selectedFiles().front();
}

int RunSaveSameDiskAlert(QWidget* parent)
{
    QMessageBox alert(parent);
    alert.setWindowModality(Qt::ApplicationModal);
    alert.setIconPixmap(Bundle::ImageNamed(QStringLiteral("warning_b")));
    alert.setText(Bundle::LocalizedString(QStringLiteral("SAVE_SAME_DISK_WARNING")));
    alert.setInformativeText(Bundle::LocalizedString(QStringLiteral("SAVE_SAME_DISK_PROMPT")));
    QPushButton* change =
        alert.addButton(Bundle::LocalizedString(QStringLiteral("CHANG_DESTINATION")), QMessageBox::AcceptRole);
    QPushButton* no =
        alert.addButton(Bundle::LocalizedString(QStringLiteral("PAGE_FOUR_SCAN_STOP_NO_BUTTON")), QMessageBox::RejectRole);
    alert.addButton(Bundle::LocalizedString(QStringLiteral("PAGE_FOUR_SCAN_STOP_YES_BUTTON")),
                    QMessageBox::DestructiveRole);
    alert.setDefaultButton(change);
    alert.exec();
    if (alert.clickedButton() == change)
        return ZRDeletailWindowController::kSheetDefault;
    if (alert.clickedButton() == no || !alert.clickedButton())
        return ZRDeletailWindowController::kSheetAlternate;
    return ZRDeletailWindowController::kSheetOther;
}

}  // namespace

void ZRDeletailWindowController::exportButtonAction()
{
    QString path;
    for (;;) {
        const QString folder = m_bridge->GetDefaultSavePath();
        const QString name = m_bridge->GetSaveFileName();
        path = chooseSaveFile ? chooseSaveFile(folder, name) : RunSaveResultPanel(aWindow, folder, name);
        if (path.isEmpty())
            return;
        m_bridge->SpyIDIncreateTable1(4133);
        m_bridge->SpyIDIncreateTable1(m_isDeepScan ? 4134 : 4135);
        if (!m_bridge->IsRecoveryToSameDevice(QFileInfo(path).absolutePath()))
            break;
        const int code = runSaveSameDiskAlert ? runSaveSameDiskAlert() : RunSaveSameDiskAlert(aWindow);
        if (code == kSheetDefault)
            continue;
        if (code == kSheetAlternate)
            return;
        break;
    }
    CatchExeception::WriteLog("Call Logic code save file %s\r\n", path.toUtf8().constData());
    const QString postKey = QStringLiteral("QueryProgressInfo");
    ZRProgressWindow progress;
    progress.setStrPostName(postKey);
    progress.setBSave(true);
    // Loaded before the save starts, so that it already follows the save's
    // progress and end notifications.
    progress.window();
    m_bridge->RestorPostUIUpdate(postKey, true);
    m_bridge->beginSaveOrRestoreNode(true, path);
    progress.runModal();
    if (aWindow)
        aWindow->activateWindow();
    if (!progress.getResult())
        return;
    m_bSave = 1;
    m_bridge->SavePathToPList(path);
}
