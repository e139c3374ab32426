// The wizard's file-type page: six kind buttons and an all-types box. The
// chosen kinds are kept as decimal texts of their bit values ("1", "2",
// ... "32"); the root window ORs them into the engine's filter mask.
#pragma once

#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <array>

class QAbstractButton;
class QLabel;
class QPushButton;
class TCImageButton;
class TypeButton;

class ZRSelectTypeViewControllerDelegate {
public:
    virtual ~ZRSelectTypeViewControllerDelegate() = default;
    virtual void changeContinueButtonState(const QStringList& /*selectArr*/) {}
    virtual void beginToStartScan() {}
};

class ZRSelectTypeViewController : public QWidget {
    Q_OBJECT
public:
    explicit ZRSelectTypeViewController(QWidget* parent = nullptr);
    ~ZRSelectTypeViewController() override;

    ZRSelectTypeViewControllerDelegate* delegate() const { return m_delegate; }
    void setDelegate(ZRSelectTypeViewControllerDelegate* delegate) { m_delegate = delegate; }
    QLabel* alltypesLabel() const { return m_alltypesLabel; }
    QLabel* midlleLabel() const { return m_midlleLabel; }
    int selectAllCount() const { return m_selectAllCount; }
    void setSelectAllCount(int count) { m_selectAllCount = count; }
    QPushButton* alltypesButton() const { return m_alltypesButton; }
    TCImageButton* startScanButton() const { return m_startScanButton; }
    TypeButton* docTypeButton() const { return m_kindButtons[kDoc]; }
    TypeButton* muiscTypeButton() const { return m_kindButtons[kMusic]; }
    TypeButton* zipTypeButton() const { return m_kindButtons[kZip]; }
    TypeButton* picTypeButton() const { return m_kindButtons[kPic]; }
    TypeButton* videosTypeButton() const { return m_kindButtons[kVideo]; }
    TypeButton* otherTypeButton() const { return m_kindButtons[kOther]; }
    const QStringList& selectArr() const { return m_selectArr; }
    // The picture the all-types box shows ("checkbox_no", "checkbox_yes",
    // "checkbox_election").
    const QString& alltypesImageName() const { return m_alltypesImageName; }
    // The kind's tag n (0-5, bit value 1 << n); -1 for another button.
    int tagOfButton(const TypeButton* button) const;

    void awakeFromNib();
    void selectButtonClick(TypeButton* sender);
    void changeAllSelectState(TypeButton* sender);
    void allTypesButtonClick(QAbstractButton* sender = nullptr);
    void beginToStartScan();

private:
    // Index in m_kindButtons; the tags follow the engine's type groups.
    enum Kind { kDoc, kMusic, kZip, kPic, kVideo, kOther, kKinds };
    void setAllTypesImage(const QString& name);

    QStringList m_selectArr;
    QLabel* m_alltypesLabel = nullptr;
    QLabel* m_midlleLabel = nullptr;
    TCImageButton* m_startScanButton = nullptr;
    std::array<TypeButton*, kKinds> m_kindButtons{};
    int m_selectAllCount = 0;
    ZRSelectTypeViewControllerDelegate* m_delegate = nullptr;
    QPushButton* m_alltypesButton = nullptr;
    QString m_alltypesImageName;
};
