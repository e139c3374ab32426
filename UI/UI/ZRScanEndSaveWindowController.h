// The window that closes a recovery that ran to its end: a heading, a text,
// the destination folder as a link that opens it in the file manager, links
// to the product's social pages and an OK button.
//
// The results window makes a new one for every finished recovery:
//   auto end = std::make_unique<ZRScanEndSaveWindowController>();
//   end->setSavePathStr(folder);   // before the window loads
//   end->runModal();
#pragma once

#include <QString>

#include "ZRPopupWindow.h"

class QPushButton;

class ZRScanEndSaveWindowController : public ZRPopupWindow {
    Q_OBJECT
public:
    explicit ZRScanEndSaveWindowController(QObject* parent = nullptr);
    ~ZRScanEndSaveWindowController() override;

    const QString& savePathStr() const { return m_savePathStr; }
    // Must be called before the window loads.
    void setSavePathStr(const QString& path) { m_savePathStr = path; }

    void okButtonAction(QObject* sender = nullptr);
    void jumpToSavePath(QObject* sender = nullptr);
    void facebookButtonAction(QObject* sender = nullptr);
    void twitterButtonAction(QObject* sender = nullptr);
    void googleAddButtonAction(QObject* sender = nullptr);

    // Closes, asks the program to end when quitting, then ends the modal
    // session (this window's own order).
    void animationDidStop() override;

    ZRLinkLabel* savePathLabel() const { return m_savePathLabel; }
    QLabel* recoveryEndTitle() const { return m_recoveryEndTitle; }
    QLabel* recoveryEndNode() const { return m_recoveryEndNode; }
    QPushButton* okButton() const { return m_okButton; }
    // Shown when the folder link could not open the folder.
    QLabel* openFailedNote() const { return m_openFailedNote; }
    QPushButton* facebookButton() const { return m_facebookButton; }
    QPushButton* twitterButton() const { return m_twitterButton; }
    QPushButton* googleButton() const { return m_googleButton; }

protected:
    void loadInterface(QWidget* content) override;
    void awakeFromNib() override;
    void windowDidLoad() override;

private:
    QString m_savePathStr;
    ZRLinkLabel* m_savePathLabel = nullptr;
    QLabel* m_recoveryEndTitle = nullptr;
    QLabel* m_recoveryEndNode = nullptr;
    QPushButton* m_okButton = nullptr;
    QLabel* m_openFailedNote = nullptr;
    QPushButton* m_facebookButton = nullptr;
    QPushButton* m_twitterButton = nullptr;
    QPushButton* m_googleButton = nullptr;
};
