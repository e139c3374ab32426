#include "THSearchField.h"

#include <QAction>
#include <QPainter>
#include <QPainterPath>

#include "BundleResources.h"

void THSearchFieldCell::setUp()
{
    QPixmap image = Bundle::ImageNamed(QStringLiteral("search_normal"));
    if (!image.isNull())
        image = image.scaled(16, 16, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    m_image = image;
    m_alternateImage = image;
}

void THSearchFieldCell::drawInteriorWithFrame(QPainter& painter, const QRectF& /*cellFrame*/, QWidget* controlView)
{
    if (!controlView)
        return;
    const QRectF bounds = controlView->rect();
    const qreal radius = bounds.height() / 4;
    QPainterPath path;
    path.addRoundedRect(bounds, radius, radius);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.fillPath(path, Qt::black);
    painter.restore();
}

QLineEdit* THSearchFieldCell::setUpFieldEditorAttributes(QLineEdit* editor)
{
    if (editor) {
        // The insertion point follows the text colour.
        QPalette palette = editor->palette();
        palette.setColor(QPalette::Text, Qt::white);
        editor->setPalette(palette);
    }
    return editor;
}

THSearchField::THSearchField(QWidget* parent) : QLineEdit(parent)
{
    setFrame(false);
    setAttribute(Qt::WA_TranslucentBackground, true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    setPalette(palette);
    m_cell.setUpFieldEditorAttributes(this);
    if (!m_cell.searchButtonImage().isNull())
        addAction(QIcon(m_cell.searchButtonImage()), QLineEdit::LeadingPosition);
}

void THSearchField::setCellClass(const QString&) {}

void THSearchField::paintEvent(QPaintEvent* event)
{
    {
        QPainter painter(this);
        m_cell.drawInteriorWithFrame(painter, rect(), this);
    }
    QLineEdit::paintEvent(event);
}
