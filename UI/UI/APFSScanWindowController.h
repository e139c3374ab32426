// The notice shown instead of a scan when the chosen volume cannot be opened
// for one (its record's beCanOpen is 0): a text about such volumes, a link to
// a help page ("APFS_HELP_URL" of the link table) and an OK button.
//
// The root window makes one per refused volume and runs it:
//   APFSScanWindowController notice;
//   notice.runModal();          // returns when OK or the close button is pressed
#pragma once

#include "ZRPopupWindow.h"

class QPushButton;
class ZRHandButton;

class APFSScanWindowController : public ZRPopupWindow {
    Q_OBJECT
public:
    explicit APFSScanWindowController(QObject* parent = nullptr);
    ~APFSScanWindowController() override;

    // Both end the modal session, then close the window (no fade).
    void okButtonAction(QObject* sender = nullptr);
    void closeWindow(QObject* sender = nullptr);
    void linkButtonAction(QObject* sender = nullptr);

    int iClickCount() const { return m_iClickCount; }
    QLabel* textField() const { return m_textField; }
    QLabel* textField1() const { return m_textField1; }
    QLabel* actualizarLabel() const { return m_actualizarLabel; }
    ZRHandButton* actualizarButton() const { return m_actualizarButton; }
    QWidget* actualizarLine() const { return m_actualizarLine; }
    ZRHandButton* actuButton() const { return m_actuButton; }
    QPushButton* okButton() const { return m_okButton; }

protected:
    void loadInterface(QWidget* content) override;
    void awakeFromNib() override;
    void windowDidLoad() override;

private:
    int m_iClickCount = 0;
    QLabel* m_textField = nullptr;
    QLabel* m_textField1 = nullptr;
    QLabel* m_actualizarLabel = nullptr;
    ZRHandButton* m_actualizarButton = nullptr;
    QWidget* m_actualizarLine = nullptr;
    ZRHandButton* m_actuButton = nullptr;
    QPushButton* m_okButton = nullptr;
};
