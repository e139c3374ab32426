#include "CustomTableView.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>

#include "BundleResources.h"
#include "CustomHeaderCell.h"

namespace ZRListColors
{
QColor MarkedRowColor() { return QColor(9, 40, 76); }
QColor PlainRowColor() { return QColor(32, 36, 39); }
QColor StripeColorA() { return QColor(39, 43, 47); }
QColor StripeColorB() { return QColor(37, 41, 45); }
QColor HeaderTextColor() { return QColor(160, 170, 211); }
QColor NoteTextColor() { return QColor(152, 164, 208); }
}

void ZRDrawStripedBackground(QPainter& painter, int width, int boundsHeight, int yOffset)
{
    // Stripes cover the whole bounds, k = 0 ... height / 39 (the last one may
    // reach past the bottom), not only the part being repainted.
    const int count = std::max(0, boundsHeight) / kZRStripeHeight;
    painter.save();
    painter.setPen(Qt::NoPen);
    for (int k = 0; k <= count; ++k) {
        const QRect stripe(0, k * kZRStripeHeight - yOffset, width, kZRStripeHeight);
        painter.fillRect(stripe, k % 2 == 0 ? ZRListColors::StripeColorA() : ZRListColors::StripeColorB());
    }
    painter.restore();
}

CustomTableView::CustomTableView(QWidget* parent) : ZRTableView(parent)
{
    setSelectionHighlightStyle(SelectionHighlightStyleNone);
    setRowHeight(kZRStripeHeight);
    _setupHeaderCell();
    headerView()->setFixedHeight(25);
}

CustomTableView::~CustomTableView() = default;

void CustomTableView::setRowNum(int row)
{
    m_rowNum = row;
    setNeedsDisplay();
}

void CustomTableView::_setupHeaderCell()
{
    for (const auto& column : tableColumns())
        tableColumnAdded(column.get());
}

void CustomTableView::tableColumnAdded(ZRTableColumn* column)
{
    if (dynamic_cast<CustomHeaderCell*>(column->headerCell()))
        return;
    column->setHeaderCell(CustomHeaderCell::initWithCell(column->headerCell()));
}

void CustomTableView::drawRowBackground(QPainter& painter, int row, const QRect& rowRect)
{
    if (row >= 0 && row == m_rowNum)
        painter.fillRect(rowRect, ZRListColors::MarkedRowColor());
}

void CustomTableView::drawBackgroundInClipRect(QPainter& painter, const QRect&)
{
    ZRDrawStripedBackground(painter, viewport()->width(), boundsHeight(), verticalOffset());
}

void CustomTableView::changeNoValue(bool hasValue)
{
    if (hasValue) {
        delete m_noValueView.data();
        m_noValueView = nullptr;
        return;
    }
    if (m_noValueView)
        return;
    auto* note = new QWidget(viewport());
    note->setObjectName(QStringLiteral("noValueView"));
    auto* picture = new QLabel(note);
    picture->setObjectName(QStringLiteral("noValueImage"));
    picture->setScaledContents(true);
    picture->setPixmap(Bundle::ImageNamed(QStringLiteral("text_bg")));
    auto* text = new QLabel(note);
    text->setObjectName(QStringLiteral("noValueText"));
    text->setAlignment(Qt::AlignCenter);
    text->setText(Bundle::LocalizedString(QStringLiteral("DYD_FOUR_NO_VALUE_NOTE")));
    QFont font = text->font();
    font.setPixelSize(14);
    text->setFont(font);
    QPalette palette = text->palette();
    palette.setColor(QPalette::WindowText, ZRListColors::NoteTextColor());
    text->setPalette(palette);
    m_noValueView = note;
    layoutNoValueView();
    note->show();
}

void CustomTableView::layoutNoValueView()
{
    if (!m_noValueView)
        return;
    const QRect frame = viewport()->rect();
    m_noValueView->setGeometry(frame);
    if (auto* picture = m_noValueView->findChild<QLabel*>(QStringLiteral("noValueImage")))
        picture->setGeometry(QRect(QPoint(), frame.size()));
    if (auto* text = m_noValueView->findChild<QLabel*>(QStringLiteral("noValueText")))
        text->setGeometry(frame.width() / 2 - 200, frame.height() / 2, 400, 20);
}

void CustomTableView::resizeEvent(QResizeEvent* event)
{
    ZRTableView::resizeEvent(event);
    layoutNoValueView();
}
