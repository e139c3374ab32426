#include "ZRProgressWindow.h"

#include <QDebug>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "BundleResources.h"
#include "NotificationCenter.h"
#include "ZRUIController.h"

namespace {

constexpr int kWidth = 420;
constexpr int kHeight = 120;
constexpr int kCloseTickMs = 500;

ZRProgressWindow::ProgressReader& Reader()
{
    static ZRProgressWindow::ProgressReader reader;
    return reader;
}

QString Text(const char* key) { return Bundle::LocalizedString(QString::fromLatin1(key)); }

}  // namespace

void ZRProgressWindow::SetProgressReader(ProgressReader reader) { Reader() = std::move(reader); }

ZRProgressWindow::ZRProgressWindow(QObject* parent) : ZRPopupWindow(QSize(kWidth, kHeight), parent) {}

ZRProgressWindow::~ZRProgressWindow() { stopObserving(); }

QString ZRProgressWindow::strPostName() const
{
    std::lock_guard<std::mutex> lock(m_nameLock);
    return m_strPostName;
}

void ZRProgressWindow::setStrPostName(const QString& name)
{
    std::lock_guard<std::mutex> lock(m_nameLock);
    m_strPostName = name;
}

void ZRProgressWindow::loadInterface(QWidget* content)
{
    m_title = MakeText(content, QRect(20, 14, kWidth - 40, 20), 14, false);
    m_Description = MakeText(content, QRect(20, 40, kWidth - 40, 36), 12, true);
    m_progress = new QProgressBar(content);
    m_progress->setGeometry(20, 84, kWidth - 40, 14);
    m_progress->setTextVisible(false);
}

void ZRProgressWindow::awakeFromNib()
{
    m_title->setText(m_bSave ? Text("SAVE_SCAN_RESULT") : Text("LOAD_SCAN_RESULT"));
    m_Description->setText(m_bSave ? Text("SAVE_RESULT_WAIT") : Text("LOAD_RESULT_WAIT"));
    m_bSucess = false;
    m_bFinish = false;
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    ZRPopupWindow::awakeFromNib();
}

void ZRProgressWindow::windowDidLoad()
{
    NotificationCenter& center = NotificationCenter::defaultCenter();
    // An empty name would hear every notification of the program.
    const std::string progressName = strPostName().toStdString();
    if (!progressName.empty())
        center.AddObserver(this, progressName, [this](const Notification& n) { changeProgressValue(&n); });
    center.AddObserver(this, "QueryProgressFinish", [this](const Notification& n) { ProgressFinish(&n); });
    buildPopupTitleBar();
    redirectCloseButton([this] { closeWindow(aWindow); });
}

void ZRProgressWindow::stopObserving() { NotificationCenter::defaultCenter().RemoveObserver(this); }

static void ReadFigures(quint64* total, quint64* current, qint64* errorCode, bool saver)
{
    if (Reader())
        Reader()(total, current, errorCode, saver);
    else
        ZRUIController::GetSaveorRestoreProgress(total, current, errorCode, saver);
}

void ZRProgressWindow::changeProgressValue(const Notification* /*notification*/)
{
    quint64 total = 0, current = 0;
    qint64 errorCode = 0;
    ReadFigures(&total, &current, &errorCode, m_bSave);
    const double percent = double(current) * 100.0 / double(total == 0 ? 1 : total);
    // The bar never moves back (a load replays figures that may fall).
    if (percent > m_progress->value())
        m_progress->setValue(static_cast<int>(qMin(percent, 100.0)));
}

void ZRProgressWindow::ProgressFinish(const Notification* /*notification*/)
{
    quint64 total = 0, current = 0;
    qint64 errorCode = 0;
    ReadFigures(&total, &current, &errorCode, m_bSave);
    qInfo("---------------Progress finish----------------");
    m_bFinish = true;
    m_bSucess = errorCode == 0;
    // One close tick is enough, however often the end is reported.
    if (isTimerRunning())
        return;
    if (!m_timer) {
        m_timer = new QTimer(this);
        m_timer->setInterval(kCloseTickMs);
        connect(m_timer, &QTimer::timeout, this, [this] { onTimer(); });
    }
    m_timer->start();
}

bool ZRProgressWindow::isTimerRunning() const { return m_timer && m_timer->isActive(); }

void ZRProgressWindow::onTimer()
{
    if (!m_bFinish)
        return;
    qInfo("----------call onTimer begin-------------");
    if (m_timer)
        m_timer->stop();
    stopObserving();
    if (!m_bSucess) {
        QMessageBox alert(QMessageBox::NoIcon, QString(), QString(), QMessageBox::NoButton, aWindow);
        alert.setWindowModality(Qt::ApplicationModal);
        alert.setInformativeText(Text("READ_RSF_FAILED"));
        alert.addButton(Text("PAGE_FOUR_RECOVERY_NO_COMPETENCE_YES_BUTTON"), QMessageBox::AcceptRole);
        m_failureAlert = &alert;
        QPointer<ZRProgressWindow> alive(this);
        alert.exec();
        if (!alive)
            return;
        m_failureAlert = nullptr;
    }
    stopModal();
    closeWindowNow();
    qInfo("----------close ProgressWindow-------------");
    if (!m_bSave && m_bSucess)
        NotificationCenter::defaultCenter().PostNotification("ShowDetailWindow");
    qInfo("----------call onTimer finish-------------");
}

void ZRProgressWindow::closeWindow(QObject* /*sender*/)
{
    // The operation goes on without this window; its end must not change
    // the answer the creator reads now.
    stopObserving();
    if (m_timer)
        m_timer->stop();
    stopModal();
    closeWindowNow();
}
