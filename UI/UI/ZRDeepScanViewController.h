// The deep-scan offer: a line of text and a close button, shown by the
// results window in an attached pop-over when a quick scan of a device has
// ended. The close button asks the delegate to hide the pop-over.
//
// The results window makes one and owns it:
//   m_deepScanView = new ZRDeepScanViewController();   // the view itself
//   m_deepScanView->setDelegate(this);                 // popupViewHidden()
//   new MAAttachedWindow(m_deepScanView, point, window, side, distance);
#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

class ZRDeepScanViewControllerDelegate {
public:
    virtual ~ZRDeepScanViewControllerDelegate() = default;
    // Hide the pop-over that carries the offer.
    virtual void popupViewHidden();
};

class ZRDeepScanViewController : public QWidget {
    Q_OBJECT
public:
    explicit ZRDeepScanViewController(QWidget* parent = nullptr);

    ZRDeepScanViewControllerDelegate* delegate() const { return m_delegate; }
    void setDelegate(ZRDeepScanViewControllerDelegate* delegate) { m_delegate = delegate; }

    void closeButtonAction(QObject* sender = nullptr);

    QLabel* deepScanNodeLabel() const { return m_deepScanNodeLabel; }
    QPushButton* closeButton() const { return m_closeButton; }

private:
    ZRDeepScanViewControllerDelegate* m_delegate = nullptr;
    QLabel* m_deepScanNodeLabel = nullptr;
    QPushButton* m_closeButton = nullptr;
};
