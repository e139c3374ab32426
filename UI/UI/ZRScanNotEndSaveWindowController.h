// The window that closes a recovery the user stopped early: how many files
// were recovered, the destination folder as a link and an OK button.
//
// The results window makes a new one for every stopped recovery:
//   auto end = std::make_unique<ZRScanNotEndSaveWindowController>();
//   end->window();                                        // loads it
//   end->changeRecoveryFilesPoint(double(files), folder);
//   end->runModal();
#pragma once

#include <QString>

#include "ZRPopupWindow.h"

class QPushButton;

class ZRScanNotEndSaveWindowController : public ZRPopupWindow {
    Q_OBJECT
public:
    explicit ZRScanNotEndSaveWindowController(QObject* parent = nullptr);
    ~ZRScanNotEndSaveWindowController() override;

    // The note made from the localised format "PAGE_FOUR_RECOVER_NOTEND_NODE"
    // and the count, and the folder link.
    void changeRecoveryFilesPoint(double count, const QString& folder);
    void okButtonAction(QObject* sender = nullptr);
    void jumpToSavePath(QObject* sender = nullptr);

    QLabel* showRecoveryNoteLabel() const { return m_showRecoveryNoteLabel; }
    QPushButton* okButton() const { return m_okButton; }
    // Shown when the folder link could not open the folder.
    QLabel* openFailedNote() const { return m_openFailedNote; }
    ZRLinkLabel* savePathLabel() const { return m_savePathLabel; }
    const QString& savePtahStr() const { return m_savePtahStr; }

protected:
    void loadInterface(QWidget* content) override;
    void awakeFromNib() override;

private:
    QLabel* m_showRecoveryNoteLabel = nullptr;
    QPushButton* m_okButton = nullptr;
    QLabel* m_openFailedNote = nullptr;
    ZRLinkLabel* m_savePathLabel = nullptr;
    QString m_savePtahStr;
};
