#include "ZRDeletailLayout.h"

#include <QVariant>
#include <QWidget>

namespace {
constexpr const char* kBase = "zrFrameBase";
constexpr const char* kParentBase = "zrFrameParentBase";
constexpr const char* kMask = "zrFrameMask";

void Apply(QWidget* widget)
{
    QWidget* parent = widget->parentWidget();
    const QRect base = widget->property(kBase).toRect();
    const QSize parentBase = widget->property(kParentBase).toSize();
    const int mask = widget->property(kMask).toInt();
    const QSize now = parent ? parent->size() : parentBase;
    const int dw = now.width() - parentBase.width();
    const int dh = now.height() - parentBase.height();
    int x = base.x(), y = base.y(), w = base.width(), h = base.height();
    if ((mask & ZRFlexLeft) && (mask & ZRFlexRight))
        x += dw / 2;
    else if ((mask & ZRFlexLeft) && !(mask & ZRFlexWidth))
        x += dw;
    if (mask & ZRFlexWidth)
        w += dw;
    if (mask & ZRFlexHeight)
        h += dh;
    // Bottom-left based y to the top-down coordinates of the widget.
    widget->setGeometry(x, now.height() - y - h, w, h);
}
}  // namespace

void ZRSetFrame(QWidget* widget, int x, int y, int width, int height, int autoresizing)
{
    if (!widget)
        return;
    QWidget* parent = widget->parentWidget();
    widget->setProperty(kBase, QRect(x, y, width, height));
    widget->setProperty(kParentBase, parent ? parent->size() : QSize());
    widget->setProperty(kMask, autoresizing);
    Apply(widget);
    // Its own placed children follow its new size.
    ZRRelayout(widget);
}

QRect ZRFrame(const QWidget* widget)
{
    if (!widget)
        return {};
    const QWidget* parent = widget->parentWidget();
    const QRect g = widget->geometry();
    const int parentHeight = parent ? parent->height() : g.height();
    return QRect(g.x(), parentHeight - g.y() - g.height(), g.width(), g.height());
}

void ZRRelayout(QWidget* parent)
{
    if (!parent)
        return;
    for (QObject* child : parent->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (!widget || widget->isWindow())
            continue;
        if (widget->property(kBase).isValid())
            Apply(widget);
        ZRRelayout(widget);
    }
}
