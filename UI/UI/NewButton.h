#pragma once
// The check-box cell of the result trees: a check-box image, an icon cell
// and a text label side by side in one cell. It carries the tree item of its
// row and reports a click in its check-box zone to its delegate once, with a
// 0.2-second guard against repeats that all NewButton cells share.

#include <memory>

#include "ZRCell.h"

class NewButton;
class OpNodeData;

class NewButtonDelegate
{
public:
    virtual ~NewButtonDelegate() = default;
    virtual void clickButtonAction(NewButton* /*cell*/) {}
};

class NewButton : public ZRButtonCell
{
public:
    NewButton() = default;

    // The copy holds its own label, icon cell and check-box image and shares
    // the item, the name and the delegate.
    std::unique_ptr<ZRCell> copy() const override;

    ZRCell* label() const { return m_label.get(); }
    void setLabel(std::shared_ptr<ZRCell> label) { m_label = std::move(label); }
    ZRCell* iconImageCell() const { return m_iconImageCell.get(); }
    void setIconImageCell(std::shared_ptr<ZRCell> cell) { m_iconImageCell = std::move(cell); }
    QPixmap checkBoxImage() const { return m_checkBoxImage; }
    void setCheckBoxImage(const QPixmap& image) { m_checkBoxImage = image; }
    // The tree item of the row (kept alive by the tree that shows it).
    OpNodeData* opNodeData() const { return m_opNodeData; }
    void setOpNodeData(OpNodeData* item) { m_opNodeData = item; }
    QString name() const { return m_name; }
    void setName(const QString& name) { m_name = name; }
    NewButtonDelegate* delegate() const { return m_delegate; }
    void setDelegate(NewButtonDelegate* delegate) { m_delegate = delegate; }

    // Label, icon and check-box rectangles for a cell frame (zero when the
    // part is unset).
    QRectF imageRectForBounds(const QRectF& cellFrame) const;
    QRectF iconImageRectForBounds(const QRectF& cellFrame) const;
    QRectF imageFrameRectForBounds(const QRectF& cellFrame) const;

    void drawWithFrame(QPainter& painter, const QRectF& cellFrame, QWidget* controlView) override;
    unsigned hitTestForEvent(const QPointF& point, const QRectF& cellFrame, QWidget* controlView) override;

    // Opens the shared click guard again (scheduled 0.2 s after a click).
    void changeVlaue(QObject* ignored = nullptr);
    static int clickGuard();
    static void resetClickGuard();

    // How long the guard stays raised after an accepted click.
    static constexpr int kClickGuardMs = 200;

private:
    std::shared_ptr<ZRCell> m_label;
    std::shared_ptr<ZRCell> m_iconImageCell;
    QPixmap m_checkBoxImage;
    OpNodeData* m_opNodeData = nullptr;
    QString m_name;
    NewButtonDelegate* m_delegate = nullptr;
};
