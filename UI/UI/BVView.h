#pragma once
// The item view of the results window's picture collection (120 x 100): a
// background picture that lights up under the pointer, the thumbnail, the
// name, a check box that checks or unchecks the file, and a deleted mark.
// BVPrototype is the collection item that makes the view and fills it.
//
// Files are engine file nodes given by value (quint64 holding the node).

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <optional>

class QLabel;
class QPushButton;

// What the items need of the result: scan state, thumbnails and the files'
// names, states and deleted marks. The default source asks the bridge; a
// screen or a test may install another.
class BVNodeSource
{
public:
    virtual ~BVNodeSource() = default;
    virtual bool IsScanRunning() { return false; }
    // Null when no thumbnail can be made.
    virtual QPixmap GetNSImageByFildNodeNSNumber(quint64 /*fileNode*/) { return {}; }
    virtual QString fileNodeName(quint64 /*fileNode*/) { return {}; }
    virtual int fileNodeState(quint64 /*fileNode*/) { return 0; }
    virtual void setFileNode(quint64 /*fileNode*/, int /*state*/) {}
    virtual bool isFileNodeDeleted(quint64 /*fileNode*/) { return false; }

    // The process-wide source (never null; an inert one until set).
    static BVNodeSource* current();
    // Not owned; nullptr restores the inert one.
    static void setCurrent(BVNodeSource* source);
};

class BVViewDelegate
{
public:
    virtual ~BVViewDelegate() = default;
    virtual void reLoadItemData() {}
};

class BVView : public QWidget
{
    Q_OBJECT
public:
    // Only the origin of frame is used; the size is always itemSize.
    explicit BVView(const QRect& frame = QRect(), QWidget* parent = nullptr);
    ~BVView() override;

    static QSize itemSize() { return QSize(120, 100); }

    std::optional<quint64> listData() const { return m_listData; }
    void setListData(std::optional<quint64> fileNode) { m_listData = fileNode; }
    QLabel* bgImageView() const { return m_bgImageView; }
    QLabel* imageView() const { return m_imageView; }
    QLabel* titleLabel() const { return m_titleLabel; }
    QPushButton* button() const { return m_button; }
    QLabel* deleteIamgeView() const { return m_deleteIamgeView; }
    bool isSelect() const { return m_isSelect; }
    void setIsSelect(bool select) { m_isSelect = select; }
    BVViewDelegate* delegate() const { return m_delegate; }
    void setDelegate(BVViewDelegate* delegate) { m_delegate = delegate; }

    // The check box's action: toggles the file's check state.
    void changeButtonState(QPushButton* sender = nullptr);
    // Name of the picture the check box shows now ("checkbox_yes"/"checkbox_no").
    QString checkBoxImageName() const { return m_checkBoxImageName; }
    void setCheckBoxImageName(const QString& name);
    // Name of the background picture shown now.
    QString backgroundImageName() const { return m_backgroundImageName; }

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void setBackgroundImageName(const QString& name);

    std::optional<quint64> m_listData;
    QLabel* m_bgImageView = nullptr;
    QLabel* m_imageView = nullptr;
    QLabel* m_deleteIamgeView = nullptr;
    QPushButton* m_button = nullptr;
    QLabel* m_titleLabel = nullptr;
    bool m_isSelect = false;
    BVViewDelegate* m_delegate = nullptr;
    QString m_checkBoxImageName;
    QString m_backgroundImageName;
};

class BVPrototypeDelegate
{
public:
    virtual ~BVPrototypeDelegate() = default;
    virtual void reLoadCollectionViewData() {}
    // How many items the owner has filled; 0 until it starts filling.
    virtual int viewLoadCnt() { return 0; }
};

class BVPrototype : public QObject, public BVViewDelegate
{
    Q_OBJECT
public:
    explicit BVPrototype(QObject* parent = nullptr);
    ~BVPrototype() override;

    BVPrototypeDelegate* delegate() const { return m_delegate; }
    void setDelegate(BVPrototypeDelegate* delegate) { m_delegate = delegate; }

    // Gives the item its view: a view of its own once the owner fills items,
    // else the one view shared by the process.
    void loadView();
    BVView* view() const { return m_view; }
    // Fills the view from a file (std::nullopt: nothing happens).
    void setRepresentedObject(std::optional<quint64> fileNode);
    void reLoadItemData() override;

    QPixmap image() const { return m_image; }
    void setImage(const QPixmap& image) { m_image = image; }
    QString titleStr() const { return m_titleStr; }
    void setTitleStr(const QString& title) { m_titleStr = title; }

    // The process-wide shared view (nullptr before the first loadView).
    static BVView* sharedView();

private:
    QPixmap m_image;
    QString m_titleStr;
    BVPrototypeDelegate* m_delegate = nullptr;
    QPointer<BVView> m_view;
    bool m_ownsView = false;
};
